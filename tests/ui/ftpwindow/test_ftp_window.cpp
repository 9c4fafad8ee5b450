// The FTP window driven through its real controls against real servers on loopback.
#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "tests/support/FtpServers.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "ui/dialogs/EditLib.h"
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

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A new project publishing to `remote` on `server`.
void ConfigureFor(TProject &project, const TFtpTestServer &server, const QString &remote)
{
    project.InitDefaults();
    project.Nodes("Host")->SetAsString(server.Host);
    project.Nodes("Port")->SetAsInteger(server.Port);
    project.Nodes("User")->SetAsString(server.User);
    project.Nodes("RemotePath")->SetAsString(remote);
}

QString WriteProject(const QString &folder, const TFtpTestServer &server, const QString &remote)
{
    TProject project;
    ConfigureFor(project, server, remote);
    project.Nodes("Path")->SetAsString(folder + "/site");
    project.FileName = folder + "/test.zdx";
    project.Save(false);
    return project.FileName;
}

bool Idle(TfrmFtpWindow &window)
{
    return WaitUntil([&window] { return !window.Operator().Busy(); }, 60000);
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
            nullptr, QStringList{ProjectFile, "FTPWindow", Server->Password});
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        EXPECT_TRUE(Idle(*window));
        return window;
    }
    void Put(const char *path, const QByteArray &data = "x")
    {
        WriteWholeFile(Server->LocalPath(QString::fromLatin1(path)), data);
    }
    // A sparse file of `size` bytes, for transfers long enough to interrupt.
    void Big(const char *path, qint64 size)
    {
        QFile big(Server->LocalPath(QString::fromLatin1(path)));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(size));
    }

    std::unique_ptr<TFtpTestServer> Server;
    QTemporaryDir Folder;
    QString ProjectFile;
};

QTreeView *ListOf(TfrmFtpWindow &window)
{
    return window.findChild<QTreeView *>("lvwFiles");
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

// Click on the row, then Enter: opens a folder or a file.
void EnterRow(TfrmFtpWindow &window, const QString &name)
{
    ClickRow(window, name);
    QTest::keyClick(ListOf(window), Qt::Key_Return);
}

// Types `text` over the caption in the list's in-place editor once it shows, then Enter; the
// editor, or null when none showed.
QPointer<QLineEdit> TypeCaption(TfrmFtpWindow &window, const QString &text)
{
    QPointer<QLineEdit> editor; // a closed editor is deleted later
    if (!WaitUntil([&] {
            editor = ListOf(window)->viewport()->findChild<QLineEdit *>();
            return editor && editor->isVisible();
        }))
        return nullptr;
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    return editor;
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

// Writes `data` to `path` and dates it `modified`.
void WriteDated(const QString &path, const QByteArray &data, const QDateTime &modified)
{
    WriteWholeFile(path, data);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite)
                && file.setFileTime(modified, QFileDevice::FileModificationTime));
}

// Answers every replace question of a download by the local file it names (the file's name
// maps to a button; NoButton presses Enter) and keeps the questions asked.
class TReplaceAnswers
{
public:
    explicit TReplaceAnswers(QMap<QString, QMessageBox::StandardButton> answers)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this, answers] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box->objectName() != "ReplaceFileBox" || !box->isVisible() || box == m_last)
                return;
            m_last = box;
            const QString name
                = QFileInfo(box->text().section('\n', 0, 0).section(' ', 3, -3)).fileName();
            Asked << name;
            Texts << box->text();
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            EXPECT_EQ(box->buttons().size(), 5);
            const auto button = answers.value(name, QMessageBox::Cancel);
            if (button == QMessageBox::NoButton)
                QTest::keyClick(box, Qt::Key_Return);
            else
                box->button(button)->click();
        });
        m_timer.start();
    }
    QStringList Asked;
    QStringList Texts;

private:
    QTimer m_timer;
    QPointer<QMessageBox> m_last;
};

using TStart = std::unique_ptr<TFtpTestServer> (*)();

class FtpWindowOnServers : public ::testing::TestWithParam<TStart>
{
};

} // namespace

TEST_P(FtpWindowOnServers, ListsTheRootEntersAFolderAndGoesUp)
{
    TWindowSite site(GetParam()());
    ASSERT_TRUE(site.Server);
    site.Put("/index.html", QByteArray(1000, 'x'));
    site.Put("/docs/a.txt");
    auto window = site.Open();

    EXPECT_EQ(Names(*window), QStringList({"docs", "index.html"}));
    auto *upper = window->findChild<QToolButton *>("tbnUpper");
    EXPECT_FALSE(upper->isEnabled()); // a path of one character is the root

    EnterRow(*window, "docs");
    ASSERT_TRUE(Idle(*window));
    EXPECT_EQ(window->Action().Path, "/docs");
    EXPECT_EQ(Names(*window), QStringList{"a.txt"});
    EXPECT_TRUE(upper->isEnabled());

    QTest::keyClick(ListOf(*window), Qt::Key_Backspace);
    ASSERT_TRUE(Idle(*window));
    EXPECT_EQ(window->Action().Path, "/");
    EXPECT_EQ(Names(*window).size(), 2);

    // Double click enters as well; the status line counts and sums the rows.
    const int docs = RowOf(*window, "docs");
    const QRect rect = ListOf(*window)->visualRect(window->Model().index(docs, 0));
    // Qt Test's double click is only the second click of the pair.
    QTest::mouseClick(ListOf(*window)->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(ListOf(*window)->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_TRUE(Idle(*window));
    EXPECT_EQ(window->Action().Path, "/docs");
    QTest::mouseClick(upper, Qt::LeftButton);
    ASSERT_TRUE(Idle(*window));
    ListOf(*window)->clearSelection();
    EXPECT_EQ(window->findChild<QLabel *>("lblStatus")->text(), "2 object(s)   0.98 KB");
}

TEST_P(FtpWindowOnServers, MakesAFolderRenamesInPlaceAndDeletesANestedTree)
{
    TWindowSite site(GetParam()());
    ASSERT_TRUE(site.Server);
    for (const char *path : {"/old.txt", "/t/a.txt", "/t/s1/b.txt", "/t/s1/s2/c.txt"})
        site.Put(path);
    auto window = site.Open();

    {
        TModalAnswer answer([](QWidget *modal) {
            auto *input = qobject_cast<QInputDialog *>(modal);
            ASSERT_TRUE(input);
            QTest::keyClicks(input->findChild<QLineEdit *>(), "  fresh  ");
            QTest::keyClick(input->findChild<QLineEdit *>(), Qt::Key_Return);
        });
        ActionOf(*window, "acnNewFolder")->trigger();
        EXPECT_TRUE(answer.Answered());
    }
    ASSERT_TRUE(Idle(*window));
    EXPECT_TRUE(QFileInfo(site.Server->LocalPath("/fresh")).isDir());
    EXPECT_TRUE(Names(*window).contains(QStringLiteral("fresh")));

    // Rename in place: F2, type, Enter. The row keeps the new text and no listing follows.
    ClickRow(*window, "old.txt");
    QTest::keyClick(ListOf(*window), Qt::Key_F2);
    ASSERT_TRUE(TypeCaption(*window, "new name.txt"));
    // The editor commits from the event loop; the rename runs after that.
    ASSERT_TRUE(
        WaitUntil([&] { return QFileInfo::exists(site.Server->LocalPath("/new name.txt")); }));
    ASSERT_TRUE(Idle(*window));
    EXPECT_TRUE(Names(*window).contains(QStringLiteral("new name.txt")));
    const QStringList log = site.Server->ProtocolLog();
    const qsizetype renameAt = log.indexOf(QRegularExpression("^RNTO .*"));
    ASSERT_GE(renameAt, 0);
    for (qsizetype i = renameAt; i < log.size(); ++i)
        EXPECT_FALSE(log[i].startsWith(QLatin1String("MLSD"))
                     || log[i].startsWith(QLatin1String("LIST")));

    // A caption of blanks keeps the old name and sends nothing.
    const qsizetype commandsBefore = site.Server->ProtocolLog().size();
    ClickRow(*window, "new name.txt");
    ActionOf(*window, "acnRename")->trigger();
    const QPointer<QLineEdit> editor = TypeCaption(*window, "   ");
    ASSERT_TRUE(editor);
    ASSERT_TRUE(WaitUntil([&] { return !editor || !editor->isVisible(); }));
    QTest::qWait(200);
    EXPECT_TRUE(Names(*window).contains(QStringLiteral("new name.txt")));
    EXPECT_EQ(site.Server->ProtocolLog().size(), commandsBefore);

    // Delete asks by name; the order of the removals is the worker's, tested on its own.
    ClickRow(*window, "t");
    {
        TBoxAnswer yes(QMessageBox::Yes);
        QTest::keyClick(ListOf(*window), Qt::Key_Delete);
        EXPECT_EQ(yes.Text, QStringLiteral("Are you sure you want to delete \"t\"?"));
    }
    ASSERT_TRUE(Idle(*window));
    EXPECT_FALSE(QFileInfo::exists(site.Server->LocalPath("/t")));
    EXPECT_FALSE(Names(*window).contains(QStringLiteral("t")));

    // Several rows: asked about by count; No keeps everything.
    ListOf(*window)->selectAll();
    {
        TBoxAnswer no(QMessageBox::No);
        ActionOf(*window, "acnDelete")->trigger();
        EXPECT_EQ(no.Text, "Are you sure you want to delete these 2 items?");
    }
    EXPECT_TRUE(QFileInfo::exists(site.Server->LocalPath("/fresh")));
}

TEST_P(FtpWindowOnServers, UploadsADroppedTreeAndDownloadsASelectedOne)
{
    TWindowSite site(GetParam()());
    ASSERT_TRUE(site.Server);
    QTemporaryDir local;
    WriteWholeFile(local.path() + "/site/index.html", "home");
    WriteWholeFile(local.path() + "/site/.htaccess", "deny");
    WriteWholeFile(local.path() + "/site/img/deep/logo.png", QByteArray(5000, 'p'));
    QDir().mkpath(local.path() + "/site/empty");
    WriteWholeFile(local.path() + "/notes.txt", "notes");
    auto window = site.Open();

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(local.path() + "/site"),
                  QUrl::fromLocalFile(local.path() + "/notes.txt")});
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(Idle(*window));
    EXPECT_EQ(TreeOf(site.Server->Root), TreeOf(local.path()));
    EXPECT_EQ(Names(*window), QStringList({"site", "notes.txt"}));

    // Download the folder through the real folder picker.
    QTemporaryDir target;
    ClickRow(*window, "site");
    {
        TModalAnswer pick([&target](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            ASSERT_TRUE(dialog);
            dialog->setDirectory(target.path());
            QTimer::singleShot(50, dialog,
                               [dialog] { QMetaObject::invokeMethod(dialog, "accept"); });
        });
        ActionOf(*window, "acnDownload")->trigger();
        EXPECT_TRUE(pick.Answered());
    }
    ASSERT_TRUE(Idle(*window));
    // Only folders that hold files come back: "empty" does not.
    QMap<QString, QByteArray> expected = TreeOf(local.path() + "/site");
    expected.remove(QStringLiteral("empty/"));
    EXPECT_EQ(TreeOf(target.path() + "/site"), expected);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpWindowOnServers,
                         ::testing::Values<TStart>(
                             +[] { return StartPyftpdlib(); }, +[] { return StartVsftpd(); }),
                         [](const auto &info) {
                             return std::string(info.index == 0 ? "pyftpdlib" : "vsftpd");
                         });

TEST(FtpWindow, AbortDuringALargeDownloadReturnsAtOnceAndTheNextActionConnectsAgain)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 4 * 1024 * 1024;
    TWindowSite site(StartPyftpdlib({}, options), "/start/");
    ASSERT_TRUE(site.Server);
    QDir().mkpath(site.Server->LocalPath("/start/inner"));
    site.Big("/start/big.bin", 100LL * 1024 * 1024);
    auto window = site.Open();
    EnterRow(*window, "inner");
    ASSERT_TRUE(Idle(*window));
    ASSERT_EQ(window->Action().Path, "/start/inner");
    QTest::keyClick(ListOf(*window), Qt::Key_Backspace);
    ASSERT_TRUE(Idle(*window));

    QTemporaryDir target;
    window->AskDownloadFolder = [&target] { return target.path(); };
    ClickRow(*window, "big.bin");
    ActionOf(*window, "acnDownload")->trigger();
    auto *progress = window->findChild<QProgressBar *>("ProgressBar");
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
    QTest::mouseClick(window->findChild<QToolButton *>("tbnAbort"), Qt::LeftButton);
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_FALSE(window->Operator().Busy());
    EXPECT_TRUE(ActionOf(*window, "acnRefresh")->isEnabled());
    EXPECT_EQ(Names(*window), QStringList({"inner", "big.bin"}));
    EXPECT_EQ(window->Action().Path, "/start/");

    const auto logins = [&site] {
        return site.Server->ProtocolLog().filter(QRegularExpression("^USER ")).size();
    };
    const auto loginsBefore = logins();
    QTest::keyClick(ListOf(*window), Qt::Key_F5);
    ASSERT_TRUE(Idle(*window));
    EXPECT_FALSE(window->Operator().Failed());
    EXPECT_EQ(logins(), loginsBefore + 1);
    EXPECT_EQ(window->Action().Path, "/start");

    // Closing while an action runs asks first: No keeps the window and the transfer.
    ClickRow(*window, "big.bin");
    ActionOf(*window, "acnDownload")->trigger();
    ASSERT_TRUE(window->Operator().Busy());
    {
        TBoxAnswer no(QMessageBox::No);
        window->close();
        EXPECT_EQ(no.Text, "Operation is not complete. Abort?");
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

TEST(FtpWindow, OpensFilesThroughTheDesktopOrOffersToSaveAndShowsAFailure)
{
    // Another user ("nobody") made the old shared folder first, with a file of the same name in
    // it: the window neither uses it nor writes into it.
    const QString planted = GetTempDir() + "/FTPWinTemp";
    WriteWholeFile(planted + "/page.html", "planted");
    const QByteArray plantedPath = planted.toLocal8Bit();
    ASSERT_EQ(::chown(plantedPath.constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(plantedPath.constData(), 0777), 0);
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    site.Put("/page.html", "<p>hi</p>");
    site.Put("/data.xyz", "payload");
    site.Put("/ghost.txt");
    auto window = site.Open();

    // A failed action shows the server's text.
    QFile::remove(site.Server->LocalPath("/ghost.txt"));
    ClickRow(*window, "ghost.txt");
    {
        TBoxAnswer yes(QMessageBox::Yes);
        ActionOf(*window, "acnDelete")->trigger();
    }
    {
        TBoxAnswer warning(QMessageBox::Ok);
        ASSERT_TRUE(WaitUntil([&] { return warning.Answer.Answered(); }));
        ASSERT_TRUE(Idle(*window));
        EXPECT_EQ(warning.Text, "No such file or directory.");
        EXPECT_TRUE(window->Operator().Failed());
    }

    TOpenedUrls opened;
    {
        // The save question would mean the desktop refused the file.
        TModalAnswer noQuestion([](QWidget *modal) { QMetaObject::invokeMethod(modal, "reject"); });
        QDesktopServices::setUrlHandler("file", &opened, "open");
        EnterRow(*window, "page.html");
        ASSERT_TRUE(Idle(*window));
        QDesktopServices::unsetUrlHandler("file");
        EXPECT_FALSE(noQuestion.Answered());
    }
    ASSERT_EQ(opened.Urls.size(), 1);
    const QString folder = window->TempFolder();
    EXPECT_EQ(opened.Urls[0].toLocalFile(), folder + "/page.html");
    EXPECT_EQ(opened.Content, QByteArray("<p>hi</p>"));
    EXPECT_NE(folder, planted);
    struct stat info = {};
    ASSERT_EQ(::stat(folder.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, ::getuid());
    EXPECT_EQ(ReadWholeFile(planted + "/page.html"), "planted");

    // The offscreen platform opens nothing, like a desktop without a matching application.
    QTemporaryDir saved;
    QString suggested;
    window->AskSaveFile = [&](const QString &name) {
        suggested = name;
        return saved.path() + "/copy.xyz";
    };
    {
        TBoxAnswer yes(QMessageBox::Yes);
        EnterRow(*window, "data.xyz");
        ASSERT_TRUE(WaitUntil([&] { return yes.Answer.Answered(); }));
        EXPECT_EQ(yes.Text, "Not to manage automatically to open file. Do you want save file?");
    }
    ASSERT_TRUE(Idle(*window));
    EXPECT_EQ(suggested, "data.xyz");
    EXPECT_EQ(ReadWholeFile(saved.path() + "/copy.xyz"), QByteArray("payload"));

    // No: the copy stays in the temporary folder until the window closes.
    {
        TBoxAnswer no(QMessageBox::No);
        QTest::keyClick(ListOf(*window), Qt::Key_Return);
        ASSERT_TRUE(WaitUntil([&] { return no.Answer.Answered(); }));
    }
    ASSERT_TRUE(Idle(*window));
    EXPECT_TRUE(QFileInfo::exists(folder + "/data.xyz"));
    window.reset(); // closing removes the temporary folder with what is in it
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(QDir(planted).entryList(QDir::Files), QStringList{"page.html"});
}

TEST(FtpWindow, DownloadAsksBeforeReplacingALocalFileAndNeverReplacesANewerOneUnasked)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime serverDate = now.addSecs(-3600), older = now.addSecs(-7200);
    for (const char *name : {"a", "b", "c", "d", "e", "f", "g"})
        WriteDated(site.Server->LocalPath(QStringLiteral("/%1.txt").arg(name)),
                   QByteArray("server ") + name, serverDate);
    // Local copies: d holds edits newer than the server's copy; f and g are not there.
    QTemporaryDir target;
    const auto local = [&target](const QString &name) { return target.path() + "/" + name; };
    for (const char *name : {"a", "b", "c", "e"})
        WriteDated(local(QStringLiteral("%1.txt").arg(name)), QByteArray("local ") + name, older);
    WriteDated(local("d.txt"), "local edits of d", now);
    auto window = site.Open();
    window->AskDownloadFolder = [&target] { return target.path(); };

    struct TStep
    {
        QStringList Selected;
        QMap<QString, QMessageBox::StandardButton> Answers;
        QStringList Asked;
    };
    const auto download = [&](const TStep &step) {
        ListOf(*window)->clearSelection();
        for (const QString &name : step.Selected)
            ClickRow(*window, name, Qt::ControlModifier);
        TReplaceAnswers answers(step.Answers);
        ActionOf(*window, "acnDownload")->trigger();
        EXPECT_TRUE(Idle(*window));
        EXPECT_FALSE(window->Operator().Failed());
        EXPECT_EQ(answers.Asked, step.Asked) << step.Selected.join(' ').toStdString();
        return answers.Texts;
    };
    const auto content = [&](const char *name) { return ReadWholeFile(local(name)); };

    // Enter answers No: the file stays byte for byte. The question names both copies.
    const QStringList texts = download({{"a.txt"}, {{"a.txt", QMessageBox::NoButton}}, {"a.txt"}});
    EXPECT_EQ(content("a.txt"), "local a");
    ASSERT_EQ(texts.size(), 1);
    for (const QString &part :
         {local("a.txt"), QStringLiteral("/a.txt"), QStringLiteral("7 byte"),
          QStringLiteral("8 byte"), DateTimeText(older), DateTimeText(serverDate)})
        EXPECT_TRUE(texts[0].contains(part)) << part.toStdString() << "\n"
                                             << texts[0].toStdString();
    EXPECT_FALSE(texts[0].contains("newer"));

    download({{"a.txt"}, {{"a.txt", QMessageBox::Yes}}, {"a.txt"}});
    EXPECT_EQ(content("a.txt"), "server a");

    // Yes to All covers c but not the newer d, asked again; its No to All then keeps e.
    const QStringList newer
        = download({{"b.txt", "c.txt", "d.txt", "e.txt", "f.txt"},
                    {{"b.txt", QMessageBox::YesToAll}, {"d.txt", QMessageBox::NoToAll}},
                    {"b.txt", "d.txt"}});
    ASSERT_EQ(newer.size(), 2);
    EXPECT_TRUE(newer[1].contains("newer than the server's copy"));
    EXPECT_EQ(content("b.txt"), "server b");
    EXPECT_EQ(content("c.txt"), "server c");
    EXPECT_EQ(content("d.txt"), "local edits of d");
    EXPECT_EQ(content("e.txt"), "local e");
    EXPECT_EQ(content("f.txt"), "server f");

    // Cancel stops the download where it stands and keeps what came before.
    WriteDated(site.Server->LocalPath("/c.txt"), "server c, second", serverDate);
    download({{"c.txt", "d.txt", "g.txt"},
              {{"c.txt", QMessageBox::Yes}, {"d.txt", QMessageBox::Cancel}},
              {"c.txt", "d.txt"}});
    EXPECT_EQ(content("c.txt"), "server c, second");
    EXPECT_EQ(content("d.txt"), "local edits of d");
    EXPECT_FALSE(QFileInfo::exists(local("g.txt")));
    const QStringList fetched = site.Server->ProtocolLog().filter(QRegularExpression("^RETR "));
    EXPECT_EQ(fetched.filter("c.txt").size(), 2);
    EXPECT_TRUE(fetched.filter("d.txt").isEmpty()) << fetched.join(' ').toStdString();
}

TEST(FtpWindow, ACertificateThatDoesNotVerifyIsTrustedForTheConnectionOnlyWhenTheUserSaysSo)
{
    TPyftpdlibOptions tls;
    tls.Tls = true;
    TWindowSite site(StartPyftpdlib({}, tls));
    ASSERT_TRUE(site.Server);
    site.Put("/index.html");
    QString details;
    TModalAnswer answer([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->objectName(), "TrustCertificateBox");
        details = box->informativeText();
        box->button(QMessageBox::Yes)->click();
    });
    auto window = site.Open();
    ASSERT_TRUE(Idle(*window));
    EXPECT_TRUE(answer.Answered());
    EXPECT_TRUE(details.contains(site.Server->CertificateFingerprint));
    EXPECT_EQ(Names(*window), QStringList{"index.html"});
    EXPECT_TRUE(window->Operator().Ftp().Encrypted());
}

TEST(FtpWindow, SortsFoldersFirstAndInvertsByTheSameHeader)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    site.Put("/b.txt", QByteArray(300, 'b'));
    site.Put("/A.txt", QByteArray(10, 'a'));
    site.Put("/c.txt", QByteArray(20, 'c'));
    QDir().mkpath(site.Server->LocalPath("/zdir"));
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
}

TEST(FtpWindow, ThePickerReturnsTheFolderShownUnlessTheUserSelectsASubfolder)
{
    auto server = StartVsftpd();
    ASSERT_TRUE(server);
    for (const char *folder : {"/www/docs", "/www/gallery/2026"})
        QDir().mkpath(server->LocalPath(folder));
    WriteWholeFile(server->LocalPath("/www/file.txt"), "f");
    TProject project;
    ConfigureFor(project, *server, "/www");
    project.Nodes("Host")->SetAsString(" " + server->Host); // taken trimmed
    project.SetPassword(server->Password);

    // Each session: what the user does in the listed /www, the OK button's text before the
    // click, and the path returned ("" for a cancel, which leaves the path alone).
    struct TSession
    {
        const char *Name;
        std::function<void(TfrmFtpWindow &)> Act;
        QString Button;
        QString Returned;
    };
    const TSession sessions[] = {
        {"OK at once", [](TfrmFtpWindow &) {}, "Choose /www", "/www"},
        {"a subfolder selected", [](TfrmFtpWindow &window) { ClickRow(window, "gallery"); },
         "Choose /www/gallery", "/www/gallery"},
        {"a file selected", [](TfrmFtpWindow &window) { ClickRow(window, "file.txt"); },
         "Choose /www", "/www"},
        {"a subfolder entered",
         [](TfrmFtpWindow &window) {
             EnterRow(window, "gallery");
             ASSERT_TRUE(Idle(window));
             EXPECT_EQ(Names(window), QStringList{"2026"});
         },
         "Choose /www/gallery", "/www/gallery"},
        {"cancelled", [](TfrmFtpWindow &window) { ClickRow(window, "docs"); }, "Choose /www/docs",
         ""},
    };
    for (const TSession &session : sessions) {
        SCOPED_TRACE(session.Name);
        QString button;
        TModalAnswer pick([&](QWidget *modal) {
            auto *window = qobject_cast<TfrmFtpWindow *>(modal);
            ASSERT_TRUE(window);
            ASSERT_TRUE(Idle(*window));
            EXPECT_TRUE(ListOf(*window)->selectionModel()->selectedRows().isEmpty());
            session.Act(*window);
            auto *ok = window->findChild<QPushButton *>("btnOK");
            button = ok->text();
            EXPECT_EQ(ok->toolTip(), button);
            if (session.Returned.isEmpty())
                QTest::keyClick(window, Qt::Key_Escape);
            else
                QTest::mouseClick(ok, Qt::LeftButton);
        });
        QString path = "unchanged";
        EXPECT_EQ(BrowseFtpFolder(project, path), !session.Returned.isEmpty());
        EXPECT_TRUE(pick.Answered());
        EXPECT_EQ(button, session.Button);
        EXPECT_EQ(path, session.Returned.isEmpty() ? "unchanged" : session.Returned);
        EXPECT_FALSE(BrowseMode);
    }
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
        EXPECT_FALSE(ActionOf(window, "acnRefresh")->isEnabled()); // not configured
        window.setGeometry(placed);
        QTest::mouseClick(window.findChild<QToolButton *>("View"), Qt::LeftButton);
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
        // Later windows of this process click rows of the report style.
        ActionOf(window, "miViewDetail")->trigger();
    }
}

TEST(FtpWindow, AProjectInUseElsewhereIsRefusedNamingItsHolderAndTheWindowCloses)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    TProjectLock other;
    QString refusal;
    ASSERT_TRUE(other.Lock(site.ProjectFile, refusal)) << refusal.toStdString();
    TBoxAnswer box(QMessageBox::Ok);
    TfrmFtpWindow window(nullptr, {site.ProjectFile, "FTPWindow", site.Server->Password});
    ASSERT_TRUE(box.Answer.Answered());
    EXPECT_EQ(box.Text, QString("The project %1 is in use by test_ftp_window (process %2)")
                            .arg(site.ProjectFile)
                            .arg(QCoreApplication::applicationPid()));
    window.show();
    EXPECT_TRUE(WaitUntil([&] { return !window.isVisible(); }, 5000));
    EXPECT_TRUE(site.Server->ProtocolLog().filter("USER").isEmpty());
}

TEST(FtpWindow, AProjectWhosePortIsNoNumberIsRefusedBeforeConnecting)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    QTemporaryDir folder;
    TProject project;
    project.Load(WriteProject(folder.path(), *server, "/"));
    project.Nodes("Port")->SetAsString("99999");
    project.Save(false);
    TBoxAnswer box(QMessageBox::Ok);
    TfrmFtpWindow window(nullptr, {project.FileName, "FTPWindow", server->Password});
    EXPECT_TRUE(box.Answer.Answered());
    EXPECT_EQ(box.Text, "The project's \"Port\" holds \"99999\": Port must be a number from 1 "
                        "to 65535");
    EXPECT_TRUE(Idle(window));
    EXPECT_TRUE(server->ProtocolLog().isEmpty());
}

TEST(FtpWindow, WithoutAProjectFileConnectAsksForTheServerAndLists)
{
    auto server = StartVsftpd();
    ASSERT_TRUE(server);
    QDir().mkpath(server->LocalPath("/pub/inside"));
    TfrmFtpWindow window(nullptr, {"/nowhere/missing.zdx", "FTPWindow"});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto *connect = window.findChild<QToolButton *>("tbnConnect");
    ASSERT_TRUE(connect->isVisible());
    EXPECT_FALSE(ActionOf(window, "acnRefresh")->isEnabled());
    EXPECT_FALSE(ActionOf(window, "acnUpload")->isEnabled());

    TModalAnswer fill([&](QWidget *modal) {
        auto edit = [modal](const char *name) {
            return modal->findChild<QLineEdit *>(QString::fromLatin1(name));
        };
        ASSERT_TRUE(edit("edtServerName"));
        auto *port = modal->findChild<QAbstractSpinBox *>("edtServerPort");
        const auto retype = [](QLineEdit *line, const QString &text) {
            line->selectAll();
            QTest::keyClick(line, Qt::Key_Backspace);
            QTest::keyClicks(line, text);
        };
        retype(edit("edtServerName"), server->Host);
        retype(port->findChild<QLineEdit *>(), QString::number(server->Port));
        retype(edit("edtUserName"), server->User);
        retype(edit("edtPassword"), server->Password);
        retype(edit("edtInitinalPath"), "/pub");
        QTest::mouseClick(modal->findChild<QPushButton *>("btnOK"), Qt::LeftButton);
    });
    QTest::mouseClick(connect, Qt::LeftButton);
    ASSERT_TRUE(fill.Answered());
    ASSERT_TRUE(Idle(window));
    EXPECT_FALSE(window.Operator().Failed());
    EXPECT_EQ(window.Action().Path, "/pub");
    EXPECT_EQ(Names(window), QStringList{"inside"});
    EXPECT_TRUE(ActionOf(window, "acnUpload")->isEnabled());
}

#include "test_ftp_window.moc"
