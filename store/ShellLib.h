#pragma once

#include <QString>

// The desktop's standard folders, and launcher files for projects.

// The folder that holds settings for every program (XDG_CONFIG_HOME, ~/.config).
QString GetAppDataFolder();
// Start folder of the local-folder picker (~/Documents).
QString GetPersonalFolder();
// Start folder when saving a launcher (~/Desktop).
QString GetCommonDesktopFolder();

// Writes a freedesktop launcher (.desktop) to `linkFile` that runs `target` with `arguments`
// as its one argument (none when empty), creating missing folders. Returns false when the
// file could not be written; callers may ignore the result.
bool CreateShortcut(const QString &linkFile, const QString &target, const QString &arguments);

// One argument of a launcher's Exec line, quoted and escaped for the .desktop file.
QString DesktopExecArgument(const QString &argument);
