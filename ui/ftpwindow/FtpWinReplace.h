#pragma once

// The FTP window's question before a download replaces an existing local file.

#include "ui/ftpwindow/FtpWinActions.h"

class QWidget;

// Names the file, shows both copies' sizes and dates and warns when the local one is newer.
// No is the default button; closing the box answers Cancel.
TReplaceAnswer AskReplaceFile(const TFtpReplaceQuestion &question, QWidget *parent);
