#pragma once

#include <QString>
#include <QStringList>

#include <optional>

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

// The desktop's association of project files with `program`, written for the current user
// when the program runs from a build tree or an install in the home: the application entry
// "zandrel.desktop" (with an "Upload" action and a TryExec naming `program`) and the MIME
// package for "*.zdx", then the desktop's caches are updated in the background when their
// tools exist. A program installed system-wide beside its own entry writes nothing and removes
// an entry an earlier run wrote, which would shadow the installed one. Stops at the first
// file that cannot be written or removed and returns false; callers ignore it.
bool RegisterFileAssociation(const QString &program);

// Starts `program` with `arguments` as an independent process (it outlives this one) and
// hands it `secret` as one line on its standard input, so that the secret never shows in the
// process list. The child learns of it from SecretOnStdinVariable. A project lock's descriptor
// (`lock`, when not -1) is handed down as well (TProjectLock::Adopt). False when no process
// could be started (a program that fails to run is not seen here).
bool StartWithSecretOnStdin(const QString &program, const QStringList &arguments,
                            const QString &secret, int lock = -1);
// In the child: the handed-over secret, or nothing when this process was not started so.
std::optional<QString> ReadSecretFromStdin();
extern const char *const SecretOnStdinVariable;
