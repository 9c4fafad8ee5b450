// The project organizer, driven through its list and buttons.
#include "store/PrjCls.h"
#include "store/ShellLib.h"
#include "ui/dialogs/ProjectOrganizer.h"

#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

// Stands in for the desktop's handler of file URLs.
class TOpenedUrls : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> Urls;
public slots:
    void Open(const QUrl &url) { Urls << url; }
};

namespace {

class Organizer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ProjectsFolder()).removeRecursively();
        QDir().mkpath(ProjectsFolder());
    }

    static QString AddProject(const QString &title, const QString &host, const QString &user)
    {
        TProject project;
        project.InitDefaults();
        project.Nodes("Host")->SetAsString(host);
        project.Nodes("User")->SetAsString(user);
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
        Dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Dialog.get()));
    }

    QStringList Rows() const
    {
        QStringList rows;
        QTreeWidget *list = Dialog->lvwProjects;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *row = list->topLevelItem(i);
            rows << row->text(0) + "|" + row->text(1) + "|" + row->text(2);
        }
        return rows;
    }

    QString Selected() const
    {
        const QList<QTreeWidgetItem *> selected = Dialog->lvwProjects->selectedItems();
        return selected.isEmpty() ? QString() : selected.first()->text(0);
    }

    void ClickRow(const QString &caption)
    {
        QTreeWidget *list = Dialog->lvwProjects;
        const QList<QTreeWidgetItem *> found = list->findItems(caption, Qt::MatchExactly, 0);
        ASSERT_EQ(found.size(), 1) << caption.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(found.first()).center());
    }

    // Click, Delete, and `answer` to the question; returns the question's text.
    QString DeleteRow(const QString &caption, QMessageBox::StandardButton answer)
    {
        ClickRow(caption);
        TBoxAnswer box(answer);
        QTest::keyClick(Dialog->lvwProjects, Qt::Key_Delete);
        return box.Text;
    }

    // F2, the new name typed over the old, Enter; returns the refusal's text, if any.
    QString Rename(const QString &caption, const QString &newName)
    {
        Dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(Dialog.get()));
        ClickRow(caption);
        QTest::keyClick(Dialog->lvwProjects, Qt::Key_F2);
        EXPECT_TRUE(
            WaitUntil([] { return qobject_cast<QLineEdit *>(QApplication::focusWidget()); }));
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        if (!editor)
            return "no editor";
        editor->selectAll();
        QTest::keyClicks(editor, newName);
        TBoxAnswer box(QMessageBox::Ok);
        QTest::keyClick(editor, Qt::Key_Return);
        WaitUntil([&] { return box.Answer.Answered(); }, 500);
        return box.Text;
    }

    std::unique_ptr<TfrmProjectOrganizer> Dialog;
};

} // namespace

TEST_F(Organizer, ListsTheProjectsSortedWithSiteAndLoginAndSelectsTheOpenOne)
{
    AddProject("beta", "ftp.b.org", "bob");
    const QString alpha = AddProject("Alpha", "ftp.a.org", "ann");
    AddProject("gamma", "ftp.c.org", "cy");
    WriteWholeFile(ProjectsFolder() + "broken.zdx", "<project><Host>"); // still listed
    Open(alpha);
    EXPECT_EQ(Rows(), QStringList({"Alpha|ftp.a.org|ann", "beta|ftp.b.org|bob", "broken||",
                                   "gamma|ftp.c.org|cy"}));
    EXPECT_EQ(Selected(), "Alpha");

    Dialog.reset();
    Open(ProjectsFolder() + "none.zdx"); // not listed: the first row
    EXPECT_EQ(Selected(), "Alpha");
}

TEST_F(Organizer, DeleteAsksAndSelectsTheRowAtThePlaceOrTheLastRow)
{
    const QString open = AddProject("a", "h", "u");
    AddProject("b", "h", "u");
    AddProject("c", "h", "u");
    Open(open);

    EXPECT_EQ(DeleteRow("c", QMessageBox::No), "Do you want to delete \"c\" project?");
    EXPECT_TRUE(QFile::exists(ProjectsFolder() + "c.zdx"));
    {
        TBoxAnswer yes(QMessageBox::Yes);
        QTest::mouseClick(Dialog->btnDelete, Qt::LeftButton);
        EXPECT_TRUE(yes.Answer.Answered());
    }
    EXPECT_FALSE(QFile::exists(ProjectsFolder() + "c.zdx"));
    EXPECT_EQ(Rows(), QStringList({"a|h|u", "b|h|u"}));
    EXPECT_EQ(Selected(), "b");

    // The main window's open project is not deleted behind its back.
    Dialog->activateWindow();
    ClickRow("a");
    {
        TBoxAnswer refused(QMessageBox::Ok);
        QTest::mouseClick(Dialog->btnDelete, Qt::LeftButton);
        EXPECT_EQ(refused.Text, "The project \"a\" is open and can not be deleted");
    }
    EXPECT_TRUE(QFile::exists(open));

    // Deleting the only row leaves nothing selected and the buttons off.
    Dialog.reset();
    Open();
    DeleteRow("b", QMessageBox::Yes);
    DeleteRow("a", QMessageBox::Yes);
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_EQ(Selected(), "");
    EXPECT_FALSE(Dialog->btnDelete->isEnabled());
    EXPECT_FALSE(Dialog->btnRename->isEnabled());
    EXPECT_FALSE(Dialog->btnCreateShortcut->isEnabled());
    EXPECT_TRUE(Dialog->btnOpenProjectsFolder->isEnabled());
}

TEST_F(Organizer, RenameRefusesWhatWouldLoseOrMisplaceAFileAndKeepsBlanks)
{
    const QString open = AddProject("open", "h", "u");
    AddProject("taken", "h", "u");
    const QString site = AddProject("site", "ftp.s.org", "sam");
    Open(open);

    const std::pair<QString, QString> refusals[] = {
        {"  ", "The project name must be defined"},
        {"taken", "The project \"taken\" already exists"},
        {"../away", "The project name can not contain \"/\""},
    };
    for (const auto &[name, message] : refusals) {
        EXPECT_EQ(Rename("site", name), message);
        EXPECT_TRUE(QFile::exists(site));
        EXPECT_TRUE(Rows().contains("site|ftp.s.org|sam"));
    }
    EXPECT_EQ(Rename("open", "other"), "The project \"open\" is open and can not be renamed");
    EXPECT_TRUE(QFile::exists(open));

    // Unchanged text is no rename; blanks are kept as typed; the row moves to its place.
    EXPECT_EQ(Rename("site", "site"), "");
    EXPECT_EQ(Rename("site", " a site "), "");
    EXPECT_FALSE(QFile::exists(site));
    EXPECT_TRUE(QFile::exists(ProjectsFolder() + " a site .zdx"));
    EXPECT_EQ(Rows().first(), " a site |ftp.s.org|sam");
    // The row follows its file: a second rename moves the new file.
    EXPECT_EQ(Rename(" a site ", "b"), "");
    EXPECT_TRUE(QFile::exists(ProjectsFolder() + "b.zdx"));
    EXPECT_EQ(QDir(ProjectsFolder()).entryList(QDir::Files).size(), 3);
}

TEST_F(Organizer, CreateShortcutWritesALauncherThatStartsTheProgramWithTheProject)
{
    EXPECT_EQ(WithShortcutExtension("/d/site"), "/d/site.desktop");
    EXPECT_EQ(WithShortcutExtension("/d/site.DESKTOP"), "/d/site.DESKTOP");
    EXPECT_EQ(WithShortcutExtension("/d/site.lnk"), "/d/site.lnk.desktop");

    const QString project = AddProject("my site", "h", "u");
    QDir().mkpath(GetCommonDesktopFolder());
    Open();
    const QString launcher = GetCommonDesktopFolder() + "/my site.desktop";
    const auto save = [this](const std::function<void(QFileDialog *)> &answer) {
        TModalAnswer pick([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            ASSERT_TRUE(dialog);
            answer(dialog);
        });
        QTest::mouseClick(Dialog->btnCreateShortcut, Qt::LeftButton);
        EXPECT_TRUE(pick.Answered());
    };
    save([](QFileDialog *dialog) {
        EXPECT_EQ(QDir(dialog->directory()).absolutePath(),
                  QDir(GetCommonDesktopFolder()).absolutePath());
        EXPECT_EQ(dialog->findChild<QLineEdit *>("fileNameEdit")->text(), "my site");
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    const QByteArray written = ReadWholeFile(launcher);
    const QByteArray exec
        = "Exec=" + DesktopExecArgument(QCoreApplication::applicationFilePath()).toUtf8() + " "
          + DesktopExecArgument(project).toUtf8() + "\n";
    EXPECT_TRUE(written.contains(exec)) << written.toStdString();
    EXPECT_TRUE(written.contains("\"" + project.toUtf8() + "\"")); // quoted: it holds a blank

    // An existing launcher is replaced only on Yes; No keeps the dialog open.
    WriteWholeFile(launcher, "old");
    save([&](QFileDialog *dialog) {
        QString question;
        TModalAnswer no(
            [&](QWidget *box) {
                question = qobject_cast<QMessageBox *>(box)->text();
                qobject_cast<QMessageBox *>(box)->button(QMessageBox::No)->click();
            },
            dialog);
        QMetaObject::invokeMethod(dialog, "accept");
        EXPECT_TRUE(WaitUntil([&] { return no.Answered(); }, 5000));
        EXPECT_EQ(question, launcher + " already exists. Do you want to replace it?");
        EXPECT_TRUE(dialog->isVisible());
        dialog->reject();
    });
    EXPECT_EQ(ReadWholeFile(launcher), "old");
}

TEST_F(Organizer, ProjectsFolderAsksTheDesktopToOpenItAndEscCloses)
{
    AddProject("a", "h", "u");
    Open();
    TOpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "Open");
    QTest::mouseClick(Dialog->btnOpenProjectsFolder, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(opened.Urls, QList<QUrl>{QUrl::fromLocalFile(ProjectsFolder())});

    QTest::keyClick(Dialog->lvwProjects, Qt::Key_Escape);
    EXPECT_EQ(Dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(Dialog->isVisible());
}

#include "test_organizer.moc"
