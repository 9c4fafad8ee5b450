// The publishing engine without a server: the local scan and its statuses, statistics,
// the purge of stale records, the publish log, progress texts and alert sounds.
#include "engine/AlertSound.h"
#include "engine/FileLib.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

class TPublishOperatorAccess
{
public:
    static void PrepareProgress(TPublishOperator &op, qint64 total, qint64 done, qint32 filesDone,
                                qint32 filesTotal, qint64 fileSize)
    {
        op.TotalBytes = total;
        op.BytesDone = done;
        op.FilesDone = filesDone;
        op.FilesTotal = filesTotal;
        op.FileSize = fileSize;
        op.FileBytesDone = 0;
        op.m_sinceStart.start();
        op.m_sinceFile.start();
        op.m_sinceUpdate.invalidate();
    }
    static void Progress(TPublishOperator &op, qint64 bytes) { op.ProgressReport(bytes); }
};

namespace {

class LocalScan : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString root;
    TFileList list;
    TTestFrontEnd frontEnd;
    std::unique_ptr<TProject> project;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path() + QStringLiteral("/site/");
        QDir().mkpath(root);
        project = MakeTestProject(root);
    }

    void Write(const QString &relative, const QByteArray &data = "x")
    {
        WriteWholeFile(root + relative, data);
    }

    void Refresh()
    {
        ASSERT_TRUE(frontEnd.Run(list, pkRefresh, *project));
        ASSERT_FALSE(frontEnd.HadErrors) << frontEnd.Texts().join(QLatin1Char('\n')).toStdString();
    }

    QStringList Names() const
    {
        QStringList names;
        for (int i = 0; i < list.Count(); ++i)
            names.append(list.Items(i)->RelativeName);
        return names;
    }

    // What an upload records: every file's current time, 1 for every folder.
    void MarkAllUploaded()
    {
        for (int i = 0; i < list.Count(); ++i) {
            const TFileListItem *item = list.Items(i);
            project->Versions.FindOrAdd(item->RelativeName)->Date
                = item->IsFolder ? 1 : GetFileAge(item->GetLocalPath());
        }
    }

    bool Sync(const char *relative) const
    {
        const TFileListItem *item = FindItem(list, QString::fromUtf8(relative));
        EXPECT_NE(item, nullptr) << relative;
        return item && item->Synchronous;
    }

    void BuildSite()
    {
        Write(QStringLiteral("b.html"), QByteArray(100, 'h'));
        Write(QStringLiteral("A.pl"), "print 1;\n");
        Write(QStringLiteral("a.gif"), QByteArray(3000, 'g'));
        Write(QStringLiteral("exact.bin"), QByteArray(2048, 'e'));
        Write(QStringLiteral("Zeta.txt"));
        Write(QStringLiteral("zeta.txt"));
        Write(QStringLiteral("empty.dat"), QByteArray());
        Write(QStringLiteral("old.bak"));
        Write(QStringLiteral(".hidden"));
        Write(QStringLiteral(".htaccess"));
        Write(QStringLiteral("back\\slash"));
        Write(QStringLiteral("sub/c.css"));
        Write(QStringLiteral("sub/deep.bak"));
        Write(QStringLiteral("sub/inner/d.txt"));
        Write(QStringLiteral(".git/config"));
        QDir().mkpath(root + QStringLiteral("empty"));
        ::mkfifo(QFile::encodeName(root + QStringLiteral("fifo")).constData(), 0644);
        QFile::link(QStringLiteral("/nonexistent/target"), root + QStringLiteral("dangling"));
        QFile::link(root, root + QStringLiteral("loop"));
        // A linked folder outside the site is followed like a real one.
        WriteWholeFile(dir.path() + QStringLiteral("/outside/e.txt"), "e");
        QFile::link(dir.path() + QStringLiteral("/outside"), root + QStringLiteral("linked"));
    }
};

TEST_F(LocalScan, OrderFlagsAndIgnoredEntries)
{
    BuildSite();
    SetBool(*project, "SetPermission", true);
    SetText(*project, "SafeUploadSize", QStringLiteral("2"));
    Refresh();

    // Files before folders, names without regard to case (exact order breaks ties), then
    // each folder's subtree; the loop, the dangling link and the pipe are left out.
    const QStringList expected = {QString(),
                                  QStringLiteral(".htaccess"),
                                  QStringLiteral("a.gif"),
                                  QStringLiteral("A.pl"),
                                  QStringLiteral("b.html"),
                                  QStringLiteral("empty.dat"),
                                  QStringLiteral("exact.bin"),
                                  QStringLiteral("Zeta.txt"),
                                  QStringLiteral("zeta.txt"),
                                  QStringLiteral("empty\\"),
                                  QStringLiteral("linked\\"),
                                  QStringLiteral("sub\\"),
                                  QStringLiteral("linked\\e.txt"),
                                  QStringLiteral("sub\\c.css"),
                                  QStringLiteral("sub\\inner\\"),
                                  QStringLiteral("sub\\inner\\d.txt")};
    EXPECT_EQ(Names(), expected);
    // old.bak, .hidden, back\slash, .git (once, with its contents), sub/deep.bak.
    EXPECT_EQ(list.IgnoredCount, 5);

    for (int i = 0; i < list.Count(); ++i) {
        const TFileListItem *item = list.Items(i);
        EXPECT_EQ(item->Index, i + 1);
        EXPECT_EQ(item->Owner, &list);
        EXPECT_FALSE(item->Synchronous) << item->RelativeName.toStdString(); // a new project
        if (i > 0) {
            ASSERT_NE(item->Parent, nullptr);
            EXPECT_TRUE(item->Parent->IsFolder);
            EXPECT_LT(item->Parent->Index, item->Index);
            EXPECT_EQ(
                std::count(item->Parent->Children.begin(), item->Parent->Children.end(), item), 1);
        }
    }
    const TFileListItem *rootItem = list.Items(0);
    EXPECT_EQ(rootItem->Name, QStringLiteral("site"));
    EXPECT_EQ(rootItem->Parent, nullptr);
    EXPECT_EQ(rootItem->GetLocalPath(), root);

    const TFileListItem *pl = FindItem(list, QStringLiteral("A.pl"));
    EXPECT_TRUE(pl->IsAscii);
    EXPECT_TRUE(pl->SetExecPermission);
    const TFileListItem *gif = FindItem(list, QStringLiteral("a.gif"));
    EXPECT_FALSE(gif->IsAscii);
    EXPECT_FALSE(gif->SetExecPermission);
    EXPECT_TRUE(gif->UseSafeUpload);
    EXPECT_EQ(gif->Size, 3000);
    EXPECT_FALSE(FindItem(list, QStringLiteral("exact.bin"))->UseSafeUpload); // not above 2 KB
    EXPECT_TRUE(FindItem(list, QStringLiteral("b.html"))->IsAscii);
    EXPECT_FALSE(FindItem(list, QStringLiteral("b.html"))->SetExecPermission);

    const TFileListItem *inner = FindItem(list, QStringLiteral("sub\\inner\\"));
    EXPECT_EQ(inner->Name, QStringLiteral("inner"));
    EXPECT_EQ(inner->GetLocalPath(), root + QStringLiteral("sub/inner/"));
    const TFileListItem *d = FindItem(list, QStringLiteral("sub\\inner\\d.txt"));
    EXPECT_EQ(d->Name, QStringLiteral("d.txt"));
    EXPECT_EQ(inner->Children, std::vector<TFileListItem *>{const_cast<TFileListItem *>(d)});
    EXPECT_TRUE(FindItem(list, QStringLiteral("sub\\"))->IsAncestorOf(d));
    EXPECT_FALSE(d->IsAncestorOf(d));
    EXPECT_FALSE(FindItem(list, QStringLiteral("linked\\"))->IsAncestorOf(d));

    // The view is cleared before the list is emptied and refilled once after the scan.
    EXPECT_EQ(frontEnd.ClearViews, 1);
    EXPECT_EQ(frontEnd.FillViews, 1);
    EXPECT_TRUE(frontEnd.StatusTexts.contains(QStringLiteral("Scaning local folders")));
}

TEST_F(LocalScan, HiddenEntriesWhenNotIgnored)
{
    BuildSite();
    SetBool(*project, "IgnoreHiddenFiles", false);
    Refresh();
    EXPECT_NE(FindItem(list, QStringLiteral(".hidden")), nullptr);
    EXPECT_NE(FindItem(list, QStringLiteral(".git\\config")), nullptr);
    EXPECT_EQ(list.IgnoredCount, 3); // old.bak, back\slash, sub/deep.bak
}

TEST_F(LocalScan, StatusFollowsRecords)
{
    BuildSite();
    Refresh();
    MarkAllUploaded();
    Refresh();
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_TRUE(list.Items(i)->Synchronous) << list.Items(i)->RelativeName.toStdString();

    // An older time also counts as a change; only the file and its folders follow it.
    SetFileAge(root + QStringLiteral("sub/inner/d.txt"), 3600);
    Refresh();
    EXPECT_FALSE(Sync("sub\\inner\\d.txt"));
    EXPECT_FALSE(Sync("sub\\inner\\"));
    EXPECT_FALSE(Sync("sub\\"));
    EXPECT_FALSE(Sync(""));
    EXPECT_TRUE(Sync("sub\\c.css"));
    EXPECT_TRUE(Sync("linked\\e.txt"));
    EXPECT_TRUE(Sync("linked\\"));
    EXPECT_TRUE(Sync("b.html"));
    EXPECT_EQ(list.CountOutdated(true), 1);
    EXPECT_EQ(list.CountOutdated(false), 4);

    // A new empty folder needs upload, and so do its ancestors.
    MarkAllUploaded();
    QDir().mkpath(root + QStringLiteral("sub/new"));
    Refresh();
    EXPECT_FALSE(Sync("sub\\new\\"));
    EXPECT_FALSE(Sync("sub\\"));
    EXPECT_FALSE(Sync(""));
    EXPECT_TRUE(Sync("sub\\inner\\"));
    EXPECT_EQ(list.CountOutdated(true), 0);
}

TEST_F(LocalScan, SubfoldersLeftOut)
{
    BuildSite();
    Refresh();
    MarkAllUploaded();
    SetFileAge(root + QStringLiteral("sub/inner/d.txt"), 3600);
    project->Versions.FindOrAdd(QStringLiteral("empty\\"))->Date = 0;
    SetBool(*project, "IncSubDirs", false);
    Refresh();
    EXPECT_EQ(Names(), (QStringList{QString(), QStringLiteral(".htaccess"), QStringLiteral("a.gif"),
                                    QStringLiteral("A.pl"), QStringLiteral("b.html"),
                                    QStringLiteral("empty.dat"), QStringLiteral("exact.bin"),
                                    QStringLiteral("Zeta.txt"), QStringLiteral("zeta.txt"),
                                    QStringLiteral("empty\\"), QStringLiteral("linked\\"),
                                    QStringLiteral("sub\\")}));
    // Folders take their status from their own record only.
    EXPECT_TRUE(Sync("sub\\"));
    EXPECT_FALSE(Sync("empty\\"));
    EXPECT_FALSE(Sync(""));
}

TEST_F(LocalScan, EmptyFolderAndMissingFolder)
{
    Refresh();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_TRUE(list.Items(0)->Synchronous);
    EXPECT_EQ(list.Items(0)->RelativeName, QString());
    EXPECT_EQ(FormatStatistics(list), QStringLiteral("0 of 0 files need uploading"));

    SetText(*project, "Path", dir.path() + QStringLiteral("/missing"));
    Refresh();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.LocalRoot, dir.path() + QStringLiteral("/missing/"));
}

TEST_F(LocalScan, StatisticsReadSizesFromDisk)
{
    BuildSite();
    Refresh();
    MarkAllUploaded();
    SetFileAge(root + QStringLiteral("b.html"), 100);
    SetFileAge(root + QStringLiteral("sub/c.css"), 100);
    Refresh();

    // b.html (100 bytes) and sub/c.css (1 byte) need upload.
    EXPECT_EQ(FormatStatistics(list), QStringLiteral("2 of 11 files (101 byte) need uploading "
                                                     "(5 items are ignored)"));
    list.IgnoredCount = 0;
    EXPECT_EQ(FormatStatistics(list), QStringLiteral("2 of 11 files (101 byte) need uploading"));

    // Grow a file after the scan: the statistics see the disk, the list keeps its scan size.
    Write(QStringLiteral("b.html"), QByteArray(1500, 'h'));
    qint64 folders, files, total, outdatedFolders, outdatedFiles, outdatedSize;
    list.Items(0)->GetStatistics(folders, files, total, outdatedFolders, outdatedFiles,
                                 outdatedSize);
    EXPECT_EQ(folders, 4);
    EXPECT_EQ(files, 11);
    EXPECT_EQ(total, 1500 + 9 + 3000 + 2048 + 1 + 1 + 0 + 1 + 3 * 1);
    EXPECT_EQ(outdatedFolders, 1); // sub
    EXPECT_EQ(outdatedFiles, 2);
    EXPECT_EQ(outdatedSize, 1501);
    EXPECT_EQ(list.OutdatedSize(), 101);

    FindItem(list, QStringLiteral("sub\\"))
        ->GetStatistics(folders, files, total, outdatedFolders, outdatedFiles, outdatedSize);
    EXPECT_EQ(folders, 1);
    EXPECT_EQ(files, 2);
    EXPECT_EQ(outdatedFiles, 1);
}

TEST_F(LocalScan, PurgeRemovesRecordsOfVanishedItems)
{
    BuildSite();
    project->Versions.LoadFromText(
        QStringLiteral("5 gone.txt\r\n7 old.bak\r\n1 gone\\\r\n1 b.html\\\r\n"));
    project->Versions.FindOrAdd(QStringLiteral("0")); // no such file
    Refresh();
    QStringList names;
    for (int i = 0; i < project->Versions.Count(); ++i)
        names.append(project->Versions.Items(i)->FileName);
    // An ignored file that still exists keeps its record; a file is no folder.
    EXPECT_TRUE(names.contains(QStringLiteral("old.bak")));
    EXPECT_FALSE(names.contains(QStringLiteral("0")));
    EXPECT_FALSE(names.contains(QStringLiteral("gone.txt")));
    EXPECT_FALSE(names.contains(QStringLiteral("gone\\")));
    EXPECT_FALSE(names.contains(QStringLiteral("b.html\\")));
    // Every scanned item has a record now.
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_TRUE(names.contains(list.Items(i)->RelativeName));
}

// ---- publish log ----

QByteArray LogBlock(int number)
{
    QByteArray block = "\r\nStart: " + QByteArray::number(number) + "\r\n";
    for (int i = 0; i < 9; ++i)
        block += QByteArray(30, char('a' + i)) + "\r\n";
    return block; // 278 characters and 11 line ends: 300 bytes
}

TEST(PublishLog, TrimCutsWholeBlocksFromTheTop)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/site.log");
    QByteArray all;
    for (int i = 0; i < 10; ++i)
        all += LogBlock(i);
    ASSERT_EQ(all.size(), 3000);

    // Excess 256 + 1976: eight blocks and the first two lines of the ninth are counted,
    // then the rest of the ninth goes up to the next block's empty line.
    WriteWholeFile(file, all);
    TrimLog(file, 1024);
    EXPECT_EQ(ReadWholeFile(file), LogBlock(9));

    // A file exactly at the limit is trimmed too.
    WriteWholeFile(file, all.left(1200));
    TrimLog(file, 1200);
    EXPECT_EQ(ReadWholeFile(file), LogBlock(2) + LogBlock(3));

    WriteWholeFile(file, all.left(1200));
    TrimLog(file, 1201);
    EXPECT_EQ(ReadWholeFile(file), all.left(1200));

    // Line ends of any kind are read; the rewritten file uses CR LF.
    WriteWholeFile(file, "\nStart: 1\nabc\n\nStart: 2\rdef\r\n");
    TrimLog(file, 24);
    EXPECT_EQ(ReadWholeFile(file), QByteArray("\r\nStart: 2\r\ndef\r\n"));
}

TEST_F(LocalScan, LogGetsOneBlockPerOperation)
{
    const QString logFile = dir.path() + QStringLiteral("/logs/deeper/site.log");
    SetBool(*project, "SaveLog", true);
    SetText(*project, "LogFile", QStringLiteral("  ") + logFile + QStringLiteral(" "));

    Refresh(); // a refresh writes nothing
    EXPECT_FALSE(QFileInfo::exists(logFile));

    // An upload with nothing to send needs no server: one block each.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
        EXPECT_EQ(frontEnd.LastLine(), QStringLiteral("No files for uploading"));
    }
    QString text = QString::fromUtf8(ReadWholeFile(logFile));
    QStringList lines = text.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 13);
    EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[^\r]\n"))));
    for (int block = 0; block < 3; ++block) {
        EXPECT_EQ(lines[block * 4], QString());
        EXPECT_TRUE(lines[block * 4 + 1].startsWith(QStringLiteral("Start: ")));
        EXPECT_TRUE(lines[block * 4 + 1].contains(QStringLiteral(" Finish: ")));
        EXPECT_EQ(lines[block * 4 + 2],
                  QStringLiteral("Upload from ") + root + QStringLiteral(" to ftp://"));
        EXPECT_EQ(lines[block * 4 + 3], QStringLiteral("No files for uploading"));
    }

    // With a limit of 1 KB a long log is cut back to whole blocks.
    QByteArray old;
    for (int i = 0; i < 20; ++i)
        old += LogBlock(i % 10);
    WriteWholeFile(logFile, old);
    SetBool(*project, "CheckLogSize", true);
    SetText(*project, "MaxLogSize", QStringLiteral("1"));
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    const QByteArray trimmed = ReadWholeFile(logFile);
    EXPECT_LT(trimmed.size(), 1024);
    EXPECT_TRUE(trimmed.startsWith("\r\nStart: "));
    EXPECT_TRUE(trimmed.endsWith("No files for uploading\r\n"));
}

TEST_F(LocalScan, LogNamedAfterTheProjectFile)
{
    project->FileName = dir.path() + QStringLiteral("/me@host.zdx");
    SetBool(*project, "SaveLog", true);
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_TRUE(QFileInfo::exists(dir.path() + QStringLiteral("/me@host.log")));

    // A log that cannot be written leaves the outcome alone and is reported once.
    SetText(*project, "LogFile", dir.path()); // a folder
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors);
    EXPECT_EQ(frontEnd.Texts(1).size(), 1);
    EXPECT_TRUE(frontEnd.Texts(1).value(0).contains(dir.path()));
}

// ---- a failed connection ----

TEST_F(LocalScan, CompareWithoutServerStillRefreshes)
{
    Write(QStringLiteral("a.txt"));
    // A loopback port that nothing listens on.
    SetText(*project, "Host", QStringLiteral("127.0.0.1"));
    SetText(*project, "Port", QStringLiteral("1"));
    SetText(*project, "User", QStringLiteral("me"));
    project->SetPassword(QStringLiteral("secret"));
    ASSERT_TRUE(frontEnd.Run(list, pkCompare, *project));

    EXPECT_TRUE(frontEnd.HadErrors);
    EXPECT_EQ(frontEnd.Texts(1).size(), 1);
    EXPECT_EQ(frontEnd.Texts(0).value(0), QStringLiteral("Compare of the local and server files"));
    EXPECT_EQ(frontEnd.Texts(0).value(1), QStringLiteral("connecting to 127.0.0.1 port 1"));
    EXPECT_TRUE(frontEnd.TextsStartingWith(QStringLiteral("Server statistics")).isEmpty());
    EXPECT_EQ(list.Count(), 2); // the local refresh ran
    EXPECT_EQ(frontEnd.FillViews, 1);
    // The password is asked for again next time.
    EXPECT_TRUE(project->Password.isEmpty());
    EXPECT_FALSE(project->PasswordKnown);
    EXPECT_EQ(frontEnd.StatusTexts.value(frontEnd.StatusTexts.size() - 2), QString());
}

// ---- progress and time texts ----

TEST(ProgressReport, TimeTexts)
{
    EXPECT_EQ(DurationText(6000), QStringLiteral("2 hours"));  // 1:40:00
    EXPECT_EQ(DurationText(151), QStringLiteral("3 minutes")); // 0:02:31
    EXPECT_EQ(DurationText(150), QStringLiteral("2 minutes")); // 0:02:30
    EXPECT_EQ(DurationText(7), QStringLiteral("7 seconds"));
    EXPECT_EQ(DurationText(3605), QStringLiteral("1 hours"));      // 1:00:05
    EXPECT_EQ(DurationText(25 * 3600), QStringLiteral("1 hours")); // whole days dropped
    EXPECT_EQ(DurationText(0), QStringLiteral("0 seconds"));
    EXPECT_EQ(DurationText(-5), QStringLiteral("0 seconds"));
}

TEST(ProgressReport, CountersAndThrottle)
{
    QTemporaryDir dir;
    TFileList list;
    auto project = MakeTestProject(dir.path());
    TTestFrontEnd frontEnd;
    auto *op = new TPublishOperator(&list, pkUpload, project.get(), &frontEnd);

    // Byte counts beyond 32 bits: 3 GiB of 6 GiB is 50 %.
    const qint64 gib = qint64(1) << 30;
    TPublishOperatorAccess::PrepareProgress(*op, 6 * gib, 0, 3, 10, 0);
    TPublishOperatorAccess::Progress(*op, 3 * gib);
    TPublishOperatorAccess::Progress(*op, gib); // within 0.2 s: dropped
    TTestFrontEnd::Idle(50);
    EXPECT_EQ(frontEnd.Progress, QList<int>{50});
    ASSERT_EQ(frontEnd.StatusTexts.size(), 1);
    EXPECT_TRUE(frontEnd.StatusTexts[0].startsWith(QStringLiteral("Estimated time left: ")));
    EXPECT_TRUE(frontEnd.StatusTexts[0].contains(QStringLiteral(" (3 of 10 files uploaded).")));

    // Only empty files: a total of 0 bytes divides by nothing.
    TPublishOperatorAccess::PrepareProgress(*op, 0, 1, 0, 2, 0);
    TPublishOperatorAccess::Progress(*op, 0);
    TTestFrontEnd::Idle(50);
    EXPECT_EQ(frontEnd.StatusTexts.size(), 2);
    EXPECT_EQ(frontEnd.Progress.size(), 1);   // no bytes, no bar move
    EXPECT_TRUE(frontEnd.Appended.isEmpty()); // no file size, no percentage

    // After a second on one file the percentage of that file is appended to its line.
    TPublishOperatorAccess::PrepareProgress(*op, 1000, 1, 0, 1, 400);
    QThread::msleep(1100);
    TPublishOperatorAccess::Progress(*op, 100);
    TTestFrontEnd::Idle(50);
    EXPECT_EQ(frontEnd.Appended, QStringList{QStringLiteral(" - 25% completed...")});
    EXPECT_TRUE(frontEnd.StatusTexts.last().contains(QStringLiteral("  Transfer speed ")));
    EXPECT_TRUE(frontEnd.StatusTexts.last().endsWith(QStringLiteral(" KB/s")));
    delete op;
}

// ---- alert sounds ----

class AlertSounds : public ::testing::Test
{
protected:
    int beeps = 0;
    std::function<void()> saved;
    QTemporaryDir dir;
    void SetUp() override
    {
        saved = AlertBeep;
        AlertBeep = [this] { ++beeps; };
    }
    void TearDown() override { AlertBeep = saved; }
};

TEST_F(AlertSounds, FallBackToTheBeep)
{
    PlayAlertSound(QString());
    EXPECT_EQ(beeps, 1);
    PlayAlertSound(dir.path() + QStringLiteral("/missing.wav"));
    EXPECT_EQ(beeps, 2);

    // A file that is no sound: the beep comes, asynchronously, within the load limit.
    const QString corrupt = dir.path() + QStringLiteral("/corrupt.wav");
    WriteWholeFile(corrupt, QByteArray(4000, '\x5a'));
    PlayAlertSound(corrupt);
    QElapsedTimer clock;
    clock.start();
    while (beeps < 3 && clock.elapsed() < 5000)
        TTestFrontEnd::Idle(50);
    EXPECT_EQ(beeps, 3);
}

TEST_F(AlertSounds, ValidWaveDoesNotBeep)
{
    // 0.1 s of silence, 8 kHz, 8 bits, mono.
    QByteArray data(800, '\x80');
    QByteArray wav = "RIFF";
    auto le32 = [](quint32 v) {
        return QByteArray(1, char(v & 0xff)) + char((v >> 8) & 0xff) + char((v >> 16) & 0xff)
               + char((v >> 24) & 0xff);
    };
    auto le16 = [](quint16 v) { return QByteArray(1, char(v & 0xff)) + char(v >> 8); };
    wav += le32(36 + quint32(data.size())) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(8000)
           + le32(8000) + le16(1) + le16(8) + "data" + le32(quint32(data.size())) + data;
    const QString file = dir.path() + QStringLiteral("/silence.wav");
    WriteWholeFile(file, wav);
    PlayAlertSound(file);
    TTestFrontEnd::Idle(2500);
    EXPECT_EQ(beeps, 0);
}

TEST_F(AlertSounds, ErrorLinesPlayTheErrorSound)
{
    TFileList list;
    auto project = MakeTestProject(dir.path());
    SetText(*project, "Host", QStringLiteral("127.0.0.1"));
    SetText(*project, "Port", QStringLiteral("1"));
    TTestFrontEnd frontEnd;
    ASSERT_TRUE(frontEnd.Run(list, pkCompare, *project, 60000, [](TPublishOperator *op) {
        // Constructed on this thread and not touched by the worker.
        op->Settings.SoundEnabled = true;
    }));
    EXPECT_EQ(frontEnd.Texts(1).size(), 1);
    EXPECT_EQ(beeps, 1); // no error sound file: the beep
}

} // namespace
