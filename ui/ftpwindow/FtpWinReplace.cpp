#include "ui/ftpwindow/FtpWinReplace.h"

#include "engine/FileLib.h"
#include "ui/dialogs/EditLib.h"

#include <QMessageBox>

namespace {

QString Describe(qint64 size, const QDateTime &date)
{
    const QString when = DateTimeText(date);
    return FormatSize(size) + QStringLiteral(", modified ")
           + (when.isEmpty() ? QStringLiteral("at an unknown time") : when);
}

} // namespace

TReplaceAnswer AskReplaceFile(const TFtpReplaceQuestion &question, QWidget *parent)
{
    QString text
        = QStringLiteral("The local file %1 already exists.\n\n").arg(question.LocalPath)
          + QStringLiteral("Local file:\t") + Describe(question.LocalSize, question.LocalDate)
          + QStringLiteral("\nServer file:\t") + Describe(question.RemoteSize, question.RemoteDate)
          + QStringLiteral("\n\t(%1)").arg(question.RemotePath);
    if (question.LocalNewer)
        text += question.RemoteDate.isValid()
                    ? QStringLiteral("\n\nThe local file is newer than the server's copy: "
                                     "replacing it loses its changes.")
                    : QStringLiteral("\n\nThe server's copy has no date: the local file may be "
                                     "newer, and replacing it would lose its changes.");
    text += QStringLiteral("\n\nReplace the local file with the server's copy?");

    QMessageBox box(question.LocalNewer ? QMessageBox::Warning : QMessageBox::Question,
                    QStringLiteral("Replace File"), text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll
                        | QMessageBox::NoToAll | QMessageBox::Cancel,
                    parent);
    box.setObjectName(QStringLiteral("ReplaceFileBox"));
    box.setTextFormat(Qt::PlainText); // file names are shown as they are
    box.setInformativeText(
        QStringLiteral("Yes to All replaces the local files that are not newer "
                       "than the server's copy; each newer one is asked about."));
    // Enter keeps the local file.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return TReplaceAnswer::Yes;
    case QMessageBox::No:
        return TReplaceAnswer::No;
    case QMessageBox::YesToAll:
        return TReplaceAnswer::YesToAll;
    case QMessageBox::NoToAll:
        return TReplaceAnswer::NoToAll;
    default:
        return TReplaceAnswer::Cancel;
    }
}
