// The main window driven through its own widgets against real FTP servers on loopback.
#include "app/keyring/SecretServiceKeyring.h"
#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "store/ProjectOptions.h"
#include "tests/support/FtpRelay.h"
#include "tests/support/FtpServers.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/PrivateKeyring.h"
#include "tests/support/TestSupport.h"
#include "ui/dialogs/Options.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/main/FileViewModels.h"
#include "ui/main/FolderProp.h"
#include "ui/main/main.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

// A site on disk, a server, and a project file that joins them.
struct TSite
{
    QTemporaryDir Folder;
    std::unique_ptr<TFtpTestServer> Server;
    QString Local;
    QString ProjectFile;

    explicit TSite(const TPyftpdlibOptions &options = {})
        : Server(StartPyftpdlib({}, options))
        , Local(Folder.path() + QStringLiteral("/site"))
    {
        WriteWholeFile(Local + QStringLiteral("/index.html"), "<html>home</html>\n");
        WriteWholeFile(Local + QStringLiteral("/big.bin"), QByteArray(300000, 'b'));
        WriteWholeFile(Local + QStringLiteral("/css/style.css"), "body { color: red }\n");
        WriteWholeFile(Local + QStringLiteral("/img/logo.png"), QByteArray(1500, 'p'));
        WriteWholeFile(Local + QStringLiteral("/img/empty.gif"), QByteArray());
    }

    QString MakeProject(bool storePassword = true, int connections = NewProjectConnections)
    {
        TProject project;
        project.Clear();
        project.InitDefaults();
        TProjectOptions options;
        options.Load(project);
        options.Path = Local;
        options.IncSubDirs = true;
        options.Host = Server->Host;
        options.Port = QString::number(Server->Port);
        options.User = Server->User;
        options.Pass = storePassword ? Server->Password : QString();
        options.RemotePath = QStringLiteral("/");
        options.Passive = true;
        options.Connections = connections;
        options.Save(project);
        QDir().mkpath(ProjectsFolder());
        project.FileName = ProjectsFolder() + QStringLiteral("site.zdx");
        project.Save(false);
        ProjectFile = project.FileName;
        return ProjectFile;
    }

    // As if `name` had been uploaded as it is now.
    void RecordUploaded(const QString &name)
    {
        TProject project;
        project.Load(ProjectFile);
        project.Versions.FindOrAdd(name)->Date = GetFileAge(Local + u'/' + name);
        project.Save(false);
    }

    bool ServerInStep() const { return TreeOf(Server->Root) == TreeOf(Local); }
};

// A shown main window with its first operation finished.
struct TWindow
{
    std::unique_ptr<TfrmMain> Window;
    int Finished = 0;

    explicit TWindow(const QStringList &arguments, bool waitForFirst = true)
        : Window(std::make_unique<TfrmMain>(arguments))
    {
        QObject::connect(Window.get(), &TfrmMain::OperationFinished, [this] { ++Finished; });
        Window->show();
        if (waitForFirst) {
            EXPECT_TRUE(WaitForOperations(1));
        }
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
    bool Run(QToolButton *button)
    {
        const int before = Finished;
        QTest::mouseClick(button, Qt::LeftButton);
        return WaitForOperations(before + 1);
    }
    QStringList LogLines() const
    {
        QStringList lines;
        for (QTextBlock b = Window->retLog->document()->begin(); b.isValid(); b = b.next())
            lines << b.text();
        return lines;
    }
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
    QStringList Folders() const
    {
        QStringList names;
        auto *model = Window->tvwFolders->model();
        std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
            for (int row = 0; row < model->rowCount(parent); ++row) {
                const QModelIndex index = model->index(row, 0, parent);
                names << index.data().toString();
                walk(index);
            }
        };
        walk({});
        return names;
    }
    QModelIndex FolderIndex(const QString &name) const
    {
        const auto found = Window->tvwFolders->model()->match(
            Window->tvwFolders->model()->index(0, 0), Qt::DisplayRole, name, 1,
            Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QModelIndex() : found.first();
    }
    void SelectFolder(const QString &name)
    {
        const QModelIndex index = FolderIndex(name);
        ASSERT_TRUE(index.isValid()) << name.toStdString();
        const QRect rect = Window->tvwFolders->visualRect(index);
        QTest::mouseClick(Window->tvwFolders->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void ClickRow(int row)
    {
        const QRect rect = Window->lvwFiles->visualRect(Window->lvwFiles->model()->index(row, 0));
        QTest::mouseClick(Window->lvwFiles->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void ClickHeader(int column)
    {
        QHeaderView *header = Window->lvwFiles->header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }
    // Right-click on a folder, then the pop-up menu's item.
    void FolderMenu(const QString &folder, const char *item)
    {
        const QModelIndex index = FolderIndex(folder);
        ASSERT_TRUE(index.isValid());
        const QPoint at = Window->tvwFolders->visualRect(index).center();
        QTest::mouseClick(Window->tvwFolders->viewport(), Qt::RightButton, {}, at);
        emit Window->tvwFolders->customContextMenuRequested(at);
        ASSERT_TRUE(WaitUntil([&] { return Window->ppmFolders->isVisible(); }, 5000));
        QAction *action = Window->findChild<QAction *>(QString::fromLatin1(item));
        ASSERT_TRUE(action && Window->ppmFolders->actions().contains(action)) << item;
        action->trigger();
        Window->ppmFolders->close();
    }
};

// A site with its project, open in a shown window.
struct TOpenSite : TSite
{
    std::unique_ptr<TWindow> W;
    explicit TOpenSite(const TPyftpdlibOptions &options = {},
                       int connections = NewProjectConnections)
        : TSite(options)
    {
        if (!Server)
            return;
        MakeProject(true, connections);
        W = std::make_unique<TWindow>(QStringList{ProjectFile});
    }
};

qint32 RecordOf(const QString &projectFile, const QString &name)
{
    TProject project;
    project.Load(projectFile);
    return project.Versions.FindOrAdd(name)->Date;
}

} // namespace

TEST(MainWindow, OpensTheProjectRefreshesAndShowsEachStatusWithItsIcon)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject();
    site.RecordUploaded(QStringLiteral("index.html"));
    TWindow w({site.ProjectFile});
    TfrmMain &window = *w.Window;
    EXPECT_EQ(window.PageControl->currentWidget(), window.tstFiles); // a refresh stays on the files
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Zandrel - site - ") + site.Local
                                        + QStringLiteral("/ --> ftp://127.0.0.1/"));
    EXPECT_EQ(w.Folders(), (QStringList{site.Local, QStringLiteral("css"), QStringLiteral("img")}));
    // Status order: need upload first, then scan order.
    EXPECT_EQ(w.Column(TFileListModel::colName),
              (QStringList{QStringLiteral("big.bin"), QStringLiteral("index.html")}));
    EXPECT_EQ(w.Column(TFileListModel::colStatus),
              (QStringList{QStringLiteral("Need Upload"), QStringLiteral("Synchronous")}));
    EXPECT_EQ(w.Column(TFileListModel::colSize),
              (QStringList{QStringLiteral("292 KB"), QStringLiteral("1 KB")}));
    auto *model = window.lvwFiles->model();
    const auto icon = [&](int row) {
        return model->index(row, TFileListModel::colStatus).data(Qt::DecorationRole).value<QIcon>();
    };
    EXPECT_FALSE(icon(0).isNull());
    EXPECT_NE(icon(0).cacheKey(), icon(1).cacheKey());
    // A folder whose files all need upload shows the changed-folder image; an empty file 0 KB.
    w.SelectFolder(QStringLiteral("img"));
    EXPECT_EQ(w.Column(TFileListModel::colSize),
              (QStringList{QStringLiteral("0 KB"), QStringLiteral("1 KB")}));
    EXPECT_EQ(window.pnlStat->text(), QStringLiteral(" 4 of 5 files (294.45 KB) need uploading"));
}

TEST(MainWindow, MarkingAFolderWritesItsRecordsSavesTheProjectAndUpdatesTheTree)
{
    TOpenSite site;
    ASSERT_TRUE(site.W);
    TWindow &w = *site.W;
    TfrmMain &window = *w.Window;
    const auto folderIcon = [&](const QString &name) {
        return w.FolderIndex(name).data(Qt::DecorationRole).value<QIcon>().cacheKey();
    };
    const qint64 changedIcon = folderIcon(QStringLiteral("img"));

    w.FolderMenu(QStringLiteral("img"), "miFolderSync");
    EXPECT_EQ(RecordOf(site.ProjectFile, QStringLiteral("img\\")), 1);
    EXPECT_EQ(RecordOf(site.ProjectFile, QStringLiteral("img\\logo.png")),
              GetFileAge(site.Local + QStringLiteral("/img/logo.png")));
    EXPECT_NE(folderIcon(QStringLiteral("img")), changedIcon);
    EXPECT_EQ(
        window.pnlStat->text(),
        QStringLiteral(" 3 of 5 files (%1) need uploading").arg(FormatSize(300000 + 18 + 21)));

    // Every file inside synchronous makes the folder itself synchronous.
    w.SelectFolder(QStringLiteral("css"));
    w.ClickRow(0);
    window.mimSetAsSynchronous->trigger();
    EXPECT_EQ(RecordOf(site.ProjectFile, QStringLiteral("css\\style.css")),
              GetFileAge(site.Local + QStringLiteral("/css/style.css")));
    EXPECT_EQ(folderIcon(QStringLiteral("css")), folderIcon(QStringLiteral("img")));

    w.FolderMenu(QStringLiteral("img"), "miFolderUpload");
    EXPECT_EQ(RecordOf(site.ProjectFile, QStringLiteral("img\\logo.png")), 0);
    EXPECT_EQ(folderIcon(QStringLiteral("img")), changedIcon);

    // A plain click on a row's status icon flips that file.
    w.SelectFolder(QStringLiteral("css"));
    QHeaderView *header = window.lvwFiles->header();
    const QRect row = window.lvwFiles->visualRect(window.lvwFiles->model()->index(0, 0));
    QTest::mouseClick(
        window.lvwFiles->viewport(), Qt::LeftButton, {},
        QPoint(header->sectionViewportPosition(TFileListModel::colStatus) + 8, row.center().y()));
    EXPECT_EQ(w.Column(TFileListModel::colStatus), QStringList{QStringLiteral("Need Upload")});
    EXPECT_EQ(RecordOf(site.ProjectFile, QStringLiteral("css\\style.css")), 0);
}

TEST(MainWindow, SortsByEveryColumnTogglesOnTheSameHeaderAndArrangesAscending)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Local + QStringLiteral("/a.txt"), QByteArray(5000, 'a'));
    SetFileAge(site.Local + QStringLiteral("/a.txt"), 3600);
    SetFileAge(site.Local + QStringLiteral("/big.bin"), 7200);
    site.MakeProject();
    site.RecordUploaded(QStringLiteral("big.bin"));
    TWindow w({site.ProjectFile});
    const QStringList scanOrder{QStringLiteral("a.txt"), QStringLiteral("big.bin"),
                                QStringLiteral("index.html")};
    EXPECT_EQ(w.Column(0), (QStringList{QStringLiteral("a.txt"), QStringLiteral("index.html"),
                                        QStringLiteral("big.bin")}));
    w.ClickHeader(TFileListModel::colName);
    EXPECT_EQ(w.Window->SortColumn(), 1);
    EXPECT_EQ(w.Column(0), scanOrder);
    w.ClickHeader(TFileListModel::colName);
    EXPECT_EQ(w.Window->SortColumn(), -1);
    EXPECT_EQ(w.Column(0), (QStringList{scanOrder[2], scanOrder[1], scanOrder[0]}));
    w.ClickHeader(TFileListModel::colName);
    EXPECT_EQ(w.Column(0), scanOrder);
    w.ClickHeader(TFileListModel::colSize);
    EXPECT_EQ(w.Column(0), (QStringList{QStringLiteral("index.html"), QStringLiteral("a.txt"),
                                        QStringLiteral("big.bin")}));
    w.ClickHeader(TFileListModel::colModified);
    EXPECT_EQ(w.Column(0), (QStringList{QStringLiteral("big.bin"), QStringLiteral("a.txt"),
                                        QStringLiteral("index.html")}));
    w.ClickHeader(TFileListModel::colModified);
    EXPECT_EQ(w.Column(0), (QStringList{QStringLiteral("index.html"), QStringLiteral("a.txt"),
                                        QStringLiteral("big.bin")}));
    EXPECT_EQ(w.Window->lvwFiles->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    w.ClickHeader(TFileListModel::colStatus);
    EXPECT_EQ(w.Column(1),
              (QStringList{QStringLiteral("Need Upload"), QStringLiteral("Need Upload"),
                           QStringLiteral("Synchronous")}));
    w.ClickHeader(TFileListModel::colStatus);
    EXPECT_EQ(w.Column(1).first(), QStringLiteral("Synchronous"));
    // "Arrange by" after a descending header: ascending again.
    w.Window->miArrangeByRemoteDate->trigger();
    EXPECT_EQ(w.Window->SortColumn(), 3);
    EXPECT_EQ(w.Column(0).last(), QStringLiteral("big.bin"));
}

TEST(MainWindow, SynchronousFilesOffHidesSynchronousFilesAndFoldersAndIsStored)
{
    TOpenSite site;
    ASSERT_TRUE(site.W);
    TWindow &w = *site.W;
    TfrmMain &window = *w.Window;
    w.FolderMenu(QStringLiteral("css"), "miFolderSync");
    w.SelectFolder(site.Local);
    w.ClickRow(0); // big.bin; the list has the focus now, so the mark is for its rows
    window.mimSetAsSynchronous->trigger();
    w.SelectFolder(QStringLiteral("css"));
    ASSERT_TRUE(window.miViewSyncFiles->isChecked());

    window.miViewSyncFiles->trigger();
    EXPECT_EQ(w.Folders(), (QStringList{site.Local, QStringLiteral("img")}));
    // The selected folder is gone: the root is selected instead.
    EXPECT_EQ(window.tvwFolders->currentIndex().data().toString(), site.Local);
    EXPECT_EQ(w.Column(0), QStringList{QStringLiteral("index.html")});
    window.SaveProject(true);
    TProject stored;
    stored.Load(site.ProjectFile);
    EXPECT_FALSE(stored.Nodes(QStringLiteral("ViewSyncFiles"))->AsBoolean());

    window.miViewSyncFiles->trigger();
    EXPECT_EQ(w.Folders().size(), 3);
    EXPECT_EQ(w.Column(0).size(), 2);
}

TEST(MainWindow, UploadLogsItsLinesInOrderWithColoursReplacesThePercentageAndLeavesTheServerInStep)
{
    TPyftpdlibOptions slow;
    slow.BandwidthLimit = 100000; // big.bin takes about 3 s, so its percentage shows
    // One connection: with more, later files' lines come under big.bin's while it runs.
    TOpenSite site(slow, 1);
    ASSERT_TRUE(site.W);
    TWindow &w = *site.W;
    TfrmMain &window = *w.Window;

    // Watch the last line while the upload runs.
    QStringList tails;
    QObject::connect(window.retLog->document(), &QTextDocument::contentsChanged, [&] {
        const QString last = window.retLog->document()->lastBlock().text();
        if (last.contains(QLatin1String("% completed...")))
            tails << last;
    });
    ASSERT_TRUE(w.Run(window.sbUpload));
    EXPECT_EQ(window.PageControl->currentWidget(), window.tstLog);
    EXPECT_TRUE(site.ServerInStep());

    const QStringList lines = w.LogLines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.first(), QStringLiteral("Upload from ") + site.Local
                                 + QStringLiteral("/ to ftp://127.0.0.1/"));
    EXPECT_EQ(lines.last(), QStringLiteral("Operation was successfully completed"));
    EXPECT_EQ(w.LineColour(int(lines.size()) - 1), QColor(0, 0, 255));
    EXPECT_EQ(w.LineColour(0), QColor(0, 0, 0));
    const QString bigLine = QStringLiteral("uploading ") + site.Local + QStringLiteral("/big.bin");
    EXPECT_TRUE(lines.contains(bigLine));
    EXPECT_LT(lines.indexOf(bigLine), lines.indexOf(QStringLiteral("uploading ") + site.Local
                                                    + QStringLiteral("/index.html")));
    // Percentages replaced each other on the file's line and are gone once the next line came.
    ASSERT_FALSE(tails.isEmpty());
    for (const QString &tail : tails) {
        EXPECT_TRUE(tail.startsWith(bigLine + QStringLiteral(" - "))) << tail.toStdString();
        EXPECT_EQ(tail.count(QLatin1String("% completed...")), 1) << tail.toStdString();
    }
    for (const QString &line : lines)
        EXPECT_FALSE(line.contains(QLatin1String("completed..."))) << line.toStdString();
    EXPECT_EQ(window.pnlStat->text(), QStringLiteral(" 0 of 5 files need uploading"));
    // Each file's report made its folders synchronous, up to the root.
    for (int i = 0; i < window.FileList().Count(); ++i)
        EXPECT_TRUE(window.FileList().Items(i)->Synchronous) << i;
    EXPECT_EQ(RecordOf(site.ProjectFile, QStringLiteral("big.bin")),
              GetFileAge(site.Local + QStringLiteral("/big.bin")));
}

TEST(MainWindow, AFullDiskAtTheEndIsAnErrorLineNamingTheFileAndTheOldFileStays)
{
    RUN_ON_TINY_DISK();
    TSite site;
    ASSERT_TRUE(site.Server);
    const QString made = site.MakeProject();
    site.ProjectFile = TinyDisk() + QStringLiteral("/site.zdx");
    ASSERT_TRUE(QFile::rename(made, site.ProjectFile));
    TWindow w({site.ProjectFile});
    const QByteArray opened = ReadWholeFile(site.ProjectFile);
    FillDisk(TinyDisk());
    ASSERT_TRUE(w.Run(w.Window->sbUpload));
    const QStringList lines = w.LogLines();
    EXPECT_TRUE(lines.contains(QStringLiteral("Cannot write file ") + site.ProjectFile
                               + QStringLiteral(": No space left on device")))
        << lines.join('\n').toStdString();
    EXPECT_EQ(lines.last(), QStringLiteral("Operation was completed with errors"));
    EXPECT_FALSE(lines.contains(QStringLiteral("Operation was successfully completed")));
    EXPECT_EQ(ReadWholeFile(site.ProjectFile), opened);
    EXPECT_TRUE(site.ServerInStep());
}

TEST(MainWindow, LogAppendsReplaceEachOtherAndAFollowingLineDropsThem)
{
    TfrmMain window({});
    window.AddLogLine(0, QStringLiteral("first"));
    window.AppendLogTextToLog(QStringLiteral(" - 10%"));
    window.AppendLogTextToLog(QStringLiteral(" - 20%"));
    EXPECT_EQ(window.retLog->toPlainText(), QStringLiteral("first - 20%"));
    window.AddLogLine(1, QStringLiteral("second"));
    EXPECT_EQ(window.retLog->toPlainText(), QStringLiteral("first\nsecond"));
    const QTextBlock second = window.retLog->document()->lastBlock();
    EXPECT_EQ(second.begin().fragment().charFormat().foreground().color(), QColor(255, 0, 0));
}

TEST(MainWindow, AbortDuringASlowUploadEndsWithinHalfASecondAndRefreshes)
{
    TPyftpdlibOptions slow;
    slow.BandwidthLimit = 20000;
    TSite site(slow);
    ASSERT_TRUE(site.Server);
    WriteWholeFile(site.Local + QStringLiteral("/huge.bin"), QByteArray(4000000, 'h'));
    site.MakeProject();
    TWindow w({site.ProjectFile});
    TfrmMain &window = *w.Window;
    QTest::mouseClick(window.sbUpload, Qt::LeftButton);
    ASSERT_TRUE(
        WaitUntil([&] { return w.LogLines().join(u'\n').contains(QLatin1String("uploading")); }));
    QTest::qWait(300);
    ASSERT_TRUE(window.Running());

    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(window.sbAbort, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return w.Finished >= 2; }, 5000));
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_TRUE(w.LogLines().contains(QStringLiteral("Operation was aborted by user")));
    // The aborted upload is followed by a refresh; the window stays usable.
    ASSERT_TRUE(w.WaitForOperations(3));
    EXPECT_TRUE(window.sbUpload->isEnabled());
    EXPECT_FALSE(window.sbAbort->isEnabled());
}

TEST(MainWindow, ClosingDuringAnOperationAsksAndOnlyYesAbortsAndCloses)
{
    TPyftpdlibOptions slow;
    slow.BandwidthLimit = 20000;
    TOpenSite site(slow);
    ASSERT_TRUE(site.W);
    TWindow &w = *site.W;
    TfrmMain &window = *w.Window;
    QTest::mouseClick(window.sbUpload, Qt::LeftButton);
    ASSERT_TRUE(
        WaitUntil([&] { return w.LogLines().join(u'\n').contains(QLatin1String("uploading")); }));

    {
        TBoxAnswer no(QMessageBox::No);
        EXPECT_FALSE(window.close());
        EXPECT_EQ(no.Text, QStringLiteral("Operation is not completed. Abort ?"));
    }
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.Running());
    {
        TBoxAnswer yes(QMessageBox::Yes);
        window.close();
        EXPECT_TRUE(yes.Answer.Answered());
    }
    ASSERT_TRUE(WaitUntil([&] { return !window.isVisible(); }, 5000));
    EXPECT_TRUE(w.LogLines().contains(QStringLiteral("Operation was aborted by user")));
    EXPECT_EQ(QSettings().value(QStringLiteral("DefaultProject")).toString(), site.ProjectFile);
}

TEST(MainWindow, AProjectWithoutPasswordAsksForItBeforeUploading)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject(false);
    TWindow w({site.ProjectFile});
    TfrmMain &window = *w.Window;
    bool asked = false;
    TModalAnswer answer([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmPasswordDlg *>(modal);
        ASSERT_TRUE(dialog);
        asked = true;
        QTest::keyClicks(dialog->edtPassword, site.Server->Password);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    ASSERT_TRUE(w.Run(window.sbUpload));
    EXPECT_TRUE(asked);
    EXPECT_TRUE(site.ServerInStep());
    // The password is the run's, not stored.
    TProject stored;
    stored.Load(site.ProjectFile);
    EXPECT_TRUE(stored.Nodes(QStringLiteral("Pass"))->Value.isEmpty());
}

// With a keyring (a private Secret Service), the window's first save of a project whose file
// holds the password moves it there, says so in the log, and later runs read it from there.
TEST(MainWindow, APasswordTheFileHoldsMovesIntoTheKeyringWithALogLine)
{
    const QString bus = PrivateKeyringBus();
    ASSERT_FALSE(bus.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject(); // without a keyring: the file holds the password
    TSecretServiceKeyring keyring;
    TProject::Keyring = &keyring;
    const std::shared_ptr<void> uninstall(nullptr, [](void *) { TProject::Keyring = nullptr; });
    TXMLStore pass;
    pass.SetAsPassword(site.Server->Password);
    const QByteArray scrambled = TXMLStore::Escape(pass.Value, true).toUtf8(); // as written
    ASSERT_TRUE(ReadWholeFile(site.ProjectFile).contains(scrambled));
    {
        TWindow w({site.ProjectFile}); // refreshes, then saves the project
        EXPECT_TRUE(w.LogLines().contains("The FTP password of " + site.ProjectFile
                                          + " was moved from the project file into the "
                                            "desktop's keyring"))
            << w.LogLines().join('\n').toStdString();
        EXPECT_FALSE(ReadWholeFile(site.ProjectFile).contains(scrambled));
        ASSERT_TRUE(w.Run(w.Window->sbUpload));
        EXPECT_TRUE(site.ServerInStep());
    }
    TProject stored;
    stored.Load(site.ProjectFile);
    EXPECT_TRUE(stored.PasswordInKeyring());
}

TEST(MainWindow, ACertificateThatDoesNotVerifyIsShownAndTrustedOnlyWhenTheUserSaysSo)
{
    TPyftpdlibOptions tls;
    tls.Tls = true;
    TSite site(tls);
    ASSERT_TRUE(site.Server);
    site.MakeProject();
    // Answers the next question box, which must be `name`, with `button`; its details.
    const auto answerWith = [](TWindow &w, const char *name, QMessageBox::StandardButton button) {
        QString details;
        TModalAnswer answer([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            ASSERT_TRUE(box);
            EXPECT_EQ(box->objectName(), QLatin1String(name));
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            details = box->informativeText();
            box->button(button)->click();
        });
        EXPECT_TRUE(w.Run(w.Window->sbUpload));
        return details;
    };
    {
        TWindow w({site.ProjectFile});
        for (const auto button : {QMessageBox::No, QMessageBox::Yes}) {
            const QString details = answerWith(w, "TrustCertificateBox", button);
            EXPECT_TRUE(details.contains(QStringLiteral("SHA-256 fingerprint: ")
                                         + site.Server->CertificateFingerprint))
                << details.toStdString();
            EXPECT_EQ(site.ServerInStep(), button == QMessageBox::Yes);
            if (button == QMessageBox::No) {
                EXPECT_TRUE(site.Server->ProtocolLog().filter(QStringLiteral("USER")).isEmpty());
            }
        }
        EXPECT_TRUE(
            w.LogLines().filter(QRegularExpression(QStringLiteral("^connected with TLS"))).size()
            == 1);
    }
    TProject stored;
    stored.Load(site.ProjectFile);
    EXPECT_EQ(stored.Nodes(QStringLiteral("TrustedCertificate"))->AsString(),
              site.Server->CertificateFingerprint);

    // Someone strips TLS from now on: the window asks, and No sends no login.
    TFtpRelay attacker(site.Server->Port, true);
    stored.Nodes(QStringLiteral("Port"))->SetAsString(QString::number(attacker.Host.Port));
    stored.Save(false);
    WriteWholeFile(site.Local + QStringLiteral("/index.html"), "<html>changed</html>\n");
    TWindow w({site.ProjectFile});
    EXPECT_TRUE(answerWith(w, "PlainLoginBox", QMessageBox::No).contains("downgrade"));
    EXPECT_FALSE(attacker.Sent().contains("USER"));
    EXPECT_FALSE(site.ServerInStep());
}

TEST(MainWindow, StartsTheUploadAtOnceOnlyForArgumentsInsideOneColonTwo)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject();
    for (const QString &argument : {QStringLiteral("3"), QStringLiteral("12")}) {
        TWindow w({site.ProjectFile, argument});
        EXPECT_EQ(w.Window->PageControl->currentWidget(), w.Window->tstFiles)
            << argument.toStdString();
        EXPECT_TRUE(w.LogLines().join(QString()).isEmpty());
    }
    TWindow w({site.ProjectFile, QStringLiteral(":")});
    EXPECT_EQ(w.Window->PageControl->currentWidget(), w.Window->tstLog);
    EXPECT_TRUE(w.LogLines().contains(QStringLiteral("Operation was successfully completed")));
    EXPECT_TRUE(site.ServerInStep());
}

TEST(MainWindow, ClosingStoresTheDefaultProjectThatTheNextStartOpens)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject();
    {
        TWindow w({site.ProjectFile});
        EXPECT_TRUE(w.Window->close());
    }
    TProject::CommandLineArguments = {};
    TWindow w({});
    EXPECT_EQ(w.Window->Project().FileName, site.ProjectFile);
    EXPECT_EQ(w.Folders().size(), 3);
    // The project list names it, checked.
    w.Window->miProject->popup(QPoint(0, 0));
    // Items of earlier builds of the menu may still wait for deletion, so look in the menu.
    QAction *item = nullptr;
    for (QAction *action : w.Window->miProject->actions())
        if (action->objectName() == QStringLiteral("miProjectFile1"))
            item = action;
    ASSERT_TRUE(item);
    EXPECT_EQ(item->text(), QStringLiteral("&1 site"));
    EXPECT_TRUE(item->isChecked());
    w.Window->miProject->close();
}

TEST(MainWindow, WritesTheFileAssociationForTheDesktop)
{
    TfrmMain window({});
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString entry
        = QString::fromUtf8(ReadWholeFile(data + QStringLiteral("/applications/zandrel.desktop")));
    EXPECT_TRUE(entry.contains(QStringLiteral("MimeType=application/x-zandrel-project;\n")));
    EXPECT_TRUE(entry.contains(QStringLiteral("Exec=") + QCoreApplication::applicationFilePath()
                               + QStringLiteral(" %f 1\n")));
    EXPECT_TRUE(ReadWholeFile(data + QStringLiteral("/mime/packages/zandrel.xml"))
                    .contains("<glob pattern=\"*.zdx\"/>"));
    const QString validate
        = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validate.isEmpty()) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(validate, {data + QStringLiteral("/applications/zandrel.desktop")});
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
    }
}

TEST(FolderProperties, CountFilesAndFoldersInsideWithTheirCurrentSizes)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject();
    TWindow w({site.ProjectFile});
    TFileList &list = w.Window->FileList();
    // Grown after the scan: counted with its size now.
    WriteWholeFile(site.Local + QStringLiteral("/img/logo.png"), QByteArray(2048, 'p'));
    TfrmFolderProp dialog;
    dialog.Fill(*list.Items(0));
    EXPECT_EQ(dialog.lblLocation->text(), site.Local);
    EXPECT_EQ(dialog.lblContains->text(), QStringLiteral("5 files, 2 folders"));
    EXPECT_EQ(dialog.lblSize->text(), FormatSize(300000 + 18 + 21 + 2048));
    EXPECT_EQ(dialog.lblNeedUpload->text(),
              QStringLiteral("5 files (%1)").arg(FormatSize(300000 + 18 + 21 + 2048)));
}

TEST(MainWindow, BrowseTheServerFolderHandsThePasswordToTheChildOutsideItsCommandLine)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject(false);
    TWindow w({site.ProjectFile});
    w.Window->ProgramFile = QStringLiteral(ZANDREL_BINARY_DIR "/app/zandrel");
    TModalAnswer answer([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmPasswordDlg *>(modal);
        ASSERT_TRUE(dialog);
        QTest::keyClicks(dialog->edtPassword, site.Server->Password);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    QTest::mouseClick(w.Window->sbBrowseServer, Qt::LeftButton);
    ASSERT_TRUE(answer.Answered());

    // Neither the window's process nor the child shows the password in its arguments meanwhile.
    // (Servers and other tests' programs may have it on their command lines: they don't count.)
    const QString program = QFileInfo(w.Window->ProgramFile).canonicalFilePath();
    const qint64 self = QCoreApplication::applicationPid();
    bool shown = ReadWholeFile(QStringLiteral("/proc/%1/cmdline").arg(self))
                     .contains(site.Server->Password.toUtf8());
    qint64 child = 0;
    const bool listed = WaitUntil([&] {
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            const QString exe
                = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath();
            if (exe != program)
                continue;
            const QByteArray arguments = ReadWholeFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!arguments.contains("FTPWindow") || !arguments.contains(site.ProjectFile.toUtf8()))
                continue;
            child = pid.toLongLong();
            if (arguments.contains(site.Server->Password.toUtf8()))
                shown = true;
        }
        const QStringList log = site.Server->ProtocolLog();
        return log.contains(QStringLiteral("MLSD"));
    });
    if (child)
        ::kill(pid_t(child), SIGTERM);
    EXPECT_TRUE(listed) << site.Server->ProtocolLog().join(u' ').toStdString();
    EXPECT_NE(child, 0);
    EXPECT_FALSE(shown);
    EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(child); }, 10000));
}

TEST(MainWindow, AProjectInUseElsewhereIsRefusedNamingItsHolderAndStaysClosed)
{
    TSite site;
    ASSERT_TRUE(site.Server);
    site.MakeProject();
    // Another program (this test) has it: the window says who, and opens nothing.
    TProjectLock other;
    QString refusal;
    ASSERT_TRUE(other.Lock(site.ProjectFile, refusal)) << refusal.toStdString();
    TBoxAnswer box(QMessageBox::Ok);
    TWindow w({site.ProjectFile}, false);
    ASSERT_TRUE(WaitUntil([&] { return box.Answer.Answered(); }));
    EXPECT_EQ(box.Text, QStringLiteral("The project %1 is in use by test_main_window (process %2)")
                            .arg(site.ProjectFile)
                            .arg(QCoreApplication::applicationPid()));
    EXPECT_FALSE(w.Window->Project().Opened);
    EXPECT_FALSE(w.Window->sbUpload->isEnabled());
    EXPECT_TRUE(site.Server->ProtocolLog().isEmpty());
    // Once it is free the window opens it, and then holds it against everyone else.
    other.Release();
    w.Window->OpenProject(site.ProjectFile);
    EXPECT_TRUE(w.WaitForOperations(1));
    EXPECT_TRUE(w.Window->Project().Opened);
    EXPECT_FALSE(other.Lock(site.ProjectFile, refusal));
}

TEST(MainWindow, WithoutAProjectTheNewProjectDialogOpensAndCancelLeavesNothingOpen)
{
    QSettings().setValue(QStringLiteral("DefaultProject"), QStringLiteral("/nowhere/gone.zdx"));
    QString caption;
    TModalAnswer answer([&](QWidget *modal) {
        caption = modal->windowTitle();
        ASSERT_TRUE(qobject_cast<TfrmOptions *>(modal));
        static_cast<QDialog *>(modal)->reject();
    });
    TWindow w({}, false);
    ASSERT_TRUE(WaitUntil([&] { return answer.Answered(); }));
    EXPECT_EQ(caption, QStringLiteral("Project Options"));
    EXPECT_FALSE(w.Window->Project().Opened);
    EXPECT_EQ(w.Window->windowTitle(), QStringLiteral("Zandrel"));
    EXPECT_FALSE(w.Window->sbUpload->isEnabled());
    EXPECT_FALSE(w.Window->miTools->menuAction()->isVisible());
    // The stale default is gone.
    EXPECT_FALSE(QSettings().contains(QStringLiteral("DefaultProject")));
}
