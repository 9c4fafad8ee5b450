// The FTP window driven through its real controls against real servers on loopback.
#include "store/PrjCls.h"
#include "tests/support/FtpServers.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "ui/ftpwindow/FtpWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

QString WriteProject(const QString &folder, const TFtpTestServer &server, const QString &remote)
{
    TProject project;
    project.InitDefaults();
    project.Nodes(QStringLiteral("Host"))->SetAsString(server.Host);
    project.Nodes(QStringLiteral("Port"))->SetAsInteger(server.Port);
    project.Nodes(QStringLiteral("User"))->SetAsString(server.User);
    project.Nodes(QStringLiteral("RemotePath"))->SetAsString(remote);
    project.Nodes(QStringLiteral("Path"))->SetAsString(folder + QStringLiteral("/site"));
    project.FileName = folder + QStringLiteral("/test.zdx");
    project.Save(false);
    return project.FileName;
}

// A stand-alone window for a project of `server`, as "PROJECT FTPWindow PASSWORD" opens it.
class TWindowSite
{
public:
    explicit TWindowSite(std::unique_ptr<TFtpTestServer> started, const QString &remote = "/")
        : Server(std::move(started))
    {
        if (!Server)
            return;
        ProjectFile = WriteProject(Folder.path(), *Server, remote);
    }
    std::unique_ptr<TfrmFtpWindow> Open()
    {
        auto window = std::make_unique<TfrmFtpWindow>(
            nullptr, QStringList{ProjectFile, QStringLiteral("FTPWindow"), Server->Password});
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        EXPECT_TRUE(WaitIdle(*window));
        return window;
    }
    static bool WaitIdle(TfrmFtpWindow &window)
    {
        return WaitUntil([&window] { return !window.Operator().Busy(); }, 60000);
    }

    std::unique_ptr<TFtpTestServer> Server;
    QTemporaryDir Folder;
    QString ProjectFile;
};

QTreeView *ListOf(TfrmFtpWindow &window)
{
    return window.findChild<QTreeView *>(QStringLiteral("lvwFiles"));
}

QStringList Names(TfrmFtpWindow &window)
{
    QStringList names;
    for (int row = 0; row < window.Model().rowCount(); ++row)
        names << window.Model().Text(row, 0);
    return names;
}

int RowOf(TfrmFtpWindow &window, const QString &name)
{
    return int(Names(window).indexOf(name));
}

// Selects one row by clicking it, as a user would.
void ClickRow(TfrmFtpWindow &window, const QString &name, Qt::KeyboardModifiers modifiers = {})
{
    // A closed modal box may leave no window active; editors need an active window.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTreeView *list = ListOf(window);
    const int row = RowOf(window, name);
    ASSERT_GE(row, 0) << name.toStdString();
    const QRect rect = list->visualRect(window.Model().index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
}

QAction *ActionOf(TfrmFtpWindow &window, const char *name)
{
    return window.findChild<QAction *>(QString::fromLatin1(name));
}

// Takes the desktop's part in opening files: records what it was asked to open.
class TOpenedUrls : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> Urls;
    QByteArray Content;
    Q_INVOKABLE void open(const QUrl &url)
    {
        Urls << url;
        Content = ReadWholeFile(url.toLocalFile());
    }
};

using TStart = std::unique_ptr<TFtpTestServer> (*)();
std::unique_ptr<TFtpTestServer> Pyftpdlib()
{
    return StartPyftpdlib();
}
std::unique_ptr<TFtpTestServer> Vsftpd()
{
    return StartVsftpd();
}

class FtpWindowOnServers : public ::testing::TestWithParam<TStart>
{
};

} // namespace

TEST_P(FtpWindowOnServers, ListsTheRootEntersAFolderAndGoesUp)
{
    TWindowSite site(GetParam()());
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/index.html")), QByteArray(1000, 'x'));
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/docs/a.txt")), "a");
    auto window = site.Open();

    EXPECT_EQ(Names(*window), QStringList({QStringLiteral("docs"), QStringLiteral("index.html")}));
    EXPECT_EQ(window->Model().Text(0, 2), QStringLiteral("Folder"));
    EXPECT_EQ(window->Model().Text(1, 1), QStringLiteral("0.98 KB"));
    EXPECT_NE(window->Model().Text(1, 2), QStringLiteral("Folder"));
    EXPECT_EQ(window->windowTitle(),
              QStringLiteral("FTP Window - ftp://") + site.Server->Host + QStringLiteral("/"));
    auto *upper = window->findChild<QToolButton *>(QStringLiteral("tbnUpper"));
    EXPECT_FALSE(upper->isEnabled()); // a path of one character is the root
    EXPECT_FALSE(window->findChild<QToolButton *>(QStringLiteral("tbnConnect"))->isVisible());

    ClickRow(*window, QStringLiteral("docs"));
    QTest::keyClick(ListOf(*window), Qt::Key_Return);
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_EQ(window->Action().Path, QStringLiteral("/docs"));
    EXPECT_EQ(Names(*window), QStringList{QStringLiteral("a.txt")});
    EXPECT_TRUE(upper->isEnabled());
    EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral("/docs")));

    QTest::keyClick(ListOf(*window), Qt::Key_Backspace);
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_EQ(window->Action().Path, QStringLiteral("/"));
    EXPECT_EQ(Names(*window).size(), 2);

    // Double click enters as well; the status line counts and sums the rows.
    const int docs = RowOf(*window, QStringLiteral("docs"));
    const QRect rect = ListOf(*window)->visualRect(window->Model().index(docs, 0));
    // Qt Test's double click is only the second click of the pair.
    QTest::mouseClick(ListOf(*window)->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(ListOf(*window)->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_EQ(window->Action().Path, QStringLiteral("/docs"));
    QTest::mouseClick(upper, Qt::LeftButton);
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    ListOf(*window)->clearSelection();
    EXPECT_EQ(window->findChild<QLabel *>(QStringLiteral("lblStatus"))->text(),
              QStringLiteral("2 object(s)   0.98 KB"));
}

TEST_P(FtpWindowOnServers, MakesAFolderRenamesInPlaceAndDeletesANestedTree)
{
    TWindowSite site(GetParam()());
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/old.txt")), "1");
    for (const char *path : {"/t/a.txt", "/t/s1/b.txt", "/t/s1/s2/c.txt"})
        WriteWholeFile(site.Server->LocalPath(QString::fromLatin1(path)), "x");
    auto window = site.Open();

    {
        TModalAnswer answer([](QWidget *modal) {
            auto *input = qobject_cast<QInputDialog *>(modal);
            ASSERT_TRUE(input);
            EXPECT_EQ(input->windowTitle(), QStringLiteral("Make Folder"));
            EXPECT_EQ(input->labelText(), QStringLiteral("Enter the name for new folder"));
            QTest::keyClicks(input->findChild<QLineEdit *>(), QStringLiteral("  fresh  "));
            QTest::keyClick(input->findChild<QLineEdit *>(), Qt::Key_Return);
        });
        ActionOf(*window, "acnNewFolder")->trigger();
        EXPECT_TRUE(answer.Answered());
    }
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_TRUE(QFileInfo(site.Server->LocalPath(QStringLiteral("/fresh"))).isDir());
    EXPECT_TRUE(Names(*window).contains(QStringLiteral("fresh")));

    // Rename in place: F2, type, Enter. The row keeps the new text and no listing follows.
    ClickRow(*window, QStringLiteral("old.txt"));
    QTest::keyClick(ListOf(*window), Qt::Key_F2);
    QPointer<QLineEdit> editor; // a closed editor is deleted later
    ASSERT_TRUE(WaitUntil([&] {
        editor = ListOf(*window)->viewport()->findChild<QLineEdit *>();
        return editor && editor->isVisible();
    }));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("new name.txt"));
    QTest::keyClick(editor, Qt::Key_Return);
    // The editor commits from the event loop; the rename runs after that.
    ASSERT_TRUE(WaitUntil([&] {
        return QFileInfo::exists(site.Server->LocalPath(QStringLiteral("/new name.txt")));
    }));
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_TRUE(Names(*window).contains(QStringLiteral("new name.txt")));
    const QStringList log = site.Server->ProtocolLog();
    const qsizetype renameAt = log.indexOf(QRegularExpression(QStringLiteral("^RNTO .*")));
    ASSERT_GE(renameAt, 0);
    for (qsizetype i = renameAt; i < log.size(); ++i)
        EXPECT_FALSE(log[i].startsWith(QLatin1String("MLSD"))
                     || log[i].startsWith(QLatin1String("LIST")));

    // A caption of blanks keeps the old name and sends nothing.
    const qsizetype commandsBefore = site.Server->ProtocolLog().size();
    ClickRow(*window, QStringLiteral("new name.txt"));
    ActionOf(*window, "acnRename")->trigger();
    ASSERT_TRUE(WaitUntil([&] {
        editor = ListOf(*window)->viewport()->findChild<QLineEdit *>();
        return editor && editor->isVisible();
    }));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("   "));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return !editor || !editor->isVisible(); }));
    QTest::qWait(200);
    EXPECT_TRUE(Names(*window).contains(QStringLiteral("new name.txt")));
    EXPECT_EQ(site.Server->ProtocolLog().size(), commandsBefore);

    // Delete asks by name, then removes files first and the deepest folders first.
    ClickRow(*window, QStringLiteral("t"));
    {
        TBoxAnswer yes(QMessageBox::Yes);
        QTest::keyClick(ListOf(*window), Qt::Key_Delete);
        EXPECT_EQ(yes.Text, QStringLiteral("Are you sure you want to delete \"t\"?"));
    }
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_FALSE(QFileInfo::exists(site.Server->LocalPath(QStringLiteral("/t"))));
    EXPECT_FALSE(Names(*window).contains(QStringLiteral("t")));
    QStringList removals;
    for (const QString &line : site.Server->ProtocolLog()) {
        if (line.startsWith(QLatin1String("DELE")) || line.startsWith(QLatin1String("RMD")))
            removals << line;
    }
    EXPECT_EQ(removals, QStringList({"DELE /t/a.txt", "DELE /t/s1/b.txt", "DELE /t/s1/s2/c.txt",
                                     "RMD /t/s1/s2", "RMD /t/s1", "RMD t"}));

    // Several rows: asked about by count; No keeps everything.
    ListOf(*window)->selectAll();
    {
        TBoxAnswer no(QMessageBox::No);
        ActionOf(*window, "acnDelete")->trigger();
        EXPECT_EQ(no.Text, QStringLiteral("Are you sure you want to delete these 2 items?"));
    }
    EXPECT_TRUE(QFileInfo::exists(site.Server->LocalPath(QStringLiteral("/fresh"))));
}

TEST_P(FtpWindowOnServers, UploadsADroppedTreeAndDownloadsASelectedOne)
{
    TWindowSite site(GetParam()());
    ASSERT_TRUE(site.Server);
    QTemporaryDir local;
    WriteWholeFile(local.path() + QStringLiteral("/site/index.html"), "home");
    WriteWholeFile(local.path() + QStringLiteral("/site/.htaccess"), "deny");
    WriteWholeFile(local.path() + QStringLiteral("/site/img/deep/logo.png"), QByteArray(5000, 'p'));
    QDir().mkpath(local.path() + QStringLiteral("/site/empty"));
    WriteWholeFile(local.path() + QStringLiteral("/notes.txt"), "notes");
    auto window = site.Open();

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(local.path() + QStringLiteral("/site")),
                  QUrl::fromLocalFile(local.path() + QStringLiteral("/notes.txt"))});
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_EQ(TreeOf(site.Server->Root), TreeOf(local.path()));
    EXPECT_EQ(Names(*window), QStringList({QStringLiteral("site"), QStringLiteral("notes.txt")}));

    // Download the folder through the real folder picker.
    QTemporaryDir target;
    ClickRow(*window, QStringLiteral("site"));
    {
        TModalAnswer pick([&target](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            ASSERT_TRUE(dialog);
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Download to"));
            dialog->setDirectory(target.path());
            QTimer::singleShot(50, dialog,
                               [dialog] { QMetaObject::invokeMethod(dialog, "accept"); });
        });
        ActionOf(*window, "acnDownload")->trigger();
        EXPECT_TRUE(pick.Answered());
    }
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    // Only folders that hold files come back: "empty" does not.
    QMap<QString, QByteArray> expected = TreeOf(local.path() + QStringLiteral("/site"));
    expected.remove(QStringLiteral("empty/"));
    QMap<QString, QByteArray> got = TreeOf(target.path() + QStringLiteral("/site"));
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpWindowOnServers, ::testing::Values(&Pyftpdlib, &Vsftpd),
                         [](const auto &info) {
                             return std::string(info.index == 0 ? "pyftpdlib" : "vsftpd");
                         });

TEST(FtpWindow, AFailedActionShowsTheServersText)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/ghost.txt")), "1");
    auto window = site.Open();
    QFile::remove(site.Server->LocalPath(QStringLiteral("/ghost.txt")));

    ClickRow(*window, QStringLiteral("ghost.txt"));
    {
        TBoxAnswer yes(QMessageBox::Yes);
        ActionOf(*window, "acnDelete")->trigger();
    }
    TBoxAnswer warning(QMessageBox::Ok);
    ASSERT_TRUE(WaitUntil([&] { return warning.Answer.Answered(); }));
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_EQ(warning.Text, QStringLiteral("No such file or directory."));
    EXPECT_TRUE(window->Operator().Failed());
}

TEST(FtpWindow, AbortDuringALargeDownloadReturnsAtOnceAndTheNextActionConnectsAgain)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 4 * 1024 * 1024;
    TWindowSite site(StartPyftpdlib({}, options), QStringLiteral("/start/"));
    ASSERT_TRUE(site.Server);
    QDir().mkpath(site.Server->LocalPath(QStringLiteral("/start/inner")));
    {
        QFile big(site.Server->LocalPath(QStringLiteral("/start/big.bin")));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(100LL * 1024 * 1024));
    }
    auto window = site.Open();
    ClickRow(*window, QStringLiteral("inner"));
    QTest::keyClick(ListOf(*window), Qt::Key_Return);
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    ASSERT_EQ(window->Action().Path, QStringLiteral("/start/inner"));
    QTest::keyClick(ListOf(*window), Qt::Key_Backspace);
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));

    QTemporaryDir target;
    window->AskDownloadFolder = [&target] { return target.path(); };
    ClickRow(*window, QStringLiteral("big.bin"));
    ActionOf(*window, "acnDownload")->trigger();
    auto *progress = window->findChild<QProgressBar *>(QStringLiteral("ProgressBar"));
    // The window keeps painting while the worker transfers.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(10);
    ASSERT_TRUE(WaitUntil([&] { return progress->value() >= 10; }));
    EXPECT_GT(ticks, 20);
    EXPECT_TRUE(ActionOf(*window, "acnAbort")->isEnabled());
    EXPECT_FALSE(ActionOf(*window, "acnRefresh")->isEnabled());

    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(window->findChild<QToolButton *>(QStringLiteral("tbnAbort")), Qt::LeftButton);
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_FALSE(window->Operator().Busy());
    EXPECT_TRUE(ActionOf(*window, "acnRefresh")->isEnabled());
    EXPECT_EQ(Names(*window), QStringList({QStringLiteral("inner"), QStringLiteral("big.bin")}));
    EXPECT_EQ(window->Action().Path, QStringLiteral("/start/"));

    const auto logins = [&site] {
        return site.Server->ProtocolLog()
            .filter(QRegularExpression(QStringLiteral("^USER ")))
            .size();
    };
    const auto loginsBefore = logins();
    QTest::keyClick(ListOf(*window), Qt::Key_F5);
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_FALSE(window->Operator().Failed());
    EXPECT_EQ(logins(), loginsBefore + 1);
    EXPECT_EQ(window->Action().Path, QStringLiteral("/start"));
}

TEST(FtpWindow, OpeningAFileDownloadsItAndHandsItToTheDesktop)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/page.html")), "<p>hi</p>");
    auto window = site.Open();

    TOpenedUrls opened;
    // The save question would mean the desktop refused the file.
    TModalAnswer noQuestion([](QWidget *modal) { QMetaObject::invokeMethod(modal, "reject"); });
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
    ClickRow(*window, QStringLiteral("page.html"));
    QTest::keyClick(ListOf(*window), Qt::Key_Return);
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_FALSE(noQuestion.Answered());
    ASSERT_EQ(opened.Urls.size(), 1);
    EXPECT_EQ(opened.Urls[0].toLocalFile(),
              TfrmFtpWindow::TempFolder() + QStringLiteral("/page.html"));
    EXPECT_EQ(opened.Content, QByteArray("<p>hi</p>"));

    window.reset(); // closing clears the temporary folder
    EXPECT_FALSE(QFileInfo::exists(TfrmFtpWindow::TempFolder()));
}

TEST(FtpWindow, SortsFoldersFirstAndInvertsByTheSameHeader)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/b.txt")), QByteArray(300, 'b'));
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/A.txt")), QByteArray(10, 'a'));
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/c.txt")), QByteArray(20, 'c'));
    QDir().mkpath(site.Server->LocalPath(QStringLiteral("/zdir")));
    auto window = site.Open();
    EXPECT_EQ(Names(*window), QStringList({"zdir", "A.txt", "b.txt", "c.txt"}));

    QHeaderView *header = ListOf(*window)->header();
    const auto clickHeader = [header](int section) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
    };
    clickHeader(1);
    EXPECT_EQ(Names(*window), QStringList({"zdir", "A.txt", "c.txt", "b.txt"}));
    clickHeader(1); // the same column inverts: files first, largest first
    EXPECT_EQ(Names(*window), QStringList({"b.txt", "c.txt", "A.txt", "zdir"}));
    clickHeader(0);
    EXPECT_EQ(Names(*window), QStringList({"zdir", "A.txt", "b.txt", "c.txt"}));

    // An empty folder leaves every column 50 pixels wide.
    ClickRow(*window, QStringLiteral("zdir"));
    QTest::keyClick(ListOf(*window), Qt::Key_Return);
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    ASSERT_EQ(window->Model().rowCount(), 0);
    for (int column = 0; column < 4; ++column)
        EXPECT_EQ(ListOf(*window)->columnWidth(column), 50);
}

TEST(FtpWindow, ThePickerReturnsTheFolderPathAndOnlyForAFolder)
{
    auto server = StartVsftpd();
    ASSERT_TRUE(server);
    QDir().mkpath(server->LocalPath(QStringLiteral("/www/docs")));
    WriteWholeFile(server->LocalPath(QStringLiteral("/www/file.txt")), "f");
    TProject project;
    project.InitDefaults();
    project.Nodes(QStringLiteral("Host"))->SetAsString(QStringLiteral(" ") + server->Host);
    project.Nodes(QStringLiteral("Port"))->SetAsInteger(server->Port);
    project.Nodes(QStringLiteral("User"))->SetAsString(server->User);
    project.Nodes(QStringLiteral("RemotePath"))->SetAsString(QStringLiteral("/www"));
    project.SetPassword(server->Password);

    bool okWasDisabledOnAFile = false;
    TModalAnswer pick([&](QWidget *modal) {
        auto *window = qobject_cast<TfrmFtpWindow *>(modal);
        ASSERT_TRUE(window);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Browse for FTP folders"));
        ASSERT_TRUE(TWindowSite::WaitIdle(*window));
        auto *ok = window->findChild<QPushButton *>(QStringLiteral("btnOK"));
        ClickRow(*window, QStringLiteral("file.txt"));
        okWasDisabledOnAFile = !ok->isEnabled();
        ClickRow(*window, QStringLiteral("docs"));
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    QString path = QStringLiteral("unchanged");
    ASSERT_TRUE(BrowseFtpFolder(project, path));
    EXPECT_TRUE(okWasDisabledOnAFile);
    EXPECT_EQ(path, QStringLiteral("/www/docs"));
    EXPECT_FALSE(BrowseMode);

    TModalAnswer cancel([](QWidget *modal) {
        auto *window = qobject_cast<TfrmFtpWindow *>(modal);
        ASSERT_TRUE(window);
        ASSERT_TRUE(TWindowSite::WaitIdle(*window));
        QTest::keyClick(window, Qt::Key_Escape);
    });
    EXPECT_FALSE(BrowseFtpFolder(project, path));
    EXPECT_EQ(path, QStringLiteral("/www/docs"));
}

TEST(FtpWindow, PlacementAndTheViewStyleSurviveARestart)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QRect placed(120, 90, 640, 480);
    {
        TfrmFtpWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_TRUE(window.DetailsView());
        EXPECT_EQ(window.findChild<QLabel *>(QStringLiteral("lblStatus"))->text(),
                  QStringLiteral("No connection"));
        EXPECT_FALSE(ActionOf(window, "acnRefresh")->isEnabled()); // not configured
        window.setGeometry(placed);
        QTest::mouseClick(window.findChild<QToolButton *>(QStringLiteral("View")), Qt::LeftButton);
        EXPECT_FALSE(window.DetailsView());
        QTest::qWait(50);
    }
    {
        TfrmFtpWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_EQ(window.geometry(), placed);
        EXPECT_FALSE(window.DetailsView());
        window.showMaximized();
        QTest::qWait(50);
    }
    {
        TfrmFtpWindow window;
        EXPECT_TRUE(window.windowState() & Qt::WindowMaximized);
        window.showNormal();
        EXPECT_EQ(window.normalGeometry().size(), placed.size());
    }
}

TEST(FtpWindow, WithoutAProjectFileConnectAsksForTheServerAndLists)
{
    auto server = StartVsftpd();
    ASSERT_TRUE(server);
    QDir().mkpath(server->LocalPath(QStringLiteral("/pub/inside")));
    TfrmFtpWindow window(nullptr,
                         {QStringLiteral("/nowhere/missing.zdx"), QStringLiteral("FTPWindow")});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto *connect = window.findChild<QToolButton *>(QStringLiteral("tbnConnect"));
    ASSERT_TRUE(connect->isVisible());
    EXPECT_FALSE(ActionOf(window, "acnRefresh")->isEnabled());
    EXPECT_FALSE(ActionOf(window, "acnUpload")->isEnabled());
    EXPECT_FALSE(window.acceptDrops() && ActionOf(window, "acnUpload")->isEnabled());

    QStringList defaults;
    TModalAnswer fill([&](QWidget *modal) {
        auto edit = [modal](const char *name) {
            return modal->findChild<QLineEdit *>(QString::fromLatin1(name));
        };
        ASSERT_TRUE(edit("edtServerName"));
        EXPECT_EQ(modal->windowTitle(), QStringLiteral("Connection settings"));
        auto *port = modal->findChild<QAbstractSpinBox *>(QStringLiteral("edtServerPort"));
        defaults << edit("edtServerName")->text() << port->text() << edit("edtUserName")->text()
                 << edit("edtPassword")->text() << edit("edtInitinalPath")->text();
        const auto retype = [](QLineEdit *line, const QString &text) {
            line->selectAll();
            QTest::keyClick(line, Qt::Key_Backspace);
            QTest::keyClicks(line, text);
        };
        retype(edit("edtServerName"), server->Host);
        retype(port->findChild<QLineEdit *>(), QString::number(server->Port));
        retype(edit("edtUserName"), server->User);
        retype(edit("edtPassword"), server->Password);
        retype(edit("edtInitinalPath"), QStringLiteral("/pub"));
        QTest::mouseClick(modal->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    QTest::mouseClick(connect, Qt::LeftButton);
    ASSERT_TRUE(fill.Answered());
    EXPECT_EQ(defaults, QStringList({"localhost", "21", "admin", "vrund", "ftptest"}));
    ASSERT_TRUE(TWindowSite::WaitIdle(window));
    EXPECT_FALSE(window.Operator().Failed());
    EXPECT_EQ(window.Action().Path, QStringLiteral("/pub"));
    EXPECT_EQ(Names(window), QStringList{QStringLiteral("inside")});
    EXPECT_TRUE(ActionOf(window, "acnUpload")->isEnabled());
}

TEST(FtpWindow, AFileTheDesktopCannotOpenLeadsToTheSaveQuestion)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Server->LocalPath(QStringLiteral("/data.xyz")), "payload");
    auto window = site.Open();
    // The offscreen platform opens nothing, like a desktop without a matching application.
    QTemporaryDir saved;
    QString suggested;
    window->AskSaveFile = [&](const QString &name) {
        suggested = name;
        return saved.path() + QStringLiteral("/copy.xyz");
    };
    {
        TBoxAnswer yes(QMessageBox::Yes);
        ClickRow(*window, QStringLiteral("data.xyz"));
        QTest::keyClick(ListOf(*window), Qt::Key_Return);
        ASSERT_TRUE(WaitUntil([&] { return yes.Answer.Answered(); }));
        EXPECT_EQ(
            yes.Text,
            QStringLiteral("Not to manage automatically to open file. Do you want save file?"));
    }
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    EXPECT_EQ(suggested, QStringLiteral("data.xyz"));
    EXPECT_EQ(ReadWholeFile(saved.path() + QStringLiteral("/copy.xyz")), QByteArray("payload"));

    // No: the copy stays in the temporary folder until the window closes.
    {
        TBoxAnswer no(QMessageBox::No);
        QTest::keyClick(ListOf(*window), Qt::Key_Return);
        ASSERT_TRUE(WaitUntil([&] { return no.Answer.Answered(); }));
    }
    ASSERT_TRUE(TWindowSite::WaitIdle(*window));
    const QString temporary = TfrmFtpWindow::TempFolder() + QStringLiteral("/data.xyz");
    EXPECT_TRUE(QFileInfo::exists(temporary));
    window.reset();
    EXPECT_FALSE(QFileInfo::exists(temporary));
}

TEST(FtpWindow, ClosingWhileAnActionRunsAsksFirst)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 1024 * 1024;
    TWindowSite site(StartPyftpdlib({}, options));
    ASSERT_TRUE(site.Server);
    {
        QFile big(site.Server->LocalPath(QStringLiteral("/big.bin")));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(50LL * 1024 * 1024));
    }
    auto window = site.Open();
    QTemporaryDir target;
    window->AskDownloadFolder = [&target] { return target.path(); };
    ClickRow(*window, QStringLiteral("big.bin"));
    ActionOf(*window, "acnDownload")->trigger();
    ASSERT_TRUE(window->Operator().Busy());
    {
        TBoxAnswer no(QMessageBox::No);
        window->close();
        EXPECT_EQ(no.Text, QStringLiteral("Operation is not complete. Abort?"));
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->Operator().Busy());
    {
        TBoxAnswer yes(QMessageBox::Yes);
        window->close();
        EXPECT_TRUE(yes.Answer.Answered());
    }
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Operator().Busy());
}

#include "test_ftp_window.moc"
