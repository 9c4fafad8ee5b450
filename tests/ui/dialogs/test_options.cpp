// The project options dialog, driven through its controls as a user would.
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
#include "store/ShellLib.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/Options.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/ftpwindow/FtpWindow.h"

#include "tests/support/FtpServers.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

namespace {

// Runs Execute on `project` while `drive` works the open dialog; a drive that stops early
// (a failed assertion) cancels the dialog instead of leaving it open.
bool ExecuteWith(TProject &project, const std::function<void(TfrmOptions &)> &drive)
{
    TfrmOptions dialog;
    TModalAnswer answer([&](QWidget *) {
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        drive(dialog);
        if (dialog.isVisible())
            dialog.reject();
    });
    const bool confirmed = dialog.Execute(project);
    EXPECT_TRUE(answer.Answered());
    return confirmed;
}

void Retype(QWidget *edit, const QString &text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier); // typed text replaces the selection
    QTest::keyClicks(edit, text);
}

// Clicks a check box on its box, which is left of its caption however wide the widget is.
void Tick(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

QStringList Rows(const QListWidget *list, bool selectedOnly = false)
{
    QStringList rows;
    for (int row = 0; row < list->count(); ++row) {
        if (!selectedOnly || list->item(row)->isSelected())
            rows << list->item(row)->text();
    }
    return rows;
}

// Adds an ignore mask typed over the new row's placeholder; Enter ends the edit, not the dialog.
void AddMask(TfrmOptions &dialog, const QString &mask)
{
    QTest::mouseClick(dialog.btnAddIgnoreMask, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return qobject_cast<QLineEdit *>(QApplication::focusWidget()); }));
    auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    editor->selectAll();
    QTest::keyClicks(editor, mask);
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return Rows(dialog.lvwIgnore).contains(mask); }));
    EXPECT_TRUE(dialog.isVisible());
}

// Picks a file (typed into the name field) or a folder in the Qt file dialog that `button` opens;
// returns the folder the dialog first selected.
QString Pick(QPushButton *button, const QString &folder, const QString &file = {})
{
    QString startedIn;
    TModalAnswer pick([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_TRUE(dialog);
        startedIn = dialog->selectedFiles().value(0);
        dialog->setDirectory(folder);
        if (!file.isEmpty()) {
            dialog->findChild<QLineEdit *>("fileNameEdit")->selectAll();
            QTest::keyClicks(dialog->findChild<QLineEdit *>("fileNameEdit"), file);
        }
        QTimer::singleShot(50, dialog, [dialog] { QMetaObject::invokeMethod(dialog, "accept"); });
    });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(pick.Answered());
    button->window()->activateWindow(); // a closed dialog may leave no window active here
    EXPECT_TRUE(QTest::qWaitForWindowActive(button->window()));
    return startedIn;
}

} // namespace

TEST(OptionsDialog, CancelChangesNoValueWhateverTheControlsWereMadeToDo)
{
    QTemporaryDir temp;
    QDir().mkpath(GetPersonalFolder());
    TProject project;
    project.InitDefaults();
    EXPECT_FALSE(ExecuteWith(project, [&](TfrmOptions &dialog) {
        EXPECT_FALSE(dialog.btnFtpBrowse->isEnabled() || dialog.btnFirewallSettings->isEnabled());
        Retype(dialog.edtHost, "h");
        Retype(dialog.edtUser, "u");
        Tick(dialog.cbxProxy);
        EXPECT_TRUE(dialog.btnFtpBrowse->isEnabled() && dialog.btnFirewallSettings->isEnabled());
        Retype(dialog.edtPort, "2a1-b");
        EXPECT_EQ(dialog.edtPort->text(), "21");

        // A blank path starts the picker in the personal folder.
        Retype(dialog.edtPath, "  ");
        EXPECT_EQ(Pick(dialog.btnBrowse, temp.path(), temp.path()),
                  QDir(GetPersonalFolder()).absolutePath());
        EXPECT_EQ(dialog.edtPath->text(), temp.path());

        QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);
        EXPECT_FALSE(dialog.edtLogFile->isEnabled());
        // Alt+L is the log check box on this page (a mnemonic clicks after a short delay).
        QTest::keyClick(&dialog, Qt::Key_L, Qt::AltModifier);
        EXPECT_TRUE(WaitUntil([&] { return dialog.edtLogFile->isEnabled(); }, 5000));
        Pick(dialog.btnBrowseLogFile, temp.path(), "publish");
        EXPECT_EQ(dialog.edtLogFile->text(), temp.path() + "/publish.txt");
        QTest::keyClick(dialog.cbxSaveLog, Qt::Key_Escape);
    }));
    // Nothing but the keys the dialog read: the same as reading alone gives.
    TProject reference;
    reference.InitDefaults();
    TProjectOptions().Load(reference);
    EXPECT_EQ(project.SaveToBytes(), reference.SaveToBytes());

    // A sparse file from before the options keeps to one connection and plain FTP, and
    // cancelling adds none of the keys it lacks.
    TProject sparse;
    const QByteArray sparseBytes = "<project>\r\n<Host>\r\nh\r\n</Host>\r\n<MaxLogSize>\r\n0\r\n"
                                   "</MaxLogSize>\r\n</project>\r\n<!-- versions -->\r\n";
    sparse.LoadFromBytes(sparseBytes);
    EXPECT_FALSE(ExecuteWith(sparse, [](TfrmOptions &dialog) {
        EXPECT_EQ(dialog.edtConnections->value(), 1);
        EXPECT_EQ(Encryption(dialog.cbxEncryption), "off");
    }));
    EXPECT_EQ(sparse.SaveToBytes(), sparseBytes);
    sparse.Nodes("SafeUploadSize")->SetAsString("big"); // not a number: an error, no dialog
    TfrmOptions dialog;
    EXPECT_THROW(dialog.Execute(sparse), EStoreError);
}

TEST(OptionsDialog, OkRefusesInOrderThenSavesWhatTheCommandLineWrites)
{
    QTemporaryDir temp;
    const QString site = temp.path() + "/site";
    QDir().mkpath(site);
    WriteWholeFile(temp.path() + "/plain", "x");
    WriteWholeFile(temp.path() + "/pass", "secret\n");
    QProcess cli;
    cli.start(ZANDREL_BINARY_DIR "/app/zandrel-cli",
              QStringList{"new", "--path", site, "--password-file", temp.path() + "/pass"}
                  + QString("--host ftp.example.org --user me --port 2121 --remote-path /www "
                            "--timeout 30 --active --ignore tmp\\* --ignore a.log")
                        .split(' '));
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QString fileName = QString::fromUtf8(cli.readAllStandardOutput()).trimmed();
    cli.start(ZANDREL_BINARY_DIR "/app/zandrel-cli",
              {"set", fileName, "protect-server-changes", "on"});
    ASSERT_TRUE(cli.waitForFinished(60000) && cli.exitCode() == 0);
    const QByteArray written = ReadWholeFile(fileName);
    ASSERT_FALSE(written.isEmpty());
    ASSERT_TRUE(QFile::remove(fileName));

    enum { Path, Host, Port, User };
    const std::tuple<int, QString, QString, int> steps[] = {
        {Path, "   ", "Source path must be defined", Path},
        {Path, temp.path() + "/plain", "Source path must be exists", Path},
        {Path, "  " + site + " ", "Ftp host must be defined", Host},
        {Host, " \t", "Ftp host must be defined", Host},
        {Port, "99999", "Ftp host must be defined", Host},
        {Host, " ftp.example.org ", "Port must be a number from 1 to 65535", Port},
        {Port, "0", "Port must be a number from 1 to 65535", Port},
        {Port, "2121", "Ftp login must be defined", User},
    };
    TProject project;
    project.InitDefaults();
    ASSERT_TRUE(ExecuteWith(project, [&](TfrmOptions &dialog) {
        QLineEdit *const fields[]
            = {dialog.edtPath, dialog.edtHost, dialog.edtPort, dialog.edtUser};
        for (const auto &[field, typed, message, focusAfter] : steps) {
            SCOPED_TRACE(message.toStdString());
            Retype(fields[field], typed);
            QTest::keyClick(&dialog, Qt::Key_I, Qt::AltModifier); // OK pressed on another page
            TBoxAnswer box(QMessageBox::Ok);
            QTest::keyClick(dialog.lvwIgnore, Qt::Key_Return);
            EXPECT_EQ(box.Text, message);
            // A closed message box may leave no window active here; a desktop gives it back.
            dialog.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
            EXPECT_EQ(dialog.PageControl->currentWidget(), dialog.tshMain);
            EXPECT_TRUE(WaitUntil([&] { return fields[focusAfter]->hasFocus(); }, 5000));
        }
        QTest::keyClicks(dialog.edtUser, " me");
        Retype(dialog.edtPass, "secret");
        Retype(dialog.edtInitDir, "/www");
        Tick(dialog.cbxPassive);
        QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);
        Retype(dialog.edtTimeout, "30");
        Tick(dialog.cbxProtectServerChanges);
        QTest::keyClick(&dialog, Qt::Key_I, Qt::AltModifier);
        AddMask(dialog, "tmp\\*");
        AddMask(dialog, "a.log");
        QTest::keyClick(dialog.lvwIgnore, Qt::Key_Enter);
    }));
    project.Save(false);
    EXPECT_EQ(project.FileName, fileName);
    EXPECT_EQ(ReadWholeFile(fileName), written);
}

// SFTP moves the port from FTP's default to its own and back, and turns off what only FTP has;
// the file names the protocol only for SFTP.
TEST(OptionsDialog, SftpMovesTheDefaultPortAndTurnsOffWhatOnlyFtpHas)
{
    QTemporaryDir site;
    TProject project;
    project.InitDefaults();
    for (const auto &[key, value] : {std::pair{"Path", site.path()}, {"Host", "h"}, {"User", "u"}})
        project.Nodes(key)->SetAsString(value);
    const std::tuple<QString, Qt::Key, QString> steps[] = {
        {"21", Qt::Key_Down, "22"}, {"22", Qt::Key_Up, "21"},   {"2222", Qt::Key_Down, "2222"},
        {"21", Qt::Key_Up, "21"},   {"21", Qt::Key_Down, "22"},
    };
    ASSERT_TRUE(ExecuteWith(project, [&](TfrmOptions &dialog) {
        for (const auto &[port, key, after] : steps) {
            Retype(dialog.edtPort, port);
            QTest::keyClick(dialog.cbxProtocol, key);
            EXPECT_EQ(dialog.edtPort->text(), after) << port.toStdString();
            EXPECT_EQ(dialog.cbxPassive->isEnabled() && dialog.cbxEncryption->isEnabled(),
                      key == Qt::Key_Up);
            EXPECT_TRUE(dialog.cbxProxy->isEnabled());
        }
        QTest::keyClick(dialog.edtHost, Qt::Key_Return);
    }));
    EXPECT_EQ(project.Nodes("Protocol")->AsString(), "sftp");
    ASSERT_TRUE(ExecuteWith(project, [](TfrmOptions &dialog) {
        EXPECT_EQ(dialog.edtPort->text() + dialog.cbxProtocol->currentText(), "22SFTP (SSH)");
        EXPECT_FALSE(dialog.cbxPassive->isEnabled());
        dialog.cbxProtocol->setCurrentIndex(0);
        QTest::keyClick(dialog.edtHost, Qt::Key_Return);
    }));
    EXPECT_EQ(project.IndexOf("Protocol"), -1);
}

TEST(OptionsDialog, IgnoreRowsAreUniqueRelativeMasksWrittenBackAsIgnoreEntries)
{
    QTemporaryDir temp;
    const QString site = temp.path() + "/site";
    for (const char *file : {"/site/img/a.gif", "/site/B.TXT", "/other/b.txt", "/site2/c.css"})
        WriteWholeFile(temp.path() + QString::fromLatin1(file), "x");
    QDir().mkpath(site + "/cgi");
    TProject project;
    project.InitDefaults();
    project.Nodes("Path")->SetAsString(site);
    project.Nodes("Host")->SetAsString("h");
    project.Nodes("User")->SetAsString("u");
    // An entry the dialog does not show: it is dropped on OK.
    TXMLStore *shown = project.Nodes("Filters")->Add();
    shown->Name = "Filter";
    shown->Nodes("Mask")->SetAsString("*.HTM");
    shown->Nodes("Options")->SetAsString(":yes");

    ASSERT_TRUE(ExecuteWith(project, [&](TfrmOptions &dialog) {
        QTest::keyClick(&dialog, Qt::Key_I, Qt::AltModifier);
        QListWidget *list = dialog.lvwIgnore;
        // Folder, file (none: pick the folder), the row selected after.
        const QString picks[][3] = {
            {site + "/img", "a.gif", "img\\a.gif"},
            {temp.path() + "/other", "b.txt", "b.txt"}, // outside the source: the name alone
            {temp.path() + "/site2", "c.css", "c.css"},
            {site, "B.TXT", "b.txt"}, // the same text in other letters: its row
            {site, "", "b.txt"},      // the source folder itself adds nothing
            {site + "/cgi", "", "cgi\\*"},
        };
        for (const auto &[folder, file, selected] : picks) {
            Pick(file.isEmpty() ? dialog.btnAddIgnoreDir : dialog.btnAddIgnoreFile, folder, file);
            EXPECT_EQ(Rows(list, true), QStringList{selected}) << file.toStdString();
        }
        AddMask(dialog, "*.tmp");
        EXPECT_EQ(Rows(list),
                  QStringList({"*.bak", "*.tmp", "b.txt", "c.css", "cgi\\*", "img\\a.gif"}));

        // Delete the last two (Enter keeps them): the new last row is selected.
        list->setCurrentRow(4, QItemSelectionModel::ClearAndSelect);
        list->item(5)->setSelected(true);
        {
            TBoxAnswer enter(QMessageBox::NoButton);
            QTest::mouseClick(dialog.btnDeleteIgnore, Qt::LeftButton);
        }
        EXPECT_EQ(Rows(list).size(), 6);
        TBoxAnswer yes(QMessageBox::Yes);
        QTest::mouseClick(dialog.btnDeleteIgnore, Qt::LeftButton);
        EXPECT_EQ(yes.Text, "Remove selected?");
        EXPECT_EQ(Rows(list, true), QStringList{"c.css"});
        QTest::keyClick(list, Qt::Key_Return);
    }));
    TXMLStore *filters = project.Nodes("Filters");
    QStringList written;
    for (int i = 0; i < filters->Count(); ++i)
        written << filters->Items(i)->Nodes("Mask")->Value
                       + filters->Items(i)->Nodes("Options")->Value;
    EXPECT_EQ(written, QStringList({"*.bak:no", "*.tmp:no", "b.txt:no", "c.css:no"}));
}

TEST(OptionsDialog, BrowseListsTheTypedServerAndAsksForTheMissingPassword)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    QDir().mkpath(server->LocalPath("/www/docs"));
    TProject::PasswordPrompt = [](TProject &project, QString &password) {
        return AskForPassword(password, nullptr, &project);
    };
    TProject::CommandLineArguments = {};
    TProject project;
    project.InitDefaults();

    // No source folder: the drive cancels.
    EXPECT_FALSE(ExecuteWith(project, [&](TfrmOptions &dialog) {
        Retype(dialog.edtHost, server->Host);
        Retype(dialog.edtPort, QString::number(server->Port));
        Retype(dialog.edtUser, server->User);
        Retype(dialog.edtInitDir, "/www");
        QStringList listed;
        std::unique_ptr<TModalAnswer> pick;
        // The browse window comes after the password prompt has closed.
        TModalAnswer password(
            [&](QWidget *modal) {
                auto *prompt = qobject_cast<TfrmPasswordDlg *>(modal);
                ASSERT_TRUE(prompt);
                EXPECT_EQ(prompt->edtPassword->echoMode(), QLineEdit::Password);
                QTest::keyClicks(prompt->edtPassword, server->Password);
                pick = std::make_unique<TModalAnswer>(
                    [&](QWidget *modal) {
                        auto *window = qobject_cast<TfrmFtpWindow *>(modal);
                        ASSERT_TRUE(window);
                        ASSERT_TRUE(
                            WaitUntil([window] { return !window->Operator().Busy(); }, 60000));
                        auto *files = window->findChild<QTreeView *>("lvwFiles");
                        for (int row = 0; row < window->Model().rowCount(); ++row)
                            listed << window->Model().Text(row, 0);
                        const int docs = int(listed.indexOf("docs"));
                        ASSERT_GE(docs, 0);
                        QTest::mouseClick(
                            files->viewport(), Qt::LeftButton, {},
                            files->visualRect(window->Model().index(docs, 0)).center());
                        QTest::mouseClick(window->findChild<QPushButton *>("btnOK"),
                                          Qt::LeftButton);
                    },
                    &dialog);
                QTest::keyClick(prompt->edtPassword, Qt::Key_Return);
            },
            &dialog);
        QTest::mouseClick(dialog.btnFtpBrowse, Qt::LeftButton);
        EXPECT_TRUE(password.Answered());
        EXPECT_TRUE(pick && pick->Answered());
        EXPECT_EQ(listed, QStringList{"docs"});
        EXPECT_EQ(dialog.edtInitDir->text(), "/www/docs");
        EXPECT_TRUE(dialog.edtPass->text().isEmpty()); // the prompt's answer stays with the probe
    }));
    EXPECT_EQ(project.Nodes("RemotePath")->Value, "");
    TProject::PasswordPrompt = nullptr;
}
