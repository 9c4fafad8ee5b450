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
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
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
    TModalAnswer answer([&](QWidget *modal) {
        ASSERT_EQ(modal, &dialog);
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

// Replaces an edit's whole text by typing.
void Retype(QWidget *edit, const QString &text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void ShowPage(TfrmOptions &dialog, Qt::Key mnemonic)
{
    QTest::keyClick(&dialog, mnemonic, Qt::AltModifier);
}

// A closed message box may leave no window active here; a desktop gives the focus back.
void Reactivate(QWidget &window)
{
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}

// Clicks a check box on its box, which is left of its caption however wide the widget is.
void Tick(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

QStringList Rows(const QListWidget *list)
{
    QStringList rows;
    for (int row = 0; row < list->count(); ++row)
        rows << list->item(row)->text();
    return rows;
}

QStringList SelectedRows(const QListWidget *list)
{
    QStringList rows;
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->isSelected())
            rows << list->item(row)->text();
    }
    return rows;
}

void ClickRow(QListWidget *list, int row, Qt::KeyboardModifiers modifiers = {})
{
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
}

// Picks a file (typed into the name field) or a folder in the Qt file dialog that the next
// click opens.
TModalAnswer PickInFileDialog(const QString &folder, const QString &file = {})
{
    return TModalAnswer([folder, file](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_TRUE(dialog);
        dialog->setDirectory(folder);
        if (!file.isEmpty()) {
            auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
            ASSERT_TRUE(name);
            QTest::keyClicks(name, file);
        }
        QTimer::singleShot(50, dialog, [dialog] { QMetaObject::invokeMethod(dialog, "accept"); });
    });
}

// A project as the main window's "New" gives it to the dialog.
void MakeNew(TProject &project)
{
    project.Clear();
    project.InitDefaults();
}

QString Value(TProject &project, const QString &key)
{
    return project.Nodes(key)->Value;
}

} // namespace

TEST(OptionsDialog, ANewProjectOpensWithTheDefaultsAndCancelChangesNoValue)
{
    TProject project;
    MakeNew(project);
    const bool confirmed = ExecuteWith(project, [](TfrmOptions &dialog) {
        EXPECT_EQ(dialog.PageControl->currentWidget(), dialog.tshMain);
        EXPECT_EQ(SelectedRows(dialog.lvwIgnore), QStringList{"*.bak"});
        EXPECT_EQ(Encryption(dialog.cbxEncryption), "auto");
        // Enabled states follow the controls.
        EXPECT_FALSE(dialog.btnFtpBrowse->isEnabled());
        EXPECT_FALSE(dialog.btnFirewallSettings->isEnabled());
        EXPECT_FALSE(dialog.edtLogFile->isEnabled());
        EXPECT_TRUE(dialog.edtSafeUploadSize->isEnabled());
        Retype(dialog.edtHost, "h");
        Retype(dialog.edtUser, "u");
        EXPECT_TRUE(dialog.btnFtpBrowse->isEnabled());
        Tick(dialog.cbxProxy);
        EXPECT_TRUE(dialog.btnFirewallSettings->isEnabled());
        ShowPage(dialog, Qt::Key_S);
        EXPECT_EQ(dialog.PageControl->currentWidget(), dialog.tshSettings);
        EXPECT_EQ(dialog.edtConnections->value(), NewProjectConnections);
        Tick(dialog.cbxSaveLog);
        EXPECT_TRUE(dialog.edtLogFile->isEnabled());
        EXPECT_TRUE(dialog.lblMaxLogSizeKB->isEnabled());
        Tick(dialog.cbxSafeUpload);
        EXPECT_TRUE(dialog.edtSafeUploadSize->isEnabled());
        QTest::keyClick(dialog.cbxSaveLog, Qt::Key_Escape);
    });
    EXPECT_FALSE(confirmed);

    // Nothing but the keys the dialog read: the same as reading alone gives.
    TProject reference;
    MakeNew(reference);
    TProjectOptions().Load(reference);
    EXPECT_EQ(project.SaveToBytes(), reference.SaveToBytes());

    // A sparse file: values stay, and cancelling adds none of the keys it lacks.
    TProject sparse;
    const QByteArray sparseBytes = "<project>\r\n<Host>\r\nh\r\n</Host>\r\n<MaxLogSize>\r\n7\r\n"
                                   "</MaxLogSize>\r\n</project>\r\n<!-- versions -->\r\n";
    sparse.LoadFromBytes(sparseBytes);
    EXPECT_FALSE(ExecuteWith(sparse, [](TfrmOptions &dialog) {
        EXPECT_EQ(dialog.edtHost->text(), "h");
        // A project from before the options keeps to one connection and plain FTP.
        EXPECT_EQ(dialog.edtConnections->value(), 1);
        EXPECT_EQ(Encryption(dialog.cbxEncryption), "off");
        QTest::keyClick(dialog.edtHost, Qt::Key_Escape);
    }));
    EXPECT_EQ(Value(sparse, "Host"), "h");
    for (const char *mode : {"implicit", "require"}) {
        TProject stored;
        stored.LoadFromBytes(QByteArray("<project>\r\n<Encryption>\r\n") + mode
                             + "\r\n</Encryption>\r\n</project>\r\n");
        EXPECT_FALSE(ExecuteWith(stored, [mode](TfrmOptions &dialog) {
            EXPECT_EQ(Encryption(dialog.cbxEncryption), mode);
            QTest::keyClick(dialog.edtHost, Qt::Key_Escape);
        }));
    }
    EXPECT_EQ(Value(sparse, "MaxLogSize"), "7");
    EXPECT_EQ(sparse.SaveToBytes(), sparseBytes);
}

TEST(OptionsDialog, OkRefusesInOrderAndFocusesTheFieldOnTheFirstPage)
{
    QTemporaryDir temp;
    const QString site = temp.path() + "/site";
    QDir().mkpath(site);
    WriteWholeFile(temp.path() + "/plain", "x");
    TProject project;
    MakeNew(project);

    struct TStep
    {
        QLineEdit *TfrmOptions::*Field;
        QString Typed;
        QString Message;
    };
    const TStep steps[] = {
        {&TfrmOptions::edtPath, "   ", "Source path must be defined"},
        {&TfrmOptions::edtPath, temp.path() + "/plain", "Source path must be exists"},
        {&TfrmOptions::edtPath, "  " + site + " ", "Ftp host must be defined"},
        {&TfrmOptions::edtHost, " \t", "Ftp host must be defined"},
        {&TfrmOptions::edtPort, "99999", "Ftp host must be defined"},
        {&TfrmOptions::edtHost, " ftp.example.org ", "Port must be a number from 1 to 65535"},
        {&TfrmOptions::edtPort, "0", "Port must be a number from 1 to 65535"},
        {&TfrmOptions::edtPort, "21", "Ftp login must be defined"},
    };
    const bool confirmed = ExecuteWith(project, [&](TfrmOptions &dialog) {
        QLineEdit *focusAfter[] = {dialog.edtPath, dialog.edtPath, dialog.edtHost, dialog.edtHost,
                                   dialog.edtHost, dialog.edtPort, dialog.edtPort, dialog.edtUser};
        int index = 0;
        for (const TStep &step : steps) {
            SCOPED_TRACE(step.Message.toStdString());
            Retype(dialog.*step.Field, step.Typed);
            ShowPage(dialog, Qt::Key_I); // OK is pressed on another page
            ASSERT_EQ(dialog.PageControl->currentWidget(), dialog.tshIgnoreList);
            TBoxAnswer box(QMessageBox::Ok);
            QTest::keyClick(dialog.lvwIgnore, Qt::Key_Return);
            EXPECT_TRUE(box.Answer.Answered());
            EXPECT_EQ(box.Text, step.Message);
            Reactivate(dialog);
            EXPECT_EQ(dialog.PageControl->currentWidget(), dialog.tshMain);
            EXPECT_TRUE(WaitUntil([&] { return focusAfter[index]->hasFocus(); }, 5000));
            ++index;
        }
        // The refusals trimmed the fields; the login is empty, so Browse is off.
        EXPECT_EQ(dialog.edtPath->text(), site);
        EXPECT_EQ(dialog.edtHost->text(), "ftp.example.org");
        EXPECT_FALSE(dialog.btnFtpBrowse->isEnabled());
        QTest::keyClicks(dialog.edtUser, " me");
        QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(Value(project, "Path"), site);
    EXPECT_EQ(Value(project, "Host"), "ftp.example.org");
    EXPECT_EQ(Value(project, "User"), "me");
}

TEST(OptionsDialog, IgnoreRowsAreUniqueRelativeMasksWrittenBackAsIgnoreEntries)
{
    QTemporaryDir temp;
    const QString site = temp.path() + "/site";
    for (const char *file : {"/site/img/a.gif", "/site/B.TXT", "/other/b.txt", "/site2/c.css"})
        WriteWholeFile(temp.path() + QString::fromLatin1(file), "x");
    QDir().mkpath(site + "/cgi");
    TProject project;
    MakeNew(project);
    project.Nodes("Path")->SetAsString(site);
    project.Nodes("Host")->SetAsString("h");
    project.Nodes("User")->SetAsString("u");
    // An entry the dialog does not show: it is dropped on OK.
    TXMLStore *shown = project.Nodes("Filters")->Add();
    shown->Name = "Filter";
    shown->Nodes("Mask")->SetAsString("*.HTM");
    shown->Nodes("Options")->SetAsString(":yes");

    const bool confirmed = ExecuteWith(project, [&](TfrmOptions &dialog) {
        ShowPage(dialog, Qt::Key_I);
        QListWidget *list = dialog.lvwIgnore;
        {
            auto pick = PickInFileDialog(site + "/img", "a.gif");
            QTest::mouseClick(dialog.btnAddIgnoreFile, Qt::LeftButton);
        }
        {
            auto pick = PickInFileDialog(temp.path() + "/other", "b.txt");
            QTest::mouseClick(dialog.btnAddIgnoreFile, Qt::LeftButton);
        }
        {
            auto pick = PickInFileDialog(temp.path() + "/site2", "c.css");
            QTest::mouseClick(dialog.btnAddIgnoreFile, Qt::LeftButton);
        }
        EXPECT_EQ(Rows(list), QStringList({"*.bak", "b.txt", "c.css", "img\\a.gif"}));
        // The same text in other letters selects the row it matches.
        {
            auto pick = PickInFileDialog(site, "B.TXT");
            QTest::mouseClick(dialog.btnAddIgnoreFile, Qt::LeftButton);
        }
        EXPECT_EQ(Rows(list), QStringList({"*.bak", "b.txt", "c.css", "img\\a.gif"}));
        EXPECT_EQ(SelectedRows(list), QStringList{"b.txt"});
        {
            auto pick = PickInFileDialog(site); // the source folder itself adds nothing
            QTest::mouseClick(dialog.btnAddIgnoreDir, Qt::LeftButton);
        }
        EXPECT_EQ(list->count(), 4);
        {
            auto pick = PickInFileDialog(site + "/cgi");
            QTest::mouseClick(dialog.btnAddIgnoreDir, Qt::LeftButton);
        }
        EXPECT_EQ(SelectedRows(list), QStringList{"cgi\\*"});

        // A new mask is typed over its placeholder.
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        QTest::mouseClick(dialog.btnAddIgnoreMask, Qt::LeftButton);
        ASSERT_TRUE(
            WaitUntil([] { return qobject_cast<QLineEdit *>(QApplication::focusWidget()); }));
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        EXPECT_EQ(editor->text(), "--------");
        QTest::keyClicks(editor, "*.tmp");
        QTest::keyClick(editor, Qt::Key_Return); // ends the edit, not the dialog
        ASSERT_TRUE(WaitUntil([&] { return Rows(list).contains("*.tmp"); }));
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(Rows(list),
                  QStringList({"*.bak", "*.tmp", "b.txt", "c.css", "cgi\\*", "img\\a.gif"}));

        // Delete the last two: the new last row is selected.
        ClickRow(list, 4);
        ClickRow(list, 5, Qt::ShiftModifier);
        {
            TBoxAnswer no(QMessageBox::No);
            QTest::keyClick(list, Qt::Key_Delete);
            EXPECT_EQ(no.Text, "Remove selected?");
        }
        EXPECT_EQ(list->count(), 6);
        {
            TBoxAnswer yes(QMessageBox::Yes);
            QTest::mouseClick(dialog.btnDeleteIgnore, Qt::LeftButton);
            EXPECT_TRUE(yes.Answer.Answered());
        }
        EXPECT_EQ(Rows(list), QStringList({"*.bak", "*.tmp", "b.txt", "c.css"}));
        EXPECT_EQ(SelectedRows(list), QStringList{"c.css"});
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(SelectedRows(list).size(), 4);
        QTest::keyClick(list, Qt::Key_Return);
    });
    ASSERT_TRUE(confirmed);
    TXMLStore *filters = project.Nodes("Filters");
    QStringList written;
    for (int i = 0; i < filters->Count(); ++i)
        written << filters->Items(i)->Name + "=" + filters->Items(i)->Nodes("Mask")->Value + "|"
                       + filters->Items(i)->Nodes("Options")->Value;
    EXPECT_EQ(written, QStringList({"Filter=*.bak|:no", "Filter=*.tmp|:no", "Filter=b.txt|:no",
                                    "Filter=c.css|:no"}));
}

TEST(OptionsDialog, ConfirmedOnANewProjectItSavesWhatTheCommandLineWrites)
{
    QTemporaryDir temp;
    const QString site = temp.path() + "/site";
    QDir().mkpath(site);
    WriteWholeFile(temp.path() + "/pass", "secret\n");
    QProcess cli;
    cli.start(ZANDREL_BINARY_DIR "/app/zandrel-cli", {"new",
                                                      "--path",
                                                      site,
                                                      "--host",
                                                      " 127.0.0.1",
                                                      "--user",
                                                      "me",
                                                      "--port",
                                                      "2121",
                                                      "--remote-path",
                                                      "/www",
                                                      "--timeout",
                                                      "30",
                                                      "--active",
                                                      "--password-file",
                                                      temp.path() + "/pass",
                                                      "--ignore",
                                                      "tmp\\*",
                                                      "--ignore",
                                                      "a.log"});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QString fileName = QString::fromUtf8(cli.readAllStandardOutput()).trimmed();
    const QByteArray written = ReadWholeFile(fileName);
    ASSERT_FALSE(written.isEmpty());
    ASSERT_TRUE(QFile::remove(fileName));

    TProject project;
    MakeNew(project);
    const bool confirmed = ExecuteWith(project, [&](TfrmOptions &dialog) {
        Retype(dialog.edtPath, site);
        Retype(dialog.edtHost, " 127.0.0.1");
        Retype(dialog.edtPort, "2121");
        Retype(dialog.edtUser, "me");
        Retype(dialog.edtPass, "secret");
        Retype(dialog.edtInitDir, "/www");
        Tick(dialog.cbxPassive);
        ShowPage(dialog, Qt::Key_S);
        Retype(dialog.edtTimeout, "30");
        ShowPage(dialog, Qt::Key_I);
        for (const QString mask : {"tmp\\*", "a.log"}) {
            QTest::mouseClick(dialog.btnAddIgnoreMask, Qt::LeftButton);
            ASSERT_TRUE(
                WaitUntil([] { return qobject_cast<QLineEdit *>(QApplication::focusWidget()); }));
            QWidget *editor = QApplication::focusWidget();
            QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(editor, mask);
            QTest::keyClick(editor, Qt::Key_Return);
            ASSERT_TRUE(WaitUntil([&] { return Rows(dialog.lvwIgnore).contains(mask); }));
        }
        QTest::keyClick(dialog.lvwIgnore, Qt::Key_Enter);
    });
    ASSERT_TRUE(confirmed);
    project.Save(false);
    EXPECT_EQ(project.FileName, fileName);
    EXPECT_EQ(ReadWholeFile(fileName), written);
}

TEST(OptionsDialog, ThePickersStartWhereTheyShouldAndFillTheirFields)
{
    QTemporaryDir temp;
    const QString site = temp.path() + "/site";
    QDir().mkpath(site);
    QDir().mkpath(GetPersonalFolder());
    TProject project;
    MakeNew(project);
    project.Nodes("SaveLog")->SetAsBoolean(true);
    ExecuteWith(project, [&](TfrmOptions &dialog) {
        Retype(dialog.edtPath, "  ");
        QString startedIn, title;
        {
            TModalAnswer pick([&](QWidget *modal) {
                auto *picker = qobject_cast<QFileDialog *>(modal);
                ASSERT_TRUE(picker);
                title = picker->windowTitle();
                startedIn = picker->selectedFiles().value(0); // the folder it selects
                auto *name = picker->findChild<QLineEdit *>("fileNameEdit");
                ASSERT_TRUE(name);
                name->selectAll();
                QTest::keyClicks(name, site);
                QTimer::singleShot(50, picker,
                                   [picker] { QMetaObject::invokeMethod(picker, "accept"); });
            });
            QTest::mouseClick(dialog.btnBrowse, Qt::LeftButton);
        }
        EXPECT_EQ(title, "Select the path for uploading");
        EXPECT_EQ(startedIn, QDir(GetPersonalFolder()).absolutePath()); // a blank path
        EXPECT_EQ(dialog.edtPath->text(), site);

        ShowPage(dialog, Qt::Key_S);
        {
            auto pick = PickInFileDialog(temp.path(), "publish");
            QTest::mouseClick(dialog.btnBrowseLogFile, Qt::LeftButton);
        }
        EXPECT_EQ(dialog.edtLogFile->text(), temp.path() + "/publish.txt");
    });
}

TEST(OptionsDialog, TheDigitsOnlyPortAndTheNumericFieldsKeepTheirBounds)
{
    TProject project;
    MakeNew(project);
    project.Nodes("MaxLogSize")->SetAsString("0");
    ExecuteWith(project, [](TfrmOptions &dialog) {
        Retype(dialog.edtPort, "2a1-b");
        EXPECT_EQ(dialog.edtPort->text(), "21");
        QTest::keyClicks(dialog.edtPort, "21212121");
        EXPECT_EQ(dialog.edtPort->text(), "212121"); // six characters at most
        ShowPage(dialog, Qt::Key_S);
        EXPECT_EQ(dialog.edtMaxLogSize->Value(), 1); // its minimum, whatever the text
        Retype(dialog.edtTimeout, "1234567");
        EXPECT_EQ(dialog.edtTimeout->text(), "12345");
        Retype(dialog.edtTimeout, "0");
        EXPECT_EQ(dialog.edtTimeout->Value(), 1);
        // Alt+L is the log check box on this page (a mnemonic clicks after a short delay).
        QTest::keyClick(&dialog, Qt::Key_L, Qt::AltModifier);
        EXPECT_TRUE(WaitUntil([&] { return dialog.cbxSaveLog->isChecked(); }, 5000));
    });

    // A stored size that is not a number stops the dialog before it shows.
    project.Nodes("SafeUploadSize")->SetAsString("big");
    TfrmOptions dialog;
    EXPECT_THROW(dialog.Execute(project), EStoreError);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(OptionsDialog, BrowseListsTheTypedServerAndAsksForTheMissingPassword)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    QDir().mkpath(server->LocalPath("/www/docs"));
    TProject::PasswordPrompt = [](QString &password) { return AskForPassword(password); };
    TProject::CommandLineArguments = {};
    TProject project;
    MakeNew(project);

    const bool confirmed = ExecuteWith(project, [&](TfrmOptions &dialog) {
        Retype(dialog.edtHost, server->Host);
        Retype(dialog.edtPort, QString::number(server->Port));
        Retype(dialog.edtUser, server->User);
        Retype(dialog.edtInitDir, "/www");
        TModalAnswer password(
            [&](QWidget *modal) {
                auto *prompt = qobject_cast<TfrmPasswordDlg *>(modal);
                ASSERT_TRUE(prompt);
                QTest::keyClicks(prompt->edtPassword, server->Password);
                QTest::keyClick(prompt->edtPassword, Qt::Key_Return);
            },
            &dialog);
        QStringList listed;
        std::unique_ptr<TModalAnswer> pick;
        // The browse window comes after the password prompt has closed.
        QTimer waitForPrompt;
        QObject::connect(&waitForPrompt, &QTimer::timeout, [&] {
            if (!password.Answered() || pick)
                return;
            pick = std::make_unique<TModalAnswer>(
                [&](QWidget *modal) {
                    auto *window = qobject_cast<TfrmFtpWindow *>(modal);
                    ASSERT_TRUE(window);
                    ASSERT_TRUE(WaitUntil([window] { return !window->Operator().Busy(); }, 60000));
                    QTreeView *files = window->findChild<QTreeView *>("lvwFiles");
                    ASSERT_TRUE(files);
                    for (int row = 0; row < window->Model().rowCount(); ++row)
                        listed << window->Model().Text(row, 0);
                    const int docs = int(listed.indexOf("docs"));
                    ASSERT_GE(docs, 0);
                    QTest::mouseClick(files->viewport(), Qt::LeftButton, {},
                                      files->visualRect(window->Model().index(docs, 0)).center());
                    QTest::mouseClick(window->findChild<QPushButton *>("btnOK"), Qt::LeftButton);
                },
                &dialog);
        });
        waitForPrompt.start(10);
        QTest::mouseClick(dialog.btnFtpBrowse, Qt::LeftButton);
        EXPECT_TRUE(password.Answered());
        EXPECT_TRUE(pick && pick->Answered());
        EXPECT_EQ(listed, QStringList{"docs"});
        EXPECT_EQ(dialog.edtInitDir->text(), "/www/docs");
        EXPECT_TRUE(dialog.edtPass->text().isEmpty()); // the prompt's answer stays with the probe
    });
    EXPECT_FALSE(confirmed); // no source folder: the drive cancelled
    EXPECT_EQ(Value(project, "RemotePath"), "");
    TProject::PasswordPrompt = nullptr;
}
