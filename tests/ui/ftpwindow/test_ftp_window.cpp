// The FTP window driven through its real controls against real servers on loopback.
#include "app/keyring/SecretServiceKeyring.h"
#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "tests/support/FtpServers.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/PrivateKeyring.h"
#include "tests/support/TestSupport.h"
#include "ui/dialogs/EditLib.h"
#include "ui/ftpwindow/FtpWinOptions.h"
#include "ui/ftpwindow/FtpWindow.h"

#include <QDesktopServices>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using S = QStringList;

bool Idle(TfrmFtpWindow &window)
{
    return WaitUntil([&window] { return !window.Operator().Busy(); }, 60000);
}

// A server and a project of it, opened as "PROJECT FTPWindow PASSWORD" opens a window.
struct TWindowSite
{
    std::unique_ptr<TFtpTestServer> Server;
    QTemporaryDir Folder;
    QString ProjectFile;

    explicit TWindowSite(std::unique_ptr<TFtpTestServer> started, const QString &remote = "/")
        : Server(std::move(started))
        , ProjectFile(Folder.path() + "/test.zdx")
    {
        TProject project;
        project.InitDefaults();
        if (Server) {
            project.Nodes("Host")->SetAsString(Server->Host);
            project.Nodes("Port")->SetAsInteger(Server->Port);
            project.Nodes("User")->SetAsString(Server->User);
            if (!Server->HostKey.isEmpty())
                project.Nodes("Protocol")->SetAsString("sftp");
        }
        project.Nodes("RemotePath")->SetAsString(remote);
        project.Nodes("Path")->SetAsString(Folder.path() + "/site");
        project.FileName = ProjectFile;
        project.Save(false);
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
};

QTreeView *ListOf(TfrmFtpWindow &window)
{
    return window.findChild<QTreeView *>("lvwFiles");
}

QAction *ActionOf(TfrmFtpWindow &window, const char *name)
{
    return window.findChild<QAction *>(QString::fromLatin1(name));
}

QStringList Names(TfrmFtpWindow &window)
{
    QStringList names;
    for (int row = 0; row < window.Model().rowCount(); ++row)
        names << window.Model().Text(row, 0);
    return names;
}

// Clicks the row, as a user would; with `enter`, then presses Enter and waits for the action.
void ClickRow(TfrmFtpWindow &window, const QString &name, Qt::KeyboardModifiers modifiers = {},
              bool enter = false)
{
    // A closed modal box may leave no window active; editors need an active window.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const int row = int(Names(window).indexOf(name));
    ASSERT_GE(row, 0) << name.toStdString();
    QTest::mouseClick(ListOf(window)->viewport(), Qt::LeftButton, modifiers,
                      ListOf(window)->visualRect(window.Model().index(row, 0)).center());
    if (enter) {
        QTest::keyClick(ListOf(window), Qt::Key_Return);
        EXPECT_TRUE(Idle(window));
    }
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

// Answers every replace question of a download by the local file it names (the file's name
// maps to a button; NoButton presses Enter) and keeps the questions asked.
class TReplaceAnswers
{
public:
    explicit TReplaceAnswers(QMap<QString, QMessageBox::StandardButton> answers)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, answers] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box->objectName() != "ReplaceFileBox" || !box->isVisible() || box == m_last)
                return;
            m_last = box;
            Texts << box->text();
            Asked << QFileInfo(box->text().section('\n', 0, 0).section(' ', 3, -3)).fileName();
            const auto button = answers.value(Asked.last(), QMessageBox::Cancel);
            if (button == QMessageBox::NoButton)
                QTest::keyClick(box, Qt::Key_Return);
            else
                box->button(button)->click();
        });
        m_timer.start(10);
    }
    QStringList Asked, Texts;

private:
    QTimer m_timer;
    QPointer<QMessageBox> m_last;
};

using TStart = std::unique_ptr<TFtpTestServer> (*)();

class FtpWindowOnServers : public ::testing::TestWithParam<TStart>
{
};

} // namespace

// One working session on one connection: a start folder that is gone, list, sort, browse,
// delete, upload a dropped tree, download it again, and pick a folder for the options.
TEST_P(FtpWindowOnServers, Session)
{
    TWindowSite site(GetParam()(), "/gone/away");
    ASSERT_TRUE(site.Server);
    site.Put("/index.html", QByteArray(1000, 'x'));
    for (const char *path :
         {"/old.txt", "/docs/a.txt", "/t/a.txt", "/t/s1/b.txt", "/t/s1/s2/c.txt"})
        site.Put(path);
    QDir().mkpath(site.Server->LocalPath("/site/img"));
    QDir().mkpath(site.Server->LocalPath("/t/empty"));
    TBoxAnswer gone(QMessageBox::Ok); // the server's text, and the root is listed instead
    auto window = site.Open();
    EXPECT_TRUE(gone.Answer.Answered());
    EXPECT_FALSE(gone.Text.isEmpty() || gone.Text.at(0).isDigit()) << gone.Text.toStdString();
    QTreeView *list = ListOf(*window);
    EXPECT_EQ(Names(*window), (S{"docs", "site", "t", "index.html", "old.txt"}));
    // Sorting: folders first; the same header again inverts, files first.
    const auto clickHeader = [header = list->header()](int section) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
    };
    clickHeader(1);
    EXPECT_EQ(Names(*window).mid(3), (S{"old.txt", "index.html"}));
    clickHeader(1);
    EXPECT_EQ(Names(*window).mid(0, 2), (S{"index.html", "old.txt"}));
    clickHeader(0);

    // List mode cuts no name.
    auto *names = window->findChild<QListView *>("lvwFilesList");
    for (int row = 0; row < window->Model().rowCount(); ++row)
        EXPECT_GE(names->visualRect(window->Model().index(row, 0)).width(),
                  names->sizeHintForIndex(window->Model().index(row, 0)).width());

    // Up selects the folder left; the folder bar goes where it is told, or says why not.
    auto *upper = window->findChild<QToolButton *>("tbnUpper");
    EXPECT_FALSE(upper->isEnabled()); // a path of one character is the root
    ClickRow(*window, "t", {}, true);
    QTest::mouseClick(upper, Qt::LeftButton);
    ASSERT_TRUE(Idle(*window));
    EXPECT_EQ(list->selectionModel()->selectedRows(), QModelIndexList{list->currentIndex()});
    EXPECT_EQ(Names(*window).value(list->currentIndex().row()), "t");
    auto *bar = window->findChild<QLineEdit *>("edtPath");
    for (const char *typed : {"/docs", "/nowhere"}) {
        TBoxAnswer error(QMessageBox::Ok);
        bar->setText(typed);
        QTest::keyClick(bar, Qt::Key_Return);
        ASSERT_TRUE(Idle(*window));
        EXPECT_EQ(error.Answer.Answered(), typed == QString("/nowhere"));
        EXPECT_EQ(window->Action().Path + bar->text(), "/docs/docs");
    }
    EXPECT_EQ(Names(*window), S{"a.txt"});
    QTest::mouseClick(upper, Qt::LeftButton);
    ASSERT_TRUE(Idle(*window));
    EXPECT_EQ(window->Action().Path, "/");

    // Delete asks by name and removes files first, then folders deepest first.
    ClickRow(*window, "t");
    {
        TBoxAnswer yes(QMessageBox::Yes);
        QTest::keyClick(list, Qt::Key_Delete);
        EXPECT_EQ(yes.Text, "Are you sure you want to delete \"t\"?");
    }
    ASSERT_TRUE(Idle(*window));
    EXPECT_FALSE(QFileInfo::exists(site.Server->LocalPath("/t")) || Names(*window).contains("t"));
    const S removals = site.Server->ProtocolLog().filter(QRegularExpression("^(DELE|RMD) "));
    const auto at = [&removals](const char *line) { return removals.indexOf(line); };
    EXPECT_EQ(removals.filter(QRegularExpression("^DELE ")).size(),
              removals.indexOf(QRegularExpression("RMD .*")))
        << removals.join('\n').toStdString();
    EXPECT_LT(at("RMD /t/s1/s2"), at("RMD /t/s1"));
    EXPECT_LT(at("RMD /t/empty"), at("RMD t"));
    EXPECT_EQ(removals.last(), "RMD t");
    list->selectAll(); // several rows: asked about by count; No keeps everything
    {
        TBoxAnswer no(QMessageBox::No);
        ActionOf(*window, "acnDelete")->trigger();
        EXPECT_EQ(no.Text, "Are you sure you want to delete these 4 items?");
    }
    EXPECT_TRUE(QFileInfo::exists(site.Server->LocalPath("/docs/a.txt")));

    // A dropped tree goes up whole, into the folder the server already has.
    QTemporaryDir local;
    WriteWholeFile(local.path() + "/site/index.html", "home");
    WriteWholeFile(local.path() + "/site/.htaccess", "deny");
    WriteWholeFile(local.path() + "/site/img/deep/logo.png", QByteArray(5000, 'p'));
    QDir().mkpath(local.path() + "/site/empty/deeper");
    WriteWholeFile(local.path() + "/notes.txt", "notes");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(local.path() + "/site"),
                  QUrl::fromLocalFile(local.path() + "/notes.txt")});
    const QPoint centre = window->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    ASSERT_TRUE(drop.isAccepted() && Idle(*window));
    EXPECT_EQ(TreeOf(site.Server->LocalPath("/site")), TreeOf(local.path() + "/site"));
    EXPECT_EQ(ReadWholeFile(site.Server->LocalPath("/notes.txt")), "notes");
    auto *status = window->findChild<QLabel *>("lblStatus");
    EXPECT_EQ(status->text(), "Uploaded 4 files, " + FormatSize(5013));

    // Download the folder through the real folder picker: only folders that hold files come.
    QTemporaryDir target;
    ClickRow(*window, "site");
    TModalAnswer pick([&target](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_TRUE(dialog);
        dialog->setDirectory(target.path());
        QTimer::singleShot(50, dialog, [dialog] { QMetaObject::invokeMethod(dialog, "accept"); });
    });
    ActionOf(*window, "acnDownload")->trigger();
    ASSERT_TRUE(pick.Answered() && Idle(*window));
    EXPECT_EQ(TreeOf(target.path() + "/site"),
              TreeOf(local.path() + "/site", {"empty", "empty/deeper"}));
    EXPECT_EQ(status->text(), "Downloaded 3 files, " + FormatSize(5008));
    EXPECT_EQ(site.Server->ProtocolLog().filter(QRegularExpression("^USER ")).size(), 1);

    // The folder picker of the project options: OK returns the folder shown unless the user
    // selected a subfolder; Escape leaves the path alone.
    TProject project;
    project.Load(site.ProjectFile);
    project.Nodes("RemotePath")->SetAsString("/");
    project.Nodes("Host")->SetAsString(" " + site.Server->Host); // taken trimmed
    project.SetPassword(site.Server->Password);
    for (const QString returned : {"/", "/site", ""}) {
        QString button;
        TModalAnswer picker([&](QWidget *modal) {
            auto *browser = qobject_cast<TfrmFtpWindow *>(modal);
            ASSERT_TRUE(browser && Idle(*browser));
            EXPECT_TRUE(ListOf(*browser)->selectionModel()->selectedRows().isEmpty());
            if (returned != "/")
                ClickRow(*browser, "site");
            auto *ok = browser->findChild<QPushButton *>("btnOK");
            button = ok->text();
            if (returned.isEmpty())
                QTest::keyClick(browser, Qt::Key_Escape);
            else
                QTest::mouseClick(ok, Qt::LeftButton);
        });
        QString path = "unchanged";
        EXPECT_EQ(BrowseFtpFolder(project, path), !returned.isEmpty());
        EXPECT_TRUE(picker.Answered());
        EXPECT_EQ(button, returned == "/" ? "Choose /" : "Choose /site");
        EXPECT_EQ(path, returned.isEmpty() ? "unchanged" : returned);
        EXPECT_FALSE(BrowseMode);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpWindowOnServers,
                         ::testing::Values<TStart>(
                             +[] { return StartPyftpdlib(); }, +[] { return StartVsftpd(); }),
                         [](const auto &info) {
                             return std::string(info.index == 0 ? "pyftpdlib" : "vsftpd");
                         });

// SFTP: a changed host key is refused naming it, never asked about; an unknown one is asked about
// with its fingerprint (No by default), and a Yes makes it known and logs in with an encrypted
// key, whose passphrase the password dialog asks for.
TEST(FtpWindow, ListsAnSftpServerOnceItsHostKeyIsTrustedAndItsKeyOpened)
{
    auto server = StartSshd();
    ASSERT_TRUE(server);
    UseSshdKeys(*server);
    const QString root = server->RemoteBase;
    TWindowSite site(std::move(server), root);
    site.Put("/index.html");
    const QString knownHosts = QDir::homePath() + "/.ssh/known_hosts";
    WriteWholeFile(knownHosts, KnownHostsLine(*site.Server, site.Server->OtherKey).toUtf8());
    TBoxAnswer changed(QMessageBox::Ok);
    auto window = site.Open();
    EXPECT_TRUE(changed.Text.contains("has changed") && changed.Text.count("SHA256:") == 2
                && changed.Text.contains(site.Server->HostKeyFingerprint))
        << changed.Text.toStdString();
    WriteWholeFile(knownHosts, {});
    ASSERT_EQ(QProcess::execute("ssh-keygen", {"-q", "-p", "-P", "", "-N", "pass phrase", "-f",
                                               QDir::homePath() + "/.ssh/id_ed25519"}),
              0);
    std::optional<TModalAnswer> passphrase;
    for (const auto button : {QMessageBox::NoButton, QMessageBox::Yes}) {
        QString details;
        TModalAnswer ask([&details, &passphrase, button](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            ASSERT_TRUE(box);
            details = box->text() + box->informativeText();
            if (button == QMessageBox::Yes)
                passphrase.emplace([](QWidget *dialog) {
                    QTest::keyClicks(Child<QLineEdit>(dialog, "edtPassword"), "pass phrase");
                    QTest::keyClick(dialog, Qt::Key_Return);
                });
            (button ? box->button(button) : box->defaultButton())->click();
        });
        window.reset(); // the project is locked by its window
        window = site.Open();
        EXPECT_TRUE(ask.Answered() && details.contains("host key is unknown")
                    && details.contains(site.Server->HostKeyFingerprint))
            << details.toStdString();
        EXPECT_EQ(Names(*window).contains("index.html"), button == QMessageBox::Yes);
    }
    EXPECT_TRUE(passphrase && passphrase->Answered());
    EXPECT_TRUE(window->windowTitle().contains(" - sftp://"))
        << window->windowTitle().toStdString();
    EXPECT_TRUE(ReadWholeFile(knownHosts).contains(site.Server->HostKey.section(' ', 1).toUtf8()));
}

TEST(FtpWindow, AbortDuringALargeDownloadReturnsAtOnceAndTheNextActionConnectsAgain)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 4 * 1024 * 1024;
    TWindowSite site(StartPyftpdlib({}, options), "/start");
    ASSERT_TRUE(site.Server);
    site.Put("/start/big.bin", {});
    QFile big(site.Server->LocalPath("/start/big.bin")); // sparse
    ASSERT_TRUE(big.open(QIODevice::ReadWrite) && big.resize(100LL * 1024 * 1024));
    auto window = site.Open();
    QTemporaryDir target;
    window->AskDownloadFolder = [&target] { return target.path(); };
    const auto download = [&] {
        ClickRow(*window, "big.bin");
        ActionOf(*window, "acnDownload")->trigger();
    };
    download();
    auto *progress = window->findChild<QProgressBar *>("ProgressBar");
    int ticks = 0; // the window keeps painting while the worker transfers
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(10);
    ASSERT_TRUE(WaitUntil([&] { return progress->value() >= 10; }));
    EXPECT_GT(ticks, 20);
    EXPECT_TRUE(ActionOf(*window, "acnAbort")->isEnabled());
    EXPECT_FALSE(ActionOf(*window, "acnRefresh")->isEnabled());

    const auto logins = [&] { return site.Server->ProtocolLog().filter("USER ").size(); };
    const auto loginsBefore = logins();
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(window->findChild<QToolButton *>("tbnAbort"), Qt::LeftButton);
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_FALSE(window->Operator().Busy());
    EXPECT_TRUE(ActionOf(*window, "acnRefresh")->isEnabled());
    EXPECT_EQ(Names(*window), S{"big.bin"});
    QTest::qWait(400); // the aborted session is not replaced behind the window
    EXPECT_EQ(logins(), loginsBefore);
    QTest::keyClick(ListOf(*window), Qt::Key_F5);
    ASSERT_TRUE(Idle(*window));
    EXPECT_FALSE(window->Operator().Failed());
    EXPECT_EQ(logins(), loginsBefore + 1);
    EXPECT_EQ(window->Action().Path, "/start");

    // Closing while an action runs asks first: No keeps the window and the transfer.
    download();
    ASSERT_TRUE(window->Operator().Busy());
    {
        TBoxAnswer no(QMessageBox::No);
        window->close();
        EXPECT_EQ(no.Text, "Operation is not complete. Abort?");
    }
    EXPECT_TRUE(window->isVisible() && window->Operator().Busy());
    TBoxAnswer yes(QMessageBox::Yes);
    window->close();
    EXPECT_TRUE(yes.Answer.Answered());
    EXPECT_FALSE(window->isVisible() || window->Operator().Busy());
}

TEST(FtpWindow, OpensAFileThroughTheDesktopFromAPrivateTemporaryFolder)
{
    // Another user ("nobody") made the old shared folder first, with a file of the same name in
    // it: the window neither uses it nor writes into it.
    const QString planted = GetTempDir() + "/FTPWinTemp";
    WriteWholeFile(planted + "/page.html", "planted");
    ASSERT_EQ(::chown(planted.toLocal8Bit().constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(planted.toLocal8Bit().constData(), 0777), 0);
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    site.Put("/page.html", "<p>hi</p>");
    auto window = site.Open();
    TOpenedUrls opened;
    {
        // The save question would mean the desktop refused the file.
        TModalAnswer noQuestion([](QWidget *modal) { QMetaObject::invokeMethod(modal, "reject"); });
        QDesktopServices::setUrlHandler("file", &opened, "open");
        ClickRow(*window, "page.html", {}, true);
        QDesktopServices::unsetUrlHandler("file");
        EXPECT_FALSE(noQuestion.Answered());
    }
    ASSERT_EQ(opened.Urls.size(), 1);
    const QString folder = window->TempFolder();
    EXPECT_EQ(opened.Urls[0].toLocalFile(), folder + "/page.html");
    EXPECT_EQ(opened.Content, "<p>hi</p>");
    EXPECT_NE(folder, planted);
    struct stat info = {};
    ASSERT_EQ(::stat(folder.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, ::getuid());
    EXPECT_EQ(ReadWholeFile(planted + "/page.html"), "planted");

    window.reset(); // closing removes the temporary folder with what is in it
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(QDir(planted).entryList(QDir::Files), S{"page.html"});
}

TEST(FtpWindow, DownloadAsksBeforeReplacingALocalFileAndNeverReplacesANewerOneUnasked)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime serverDate = now.addSecs(-3600), older = now.addSecs(-7200);
    QTemporaryDir target;
    const auto local = [&target](const QString &name) { return target.path() + "/" + name; };
    const auto write = [](const QString &path, const QByteArray &data, const QDateTime &date) {
        WriteWholeFile(path, data);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite)
                    && file.setFileTime(date, QFileDevice::FileModificationTime));
    };
    for (const QString name : {"a", "b", "c", "d", "e", "f", "g"})
        write(site.Server->LocalPath("/" + name + ".txt"), "server " + name.toUtf8(), serverDate);
    // Local copies: d holds edits newer than the server's copy; f and g are not there.
    for (const QString name : {"a", "b", "c", "e"})
        write(local(name + ".txt"), "local " + name.toUtf8(), older);
    write(local("d.txt"), "local edits of d", now);
    auto window = site.Open();
    window->AskDownloadFolder = [&target] { return target.path(); };

    // Downloads the names, answering by file; the questions' texts.
    const auto download
        = [&](const S &selected, const QMap<QString, QMessageBox::StandardButton> &answers,
              const S &asked) {
              ListOf(*window)->clearSelection();
              for (const QString &name : selected)
                  ClickRow(*window, name, Qt::ControlModifier);
              TReplaceAnswers replies(answers);
              ActionOf(*window, "acnDownload")->trigger();
              EXPECT_TRUE(Idle(*window));
              EXPECT_FALSE(window->Operator().Failed());
              EXPECT_EQ(replies.Asked, asked) << selected.join(' ').toStdString();
              return replies.Texts;
          };
    const auto content = [&](const char *name) { return ReadWholeFile(local(name)); };

    // Enter answers No: the file stays byte for byte. The question names both copies.
    const S texts = download({"a.txt"}, {{"a.txt", QMessageBox::NoButton}}, {"a.txt"});
    EXPECT_EQ(content("a.txt"), "local a");
    ASSERT_EQ(texts.size(), 1);
    for (const QString &part : {local("a.txt"), QString("/a.txt"), QString("7 byte"),
                                QString("8 byte"), DateTimeText(older), DateTimeText(serverDate)})
        EXPECT_TRUE(texts[0].contains(part)) << part.toStdString() << "\n"
                                             << texts[0].toStdString();
    EXPECT_FALSE(texts[0].contains("newer"));

    // Yes to All covers c but not the newer d, asked again; its No to All then keeps e.
    const S newer = download({"b.txt", "c.txt", "d.txt", "e.txt", "f.txt"},
                             {{"b.txt", QMessageBox::YesToAll}, {"d.txt", QMessageBox::NoToAll}},
                             {"b.txt", "d.txt"});
    ASSERT_EQ(newer.size(), 2);
    EXPECT_TRUE(newer[1].contains("newer than the server's copy"));
    EXPECT_EQ(content("b.txt") + content("c.txt") + content("d.txt") + content("e.txt")
                  + content("f.txt"),
              "server bserver clocal edits of dlocal eserver f");
}

// Connect starts from the last connection; its password (as dots) only from the keyring.
TEST(FtpWindow, ConnectRemembersTheLastConnectionAndKeepsItsPasswordInTheKeyring)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", PrivateKeyringBus().toUtf8());
    TSecretServiceKeyring keyring;
    TProject::Keyring = &keyring;
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    site.Put("/docs/a.txt");
    const S typed{site.Server->Host, QString::number(site.Server->Port), site.Server->User,
                  site.Server->Password, "/docs"};
    for (const bool first : {true, false}) {
        TfrmFtpWindow window;
        window.show();
        S shown;
        TModalAnswer answer([&](QWidget *modal) {
            auto *dialog = static_cast<TfrmSettings *>(modal);
            EXPECT_EQ(dialog->edtPassword->echoMode(), QLineEdit::Password);
            shown << dialog->edtServerName->text() << dialog->edtServerPort->text()
                  << dialog->edtUserName->text() << dialog->edtPassword->text()
                  << dialog->edtInitinalPath->text();
            dialog->edtServerName->setText(typed[0]);
            dialog->edtServerPort->SetText(typed[1]);
            dialog->edtUserName->setText(typed[2]);
            dialog->edtPassword->setText(typed[3]);
            dialog->edtInitinalPath->setText(typed[4]);
            QTest::mouseClick(first ? dialog->btnOK : dialog->Cancel, Qt::LeftButton);
        });
        QTest::mouseClick(window.findChild<QToolButton *>("tbnConnect"), Qt::LeftButton);
        ASSERT_TRUE(answer.Answered() && Idle(window));
        EXPECT_EQ(shown, first ? S({"", "21", "", "", ""}) : typed);
        EXPECT_EQ(window.Action().Path, first ? "/docs" : "");
    }
    EXPECT_FALSE(ReadWholeFile(QSettings().fileName()).contains(site.Server->Password.toUtf8()));
    TProject::Keyring = nullptr;
}

// A project held by another program, or whose port is no number, is refused with a message
// that says why, before any connection.
TEST(FtpWindow, AProjectInUseElsewhereOrWithAPortThatIsNoNumberIsRefused)
{
    TWindowSite site(StartPyftpdlib());
    ASSERT_TRUE(site.Server);
    TProjectLock other;
    QString refusal;
    ASSERT_TRUE(other.Lock(site.ProjectFile, refusal)) << refusal.toStdString();
    for (const QString &expected :
         {QString("The project %1 is in use by test_ftp_window (process %2)")
              .arg(site.ProjectFile)
              .arg(QCoreApplication::applicationPid()),
          QString(
              "The project's \"Port\" holds \"99999\": Port must be a number from 1 to 65535")}) {
        const bool inUse = other.Holds(site.ProjectFile);
        TBoxAnswer box(QMessageBox::Ok);
        TfrmFtpWindow window(nullptr, {site.ProjectFile, "FTPWindow", site.Server->Password});
        EXPECT_TRUE(box.Answer.Answered());
        EXPECT_EQ(box.Text, expected);
        window.show();
        EXPECT_TRUE(!inUse || WaitUntil([&] { return !window.isVisible(); }, 5000)); // closes
        EXPECT_TRUE(Idle(window));
        other.Release();
        TProject project;
        project.Load(site.ProjectFile);
        project.Nodes("Port")->SetAsString("99999");
        project.Save(false);
    }
    EXPECT_EQ(site.Server->ProtocolLog().filter("USER"), S{});
}

#include "test_ftp_window.moc"
