#pragma once

#include <QIcon>
#include <QString>

// Icons of both windows. The desktop's theme draws them when it has them; otherwise the Breeze
// icons compiled into the program do (the fallback theme "zandrel-fallback", set up when the
// application object is made), so no name comes out blank or as a grey style placeholder.

// An action's icon: drawn dimmed and grey when disabled, whatever the icon's own colours, so
// an enabled button never looks off and a disabled one never looks on.
QIcon ThemeIcon(const QString &name);

// The icon of a file's kind by its MIME type (name only, the file is not read): the type's own
// icon, its generic one (text, image, audio ...), else a plain file.
QIcon FileTypeIcon(const QString &fileName);

// A folder, closed or open.
QIcon FolderIcon(bool open = false);

// Makes the fallback theme known to Qt's icon loader; done once, before any icon is looked up.
void SetUpFallbackIcons();
