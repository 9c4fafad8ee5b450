// The project organizer, driven through its list and buttons.
#include "store/PrjCls.h"
#include "store/ShellLib.h"
#include "ui/dialogs/ProjectOrganizer.h"

#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

namespace {

class Organizer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ProjectsFolder()).removeRecursively();
        QDir().mkpath(ProjectsFolder());
    }

    static QString AddProject(const QString &title, const QString &host = "h",
                              const QString &user = "u", const QString &port = "21",
                              const QString &local = "", const QString &remote = "")
    {
        TProject project;
        project.InitDefaults();
        for (const auto &[key, value] : {std::pair{"Host", host},
                                         {"User", user},
                                         {"Port", port},
                                         {"Path", local},
                                         {"RemotePath", remote}})
            project.Nodes(key)->SetAsString(value);
        project.FileName = ProjectsFolder() + title + ".zdx";
        project.Save(false);
        return project.FileName;
    }

    // The dialog shown and active, as it is when the user works it.
    void Open(const QString &currentProject = {})
    {
        Dialog = std::make_unique<TfrmProjectOrganizer>();
        Dialog->CurrentProject = currentProject;
        Dialog->FillList();
        Dialog->show();
    }

    QStringList Rows(bool selectedOnly = false) const
    {
        QStringList rows;
        for (QTreeWidgetItem *row : Dialog->lvwProjects->findItems("*", Qt::MatchWildcard)) {
            QStringList columns;
            for (int column = 0; column < row->columnCount(); ++column)
                columns << row->text(column);
            if (!selectedOnly || row->isSelected())
                rows << columns.join('|');
        }
        return rows;
    }
    QString Selected() const { return Rows(true).value(0).section('|', 0, 0); }

    // Clicks the row and presses `key` (F2: types `name` into the editor, then Enter); answers
    // the message box that shows, if any, and returns its text.
    QString Press(const QString &caption, Qt::Key key, QMessageBox::StandardButton answer,
                  const QString &name = {})
    {
        Dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(Dialog.get()));
        QTreeWidget *list = Dialog->lvwProjects;
        const QList<QTreeWidgetItem *> found = list->findItems(caption, Qt::MatchExactly, 0);
        if (found.size() != 1)
            return "no row " + caption;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(found.first()).center());
        // NoButton takes the default, as Enter would; a box without the button gets its first.
        QString text;
        TModalAnswer box([&](QWidget *modal) {
            auto *shown = qobject_cast<QMessageBox *>(modal);
            text = shown->text();
            QAbstractButton *button = answer ? shown->button(answer) : shown->defaultButton();
            (button ? button : shown->buttons().first())->click();
        });
        QTest::keyClick(list, key);
        if (key == Qt::Key_F2) {
            QLineEdit *editor = nullptr;
            EXPECT_TRUE(WaitUntil(
                [&] { return editor = qobject_cast<QLineEdit *>(QApplication::focusWidget()); }));
            editor->selectAll();
            QTest::keyClicks(editor, name);
            QTest::keyClick(editor, Qt::Key_Return);
        }
        WaitUntil([&] { return box.Answered(); }, 500);
        return text;
    }
    QString Rename(const QString &caption, const QString &name)
    {
        return Press(caption, Qt::Key_F2, QMessageBox::Ok, name);
    }

    std::unique_ptr<TfrmProjectOrganizer> Dialog;
};

} // namespace

TEST_F(Organizer, DeleteAndRenameNeverLoseOrMisplaceAFile)
{
    const QString open = AddProject("open");
    AddProject("beta", "fd00::b", "bob");
    const QString site = AddProject("Site", "ftp.s.org", "sam", "2121", "/home/sam/site", "/www");
    AddProject("taken");
    WriteWholeFile(ProjectsFolder() + "broken.zdx", "<project><Host>"); // still listed
    Open(open);
    // Projects of one login told apart by port and folders; an IPv6 address in brackets.
    EXPECT_EQ(Rows(),
              QStringList({"beta|[fd00::b]:21|bob||", "broken||||", "open|h:21|u||",
                           "Site|ftp.s.org:2121|sam|/home/sam/site|/www", "taken|h:21|u||"}));
    EXPECT_EQ(Selected(), "open");

    // Delete asks (Enter keeps the file), then selects the row at the place or the last row.
    EXPECT_EQ(Press("taken", Qt::Key_Delete, QMessageBox::NoButton),
              "Do you want to delete \"taken\" project?");
    EXPECT_TRUE(QFile::exists(ProjectsFolder() + "taken.zdx"));
    Press("taken", Qt::Key_Delete, QMessageBox::Yes);
    EXPECT_FALSE(QFile::exists(ProjectsFolder() + "taken.zdx"));
    EXPECT_EQ(Selected(), "Site");
    Press("beta", Qt::Key_Delete, QMessageBox::Yes);
    EXPECT_EQ(Selected(), "broken");
    EXPECT_EQ(Press("open", Qt::Key_Delete, QMessageBox::Yes),
              "The project \"open\" is open and can not be deleted");
    EXPECT_TRUE(QFile::exists(open));

    const std::pair<QString, QString> refusals[] = {
        {"  ", "The project name must be defined"},
        {"broken", "The project \"broken\" already exists"},
        {"../away", "The project name can not contain \"/\""},
    };
    for (const auto &[name, message] : refusals) {
        EXPECT_EQ(Rename("Site", name), message);
        EXPECT_TRUE(QFile::exists(site));
    }
    EXPECT_EQ(Rename("open", "other"), "The project \"open\" is open and can not be renamed");

    // Unchanged text is no rename; blanks are kept as typed; the row moves to its place and
    // follows its file.
    EXPECT_EQ(Rename("Site", "Site"), "");
    EXPECT_EQ(Rename("Site", " a site "), "");
    EXPECT_EQ(Rows().first(), " a site |ftp.s.org:2121|sam|/home/sam/site|/www");
    EXPECT_EQ(Rename(" a site ", "b"), "");
    EXPECT_EQ(QDir(ProjectsFolder()).entryList(QDir::Files),
              QStringList({"b.zdx", "broken.zdx", "open.zdx"}));

    // With no row left, the row buttons are off.
    Open();
    for (const QString caption : {"b", "broken", "open"})
        Press(caption, Qt::Key_Delete, QMessageBox::Yes);
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_FALSE(Dialog->btnDelete->isEnabled() || Dialog->btnRename->isEnabled()
                 || Dialog->btnCreateShortcut->isEnabled());
}

TEST_F(Organizer, CreateShortcutWritesALauncherThatStartsTheProgramWithTheProject)
{
    const QString project = AddProject("my site");
    const QString launcher = GetCommonDesktopFolder() + "/my site.desktop";
    WriteWholeFile(launcher, "old");
    Open();
    // An existing launcher is replaced only on Yes; Enter (No) keeps the save dialog open.
    QString question;
    TModalAnswer pick([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->findChild<QLineEdit *>("fileNameEdit")->text(), "my site");
        for (const auto answer : {QMessageBox::NoButton, QMessageBox::Yes}) {
            TModalAnswer box(
                [&](QWidget *box) {
                    auto *message = qobject_cast<QMessageBox *>(box);
                    question = message->text();
                    (answer ? message->button(answer) : message->defaultButton())->click();
                },
                dialog);
            QMetaObject::invokeMethod(dialog, "accept");
            EXPECT_TRUE(WaitUntil([&] { return box.Answered(); }, 5000));
            EXPECT_EQ(ReadWholeFile(launcher), "old"); // not yet written
            EXPECT_EQ(dialog->isVisible(), answer != QMessageBox::Yes);
        }
    });
    QTest::mouseClick(Dialog->btnCreateShortcut, Qt::LeftButton);
    EXPECT_TRUE(pick.Answered());
    EXPECT_EQ(question, launcher + " already exists. Do you want to replace it?");
    const QByteArray written = ReadWholeFile(launcher);
    const QByteArray exec
        = "Exec=" + DesktopExecArgument(QCoreApplication::applicationFilePath()).toUtf8() + " "
          + DesktopExecArgument(project).toUtf8() + "\n";
    EXPECT_TRUE(written.contains(exec)) << written.toStdString();
    EXPECT_TRUE(written.contains("\"" + project.toUtf8() + "\"")); // quoted: it holds a blank
}
