// The main window driven through its own widgets against real FTP servers on loopback.
#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "store/ProjectOptions.h"
#include "store/ShellLib.h"
#include "tests/support/FtpRelay.h"
#include "tests/support/FtpServers.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/main/FileViewModels.h"
#include "ui/main/main.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

using S = QStringList;

// How far an icon stands out from a light background: opacity times darkness, summed.
double Ink(const QIcon &icon, QIcon::Mode mode)
{
    const QImage image = icon.pixmap(22, 22, mode).toImage().convertToFormat(QImage::Format_ARGB32);
    double ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += qAlpha(image.pixel(x, y)) * (255 - qGray(image.pixel(x, y))) / 65025.0;
    return ink;
}

// A site on disk, a server, and a project file that joins them.
struct TSite
{
    QTemporaryDir Folder;
    std::unique_ptr<TFtpTestServer> Server;
    QString Local, ProjectFile;

    explicit TSite(const TPyftpdlibOptions &options = {})
        : Server(StartPyftpdlib({}, options))
        , Local(Folder.path() + "/site")
    {
        WriteWholeFile(Local + "/index.html", "<html>home</html>\n");
        WriteWholeFile(Local + "/big.bin", QByteArray(300000, 'b'));
        WriteWholeFile(Local + "/css/style.css", "body { color: red }\n");
        WriteWholeFile(Local + "/img/logo.png", QByteArray(1500, 'p'));
        WriteWholeFile(Local + "/img/empty.gif", QByteArray());
    }
    QString MakeProject(bool storePassword = true, int connections = NewProjectConnections)
    {
        TProject project;
        project.InitDefaults();
        project.Nodes("Path")->SetAsString(Local);
        project.Nodes("Host")->SetAsString(Server->Host);
        project.Nodes("Port")->SetAsInteger(Server->Port);
        project.Nodes("User")->SetAsString(Server->User);
        project.Nodes("RemotePath")->SetAsString("/");
        project.Nodes("Connections")->SetAsInteger(connections);
        if (storePassword)
            project.SetStoredPassword(Server->Password);
        QDir().mkpath(ProjectsFolder());
        project.FileName = ProjectFile = ProjectsFolder() + "site.zdx";
        project.Save(false);
        return ProjectFile;
    }
    qint32 Record(const QString &name) const
    {
        TProject project;
        project.Load(ProjectFile);
        return project.Versions.FindOrAdd(name)->Date;
    }
    bool ServerInStep() const { return TreeOf(Server->Root) == TreeOf(Local); }
};

// A shown main window that counts its finished operations.
struct TWindow
{
    std::unique_ptr<TfrmMain> Window;
    int Finished = 0;

    explicit TWindow(const QStringList &arguments, bool waitForFirst = true)
        : Window(std::make_unique<TfrmMain>(arguments))
    {
        QObject::connect(Window.get(), &TfrmMain::OperationFinished, [this] { ++Finished; });
        Window->show();
        EXPECT_TRUE(!waitForFirst || WaitForOperations(1));
    }
    ~TWindow()
    {
        if (Window && Window->Running())
            Window->AbortAndClose();
    }
    bool WaitForOperations(int count, int timeoutMs = 60000)
    {
        return WaitUntil([&] { return Finished >= count && !Window->Running(); }, timeoutMs);
    }
    // Clicks the button (or triggers the action) and waits for the operation it starts.
    template <class T> bool Run(T *what)
    {
        const int before = Finished;
        if constexpr (std::is_same_v<T, QAction>)
            what->trigger();
        else
            QTest::mouseClick(what, Qt::LeftButton);
        return WaitForOperations(before + 1);
    }
    QStringList LogLines() const { return Window->retLog->toPlainText().split(u'\n'); }
    QColor LineColour(int line) const
    {
        const QTextBlock block = Window->retLog->document()->findBlockByNumber(line);
        return block.begin().fragment().charFormat().foreground().color();
    }
    QStringList Column(int column) const
    {
        QStringList texts;
        auto *model = Window->lvwFiles->model();
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, column).data().toString();
        return texts;
    }
    // The folder tree's indexes, depth first, whose names match `pattern`.
    QModelIndexList FolderIndexes(const QString &pattern = ".*") const
    {
        auto *model = Window->tvwFolders->model();
        return model->match(model->index(0, 0), Qt::DisplayRole,
                            QRegularExpression(QRegularExpression::anchoredPattern(pattern)), -1,
                            Qt::MatchRegularExpression | Qt::MatchRecursive);
    }
    QStringList Folders() const
    {
        QStringList names;
        for (const QModelIndex &index : FolderIndexes())
            names << index.data().toString();
        return names;
    }
    QModelIndex FolderIndex(const QString &name) const
    {
        return FolderIndexes(QRegularExpression::escape(name)).value(0);
    }
    // On the folder's icon: a long name runs past the tree's visible width.
    QPoint FolderPoint(const QString &name) const
    {
        const QRect rect = Window->tvwFolders->visualRect(FolderIndex(name));
        return {rect.left() + 8, rect.center().y()};
    }
    void SelectFolder(const QString &name)
    {
        QTest::mouseClick(Window->tvwFolders->viewport(), Qt::LeftButton, {}, FolderPoint(name));
    }
    // A click on the row, or with `column`, on that column's first pixels.
    void ClickRow(int row, int column = -1)
    {
        QPoint at = Window->lvwFiles->visualRect(Window->lvwFiles->model()->index(row, 0)).center();
        if (column >= 0)
            at.setX(Window->lvwFiles->header()->sectionViewportPosition(column) + 8);
        QTest::mouseClick(Window->lvwFiles->viewport(), Qt::LeftButton, {}, at);
    }
    // The folder's pop-up menu, then its item.
    void FolderMenu(const QString &folder, QAction *item)
    {
        const QPoint at = FolderPoint(folder);
        emit Window->tvwFolders->customContextMenuRequested(at);
        ASSERT_TRUE(Window->ppmFolders->isVisible()
                    && Window->ppmFolders->actions().contains(item));
        item->trigger();
        Window->ppmFolders->close();
    }
};

} // namespace

// One working session: open, mark, hide, upload, remove what only the server holds, close, reopen.
TEST(MainWindow, Session)
{
    TPyftpdlibOptions slow;
    slow.BandwidthLimit = 100000; // big.bin takes about 3 s, so its percentage shows
    TSite site(slow);
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Local + "/a.txt", QByteArray(5000, 'a'));
    WriteWholeFile(site.Server->LocalPath("/old.html"), "gone from the site");
    // One connection: with more, later files' lines come under big.bin's while it runs. No
    // password: the first operation that needs it asks.
    site.MakeProject(false, 1);
    auto w = std::make_unique<TWindow>(S{site.ProjectFile});
    TfrmMain *window = w->Window.get();
    // The first start: two thirds of the screen, centred.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window->size(), QSize(screen.width() * 2 / 3, screen.height() * 2 / 3));
    EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 2);
    EXPECT_EQ(w->Folders(), (S{site.Local, "css", "img"}));
    EXPECT_TRUE(
        window->windowTitle().contains(QString("ftp://127.0.0.1:%1/").arg(site.Server->Port)));
    EXPECT_EQ(w->Column(TFileListModel::colName), (S{"a.txt", "big.bin", "index.html"}));
    // Without a desktop icon theme every button still has its icon, clearly dimmer when
    // disabled; a page, an image and a folder look different.
    for (auto *button : window->pnlTools->findChildren<QToolButton *>()) {
        EXPECT_FALSE(button->icon().isNull()) << button->objectName().toStdString();
        EXPECT_LT(Ink(button->icon(), QIcon::Disabled), Ink(button->icon(), QIcon::Normal) / 2)
            << button->objectName().toStdString();
    }
    const auto look = [](const QModelIndex &index) {
        return index.data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
    };
    const QImage page = look(window->lvwFiles->model()->index(2, 0)),
                 folder = look(w->FolderIndex("img"));
    w->SelectFolder("img");
    const QImage image = look(window->lvwFiles->model()->index(1, 0));
    EXPECT_EQ(w->Column(TFileListModel::colName), (S{"empty.gif", "logo.png"}));
    EXPECT_TRUE(page != image && image != folder && folder != page);
    w->SelectFolder(site.Local);
    // A plain click on a row's status icon flips that file; the project is saved at once. It
    // records the time the refresh read: a file written since still shows as changed later.
    const qint32 scanned = GetFileAge(site.Local + "/index.html");
    SetFileAge(site.Local + "/index.html", 5000);
    w->ClickRow(2, TFileListModel::colStatus);
    EXPECT_EQ(w->Column(TFileListModel::colStatus),
              (S{"Need Upload", "Need Upload", "Synchronous"}));
    EXPECT_EQ(site.Record("index.html"), scanned);
    EXPECT_EQ(window->pnlStat->text(),
              QString(" 5 of 6 files (%1) need uploading").arg(FormatSize(306521)));
    w->ClickRow(2, TFileListModel::colStatus); // and back
    EXPECT_EQ(site.Record("index.html"), 0);

    // Marking a folder saves at once, its folders recorded as present.
    w->FolderMenu("img", window->miFolderSync);
    EXPECT_EQ(site.Record("img\\"), 1);
    EXPECT_EQ(site.Record("img\\logo.png"), GetFileAge(site.Local + "/img/logo.png"));
    EXPECT_EQ(window->pnlStat->text(),
              QString(" 4 of 6 files (%1) need uploading").arg(FormatSize(305039)));
    // Every file inside synchronous makes the folder itself synchronous.
    w->SelectFolder("css");
    w->ClickRow(0);
    window->mimSetAsSynchronous->trigger();
    EXPECT_EQ(site.Record("css\\style.css"), GetFileAge(site.Local + "/css/style.css"));
    // Synchronous files off hides them and their folders, and the project keeps the switch.
    ASSERT_TRUE(window->miViewSyncFiles->isChecked());
    window->miViewSyncFiles->trigger();
    EXPECT_EQ(w->Folders(), S{site.Local});
    EXPECT_EQ(window->tvwFolders->currentIndex().data().toString(), site.Local);
    EXPECT_EQ(w->Column(0), (S{"a.txt", "big.bin", "index.html"}));
    // Marking hides at once what turned synchronous, the next row selected; marking the root
    // for upload brings everything back.
    w->ClickRow(0);
    window->mimSetAsSynchronous->trigger();
    EXPECT_EQ(w->Column(0), (S{"big.bin", "index.html"}));
    EXPECT_EQ(window->lvwFiles->selectionModel()->selectedRows().value(0).data().toString(),
              "big.bin");
    w->FolderMenu(site.Local, window->miFolderUpload);
    EXPECT_EQ(w->Folders(), (S{site.Local, "css", "img"}));
    EXPECT_EQ(w->Column(0), (S{"a.txt", "big.bin", "index.html"}));
    window->SaveProject(true);
    {
        TProject stored;
        stored.Load(site.ProjectFile);
        EXPECT_FALSE(stored.Nodes("ViewSyncFiles")->AsBoolean());
    }
    window->miViewSyncFiles->trigger();
    EXPECT_EQ(w->Folders().size(), 3);
    w->FolderMenu("img", window->miFolderUpload);
    EXPECT_EQ(site.Record("img\\logo.png"), 0);

    // Upload: the last line whenever it shows a percentage.
    QStringList tails;
    QObject::connect(window->retLog->document(), &QTextDocument::contentsChanged, [&] {
        const QString last = window->retLog->document()->lastBlock().text();
        if (last.contains("% completed..."))
            tails << last;
    });
    {
        TModalAnswer password([&](QWidget *modal) {
            auto *dialog = qobject_cast<TfrmPasswordDlg *>(modal);
            ASSERT_TRUE(dialog);
            QStringList texts;
            for (const QLabel *label : dialog->findChildren<QLabel *>())
                texts << label->text();
            EXPECT_TRUE(texts.join(' ').contains(
                QString("%1 at 127.0.0.1:%2").arg(site.Server->User).arg(site.Server->Port)));
            QTest::keyClicks(dialog->edtPassword, site.Server->Password);
            QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        });
        ASSERT_TRUE(w->Run(window->sbUpload));
        EXPECT_TRUE(password.Answered());
    }
    window->retLog->document()->disconnect();
    const QStringList lines = w->LogLines();
    EXPECT_EQ(lines.first(), "Upload from " + site.Local + "/ to ftp://127.0.0.1/");
    EXPECT_EQ(lines.last(), "Operation was successfully completed");
    EXPECT_EQ(w->LineColour(int(lines.size()) - 1), QColor(0, 0, 255));
    const QString bigLine = "uploading " + site.Local + "/big.bin";
    EXPECT_LT(lines.indexOf("uploading " + site.Local + "/a.txt"), lines.indexOf(bigLine));
    // Percentages replaced each other on the file's line and went once the next line came.
    ASSERT_FALSE(tails.isEmpty());
    for (const QString &tail : tails)
        EXPECT_TRUE(tail.startsWith(bigLine + " - ") && tail.count("% completed...") == 1)
            << tail.toStdString();
    EXPECT_TRUE(lines.filter("completed...").isEmpty());
    EXPECT_EQ(window->pnlStat->text(), " 0 of 6 files need uploading");
    EXPECT_EQ(site.Record("big.bin"), GetFileAge(site.Local + "/big.bin"));
    // Ctrl+A selects the log's text in the log view, the files in the file view.
    window->activateWindow(); // the window's own Ctrl+A is in play only then
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    window->PageControl->setCurrentWidget(window->tstLog);
    QTest::keyClick(window->retLog, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window->retLog->textCursor().selectedText().size(),
              window->retLog->toPlainText().size());
    window->PageControl->setCurrentWidget(window->tstFiles);
    QTest::keyClick(window->lvwFiles, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window->lvwFiles->selectionModel()->selectedRows().size(), 2); // img's files

    // Removing what only the server holds asks first; Enter keeps the file.
    for (const auto button : {QMessageBox::NoButton, QMessageBox::Yes}) {
        TBoxAnswer answer(button);
        ASSERT_TRUE(w->Run(window->miRemove));
        EXPECT_TRUE(answer.Text.startsWith("The file \"/old.html\" exists on the server but"))
            << answer.Text.toStdString();
        EXPECT_EQ(QFileInfo::exists(site.Server->LocalPath("/old.html")),
                  button == QMessageBox::NoButton);
    }
    EXPECT_EQ(ReadWholeFile(site.Server->LocalPath("/big.bin")),
              ReadWholeFile(site.Local + "/big.bin"));

    // Upload on save: a file saved while the toggle is on goes up with no click.
    window->miUploadOnSave->trigger();
    ASSERT_TRUE(window->sbUploadOnSave->isChecked());
    const int finished = w->Finished;
    WriteWholeFile(site.Local + "/css/style.css", "body { color: blue }\n");
    ASSERT_TRUE(w->WaitForOperations(finished + 1));
    EXPECT_EQ(ReadWholeFile(site.Server->LocalPath("/css/style.css")), "body { color: blue }\n");
    window->miUploadOnSave->trigger();

    // The server browser gets the password outside its command line (other programs' don't count).
    window->ProgramFile = ZANDREL_BINARY_DIR "/app/zandrel";
    const auto listings = [&] { return site.Server->ProtocolLog().filter("MLSD").size(); };
    const auto listedBefore = listings();
    QTest::mouseClick(window->sbBrowseServer, Qt::LeftButton);
    const QString program = QFileInfo(window->ProgramFile).canonicalFilePath();
    const QByteArray password = site.Server->Password.toUtf8();
    bool shown = ReadWholeFile(QString("/proc/%1/cmdline").arg(QCoreApplication::applicationPid()))
                     .contains(password);
    qint64 child = 0;
    EXPECT_TRUE(WaitUntil([&] {
        for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
            if (QFileInfo("/proc/" + pid + "/exe").canonicalFilePath() != program)
                continue;
            const QByteArray arguments = ReadWholeFile("/proc/" + pid + "/cmdline");
            if (arguments.contains("FTPWindow") && arguments.contains(site.ProjectFile.toUtf8())) {
                child = pid.toLongLong();
                shown = shown || arguments.contains(password);
            }
        }
        return listings() > listedBefore;
    }));
    if (child)
        ::kill(pid_t(child), SIGTERM);
    EXPECT_NE(child, 0);
    EXPECT_FALSE(shown);
    EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(child); }, 10000));
    TProject stored; // the password was the run's
    stored.Load(site.ProjectFile);
    EXPECT_TRUE(stored.Nodes("Pass")->Value.isEmpty());

    // Closing while a slow upload runs asks; Enter keeps it running, Yes aborts and closes.
    WriteWholeFile(site.Local + "/huge.bin", QByteArray(4000000, 'h'));
    ASSERT_TRUE(w->Run(window->sbRefresh));
    QTest::mouseClick(window->sbUpload, Qt::LeftButton);
    ASSERT_TRUE(
        WaitUntil([&] { return w->LogLines().contains("uploading " + site.Local + "/huge.bin"); }));
    QString question;
    TModalAnswer enter([&](QWidget *box) {
        question = static_cast<QMessageBox *>(box)->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_FALSE(window->close());
    EXPECT_EQ(question, "Operation is not completed. Abort ?");
    EXPECT_TRUE(window->isVisible() && window->Running());
    TBoxAnswer yes(QMessageBox::Yes);
    window->close();
    EXPECT_TRUE(yes.Answer.Answered());
    ASSERT_TRUE(WaitUntil([&] { return !window->isVisible(); }, 5000));
    EXPECT_TRUE(w->LogLines().contains("Operation was aborted by user"));
    w.reset();
    // The next start without arguments opens the project closed last.
    TProject::CommandLineArguments = {};
    TWindow next({});
    EXPECT_EQ(next.Window->Project().FileName, site.ProjectFile);
}

// Names sort as the desktop's language sorts them: numbers by value, accents beside their
// letters, case ignored; both in the folder tree and in the file list.
TEST(MainWindow, NamesSortNaturallyInTheDesktopsLanguage)
{
    for (const char *language : {"de_DE", "fr_FR", "C"}) {
        QLocale::setDefault(QLocale(language));
        TFileList list; // as a scan leaves it: in code-point order
        list.LocalRoot = "/site/";
        TFileListItem *root = list.Add();
        root->IsFolder = true;
        for (const QString name :
             {"Bild 13", "Bild 13.png", "Bild 3", "Straße.html", "bild 3.png", "été", "été.html"}) {
            TFileListItem *item = list.Add();
            item->RelativeName = name;
            item->IsFolder = !name.contains('.');
            item->Index = list.Count() - 1;
            item->Parent = root;
            root->Children.push_back(item);
        }
        TFolderTreeModel tree;
        tree.Build(list, true);
        QStringList folders;
        for (int row = 0; row < tree.rowCount(tree.index(0, 0)); ++row)
            folders << tree.index(row, 0, tree.index(0, 0)).data().toString();
        EXPECT_EQ(folders, (S{"Bild 3", "Bild 13", "été"})) << language;
        TFileListModel files;
        files.Fill(list, root, true, TMask("/site/*"));
        files.Sort(1);
        QStringList names;
        for (int row = 0; row < files.rowCount(); ++row)
            names << files.Text(row, TFileListModel::colName);
        EXPECT_EQ(names, (S{"bild 3.png", "Bild 13.png", "été.html", "Straße.html"})) << language;
    }
    QLocale::setDefault(QLocale::system());
}

TEST(MainWindow, AFullDiskAtTheEndIsAnErrorLineNamingTheFileAndTheOldFileStays)
{
    RUN_ON_TINY_DISK();
    TSite site;
    ASSERT_TRUE(site.Server);
    const QString made = site.MakeProject();
    site.ProjectFile = TinyDisk() + "/site.zdx";
    ASSERT_TRUE(QFile::rename(made, site.ProjectFile));
    TWindow w({site.ProjectFile});
    const QByteArray opened = ReadWholeFile(site.ProjectFile);
    FillDisk(TinyDisk());
    ASSERT_TRUE(w.Run(w.Window->sbUpload));
    const QStringList lines = w.LogLines();
    const QString error = "Cannot write file " + site.ProjectFile + ": No space left on device";
    ASSERT_TRUE(lines.contains(error)) << lines.join('\n').toStdString();
    EXPECT_EQ(w.LineColour(int(lines.indexOf(error))), QColor(255, 0, 0));
    EXPECT_EQ(lines.last(), "Operation was completed with errors");
    EXPECT_EQ(ReadWholeFile(site.ProjectFile), opened);
    EXPECT_TRUE(site.ServerInStep());
}

TEST(MainWindow, ACertificateThatDoesNotVerifyIsShownAndTrustedOnlyWhenTheUserSaysSo)
{
    TPyftpdlibOptions tls;
    tls.Tls = true;
    TSite site(tls);
    ASSERT_TRUE(site.Server);
    site.MakeProject();
    // Uploads, answering the box `name`, whose default must be No, with `button`; its details.
    const auto upload = [](TWindow &w, const char *name, QMessageBox::StandardButton button) {
        QString details;
        TModalAnswer answer([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            ASSERT_TRUE(box && box->objectName() == name);
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            details = box->informativeText();
            box->button(button)->click();
        });
        EXPECT_TRUE(w.Run(w.Window->sbUpload));
        return details;
    };
    auto w = std::make_unique<TWindow>(S{site.ProjectFile});
    for (const auto button : {QMessageBox::No, QMessageBox::Yes}) {
        const QString details = upload(*w, "TrustCertificateBox", button);
        EXPECT_TRUE(details.contains("SHA-256 fingerprint: " + site.Server->CertificateFingerprint))
            << details.toStdString();
        EXPECT_EQ(site.ServerInStep(), button == QMessageBox::Yes);
        EXPECT_EQ(site.Server->ProtocolLog().filter("USER").isEmpty(), button == QMessageBox::No);
    }
    EXPECT_EQ(w->LogLines().filter(QRegularExpression("^connected with TLS")).size(), 1);
    w.reset();
    TProject stored;
    stored.Load(site.ProjectFile);
    EXPECT_EQ(stored.Nodes("TrustedCertificate")->AsString(), site.Server->CertificateFingerprint);

    // Someone strips TLS from now on: the window asks, and No sends no login.
    TFtpRelay attacker(site.Server->Port, true);
    stored.Nodes("Port")->SetAsInteger(attacker.Host.Port);
    stored.Save(false);
    WriteWholeFile(site.Local + "/index.html", "<html>changed</html>\n");
    w = std::make_unique<TWindow>(S{site.ProjectFile});
    EXPECT_TRUE(upload(*w, "PlainLoginBox", QMessageBox::No).contains("downgrade"));
    EXPECT_FALSE(attacker.Sent().contains("USER"));
    EXPECT_FALSE(site.ServerInStep());
}

// Another program's project is refused; once free it opens, and a second argument inside
// "1:2" starts the upload at once. The desktop learns to open project files with the program.
TEST(MainWindow, AProjectInUseElsewhereIsRefusedAndArgumentsInsideOneColonTwoUploadAtOnce)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject();
    {
        TProjectLock other; // holds it under another name: a link
        QString refusal, link = site.Folder.path() + "/link.zdx";
        ASSERT_TRUE(QFile::link(site.ProjectFile, link) && other.Lock(link, refusal));
        TBoxAnswer box(QMessageBox::Ok);
        TWindow w({site.ProjectFile}, false);
        ASSERT_TRUE(WaitUntil([&] { return box.Answer.Answered(); }));
        EXPECT_EQ(box.Text, QString("The project %1 is in use by test_main_window (process %2)")
                                .arg(site.ProjectFile)
                                .arg(QCoreApplication::applicationPid()));
        EXPECT_FALSE(w.Window->Project().Opened || w.Window->sbUpload->isEnabled());
        // Once it is free the window opens it, and then holds it against everyone else.
        other.Release();
        w.Window->OpenProject(site.ProjectFile);
        EXPECT_TRUE(w.WaitForOperations(1));
        EXPECT_TRUE(w.Window->Project().Opened);
        EXPECT_FALSE(other.Lock(link, refusal));
    }
    // The window wrote the file association for the desktop.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString entry = ReadWholeFile(data + "/applications/zandrel.desktop");
    EXPECT_TRUE(entry.contains("MimeType=application/x-zandrel-project;\n"));
    EXPECT_TRUE(entry.contains("Exec=" + QCoreApplication::applicationFilePath() + " %f 1\n"));
    EXPECT_TRUE(entry.contains("TryExec=" + QCoreApplication::applicationFilePath() + "\n"));
    EXPECT_TRUE(ReadWholeFile(data + "/mime/packages/zandrel.xml").contains("*.zdx"));
    // Installed system-wide beside its own entry: the one written above goes, the user's stays.
    QTemporaryDir prefix;
    for (const QString file : {"/bin/zandrel", "/share/applications/zandrel.desktop"})
        WriteWholeFile(prefix.path() + file, "");
    EXPECT_TRUE(RegisterFileAssociation(prefix.path() + "/bin/zandrel"));
    EXPECT_FALSE(QFileInfo::exists(data + "/applications/zandrel.desktop")
                 || QFileInfo::exists(data + "/mime/packages/zandrel.xml"));
    WriteWholeFile(data + "/applications/zandrel.desktop", "[Desktop Entry]\nName=Mine\n");
    EXPECT_TRUE(RegisterFileAssociation(prefix.path() + "/bin/zandrel"));
    EXPECT_TRUE(QFileInfo::exists(data + "/applications/zandrel.desktop"));
    EXPECT_TRUE(site.Server->ProtocolLog().isEmpty());
    for (const QString argument : {"", "3", "12"}) {
        TWindow w({site.ProjectFile, argument});
        EXPECT_EQ(w.Window->PageControl->currentWidget(), w.Window->tstFiles)
            << argument.toStdString();
        EXPECT_TRUE(w.LogLines().join(QString()).isEmpty());
    }
    {
        SetDefaultProject(site.ProjectFile);
        TBoxAnswer box(QMessageBox::Ok); // the launcher's Upload without a file
        TWindow w({"1"});
        EXPECT_TRUE(box.Text.startsWith("Upload needs a project"));
        EXPECT_EQ(w.Window->PageControl->currentWidget(), w.Window->tstFiles);
    }
    TWindow w({site.ProjectFile, ":"}); // inside "1:2"
    EXPECT_EQ(w.Window->PageControl->currentWidget(), w.Window->tstLog);
    EXPECT_TRUE(site.ServerInStep());
}
