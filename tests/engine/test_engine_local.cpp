// The publishing engine without a server: the local scan and its statuses, statistics, the purge
// of stale records, the publish log, a failed connection and alert sounds.
#include "engine/AlertSound.h"
#include "engine/FileLib.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <sys/stat.h>

class LocalScan : public SiteTest
{
protected:
    std::unique_ptr<TProject> project = MakeTestProject(site);

    void SetUp() override { QDir().mkpath(site); }
    void Refresh()
    {
        ASSERT_TRUE(frontEnd.Run(list, pkRefresh, *project));
        ASSERT_FALSE(frontEnd.HadErrors) << frontEnd.Lines.join('\n').toStdString();
    }
    // Every item in list order: relative name, then its flags (Ascii, eXecutable, Safe upload,
    // Synchronous).
    QStringList Items() const
    {
        QStringList items;
        for (int i = 0; i < list.Count(); ++i) {
            const TFileListItem *item = list.Items(i);
            items << item->RelativeName + (item->IsAscii ? " a" : " ")
                         + (item->SetExecPermission ? "x" : "") + (item->UseSafeUpload ? "s" : "")
                         + (item->Synchronous ? "=" : "");
        }
        return items;
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
    void BuildSite()
    {
        WriteWholeFile(site + "b.html", QByteArray(100, 'h'));
        WriteWholeFile(site + "A.pl", "print 1;\n");
        WriteWholeFile(site + "a.gif", QByteArray(3000, 'g'));
        WriteWholeFile(site + "exact.bin", QByteArray(2048, 'e'));
        WriteWholeFile(site + "empty.dat", QByteArray());
        for (const char *name :
             {"Zeta.txt", "zeta.txt", "old.bak", ".hidden", ".htaccess", "back\\slash", "sub/c.css",
              "sub/deep.bak", "sub/inner/d.txt", ".git/config"})
            WriteWholeFile(site + name, "x");
        QDir().mkpath(site + "empty");
        ::mkfifo(QFile::encodeName(site + "fifo").constData(), 0644);
        QFile::link(site, site + "loop");
        // A linked folder outside the site is followed like a real one.
        WriteWholeFile(dir.path() + "/outside/e.txt", "e");
        QFile::link(dir.path() + "/outside", site + "linked");
    }
};

TEST_F(LocalScan, OrderFlagsAndIgnoredEntries)
{
    BuildSite();
    Set(*project, "SetPermission", "1");
    Set(*project, "SafeUploadSize", "2");
    Refresh();
    // Files before folders, names without regard to case (exact order breaks ties), then each
    // folder's subtree; the loop and the pipe are left out. Safe upload above
    // 2 KB only.
    EXPECT_EQ(Items(), QStringList({" ", ".htaccess ", "a.gif s", "A.pl ax", "b.html a",
                                    "empty.dat ", "exact.bin ", "Zeta.txt a", "zeta.txt a",
                                    "empty\\ ", "linked\\ ", "sub\\ ", "linked\\e.txt a",
                                    "sub\\c.css a", "sub\\inner\\ ", "sub\\inner\\d.txt a"}));
    // old.bak, .hidden, back\slash, .git (once, with its contents), sub/deep.bak.
    EXPECT_EQ(list.IgnoredCount, 5);
    for (int i = 1; i < list.Count(); ++i)
        EXPECT_TRUE(list.Items(i)->Index == i + 1
                    && std::ranges::count(list.Items(i)->Parent->Children, list.Items(i)) == 1);
    EXPECT_EQ(FindItem(list, "a.gif")->Size, 3000);
    EXPECT_EQ(frontEnd.FillViews, 1);

    Set(*project, "IgnoreHiddenFiles", "0");
    Refresh();
    EXPECT_NE(FindItem(list, ".git\\config"), nullptr);
    EXPECT_EQ(list.IgnoredCount, 3); // old.bak, back\slash, sub/deep.bak
}

TEST_F(LocalScan, StatusAndStatisticsFollowRecords)
{
    BuildSite();
    Refresh();
    MarkAllUploaded();
    // An older time also counts as a change; only the file and its folders follow it.
    SetFileAge(site + "sub/inner/d.txt", 3600);
    SetFileAge(site + "b.html", 100);
    Refresh();
    EXPECT_EQ(Items().filter(QRegularExpression("[^=]$")),
              QStringList({" ", "b.html as", "sub\\ ", "sub\\inner\\ ", "sub\\inner\\d.txt as"}));
    EXPECT_EQ(FormatStatistics(list),
              "2 of 11 files (101 byte) need uploading (5 items are ignored)");

    // A new empty folder needs upload, and so do its ancestors.
    MarkAllUploaded();
    QDir().mkpath(site + "sub/new");
    Refresh();
    EXPECT_EQ(Items().filter(QRegularExpression("[^=]$")),
              QStringList({" ", "sub\\ ", "sub\\new\\ "}));

    // Without sub-folders a folder takes its status from its own record only.
    SetFileAge(site + "sub/inner/d.txt", 7200);
    project->Versions.FindOrAdd("empty\\")->Date = 0;
    Set(*project, "IncSubDirs", "0");
    Refresh();
    EXPECT_EQ(Items().mid(9), QStringList({"empty\\ ", "linked\\ =", "sub\\ ="}));
    EXPECT_FALSE(Sync(list, ""));
}

TEST_F(LocalScan, ARefreshOfAnOldProjectFileLeavesItsBytes)
{
    // A file from before "Connections", "Encryption" and "TrustedCertificate", its records in
    // step with the site: reading its settings must not add keys to it.
    WriteWholeFile(site + "index.html", "x");
    QByteArray old = ReadWholeFile(TestDataPath("site.zdx"));
    old.replace("/home/webmaster/site", site.toUtf8());
    old.truncate(old.indexOf("<!-- versions -->"));
    old += "<!-- versions -->\r\n1 \r\n0 index.html\r\n";
    project->LoadFromBytes(old);
    Refresh();
    EXPECT_EQ(project->SaveToBytes(), old);
}

TEST_F(LocalScan, EmptyAndMissingFolderAndThePurge)
{
    Refresh();
    EXPECT_EQ(Items(), QStringList{" ="});
    EXPECT_EQ(FormatStatistics(list), "0 of 0 files need uploading");
    // A missing folder is refused rather than scanned as empty, and a blank one rather than
    // taken as "/".
    for (const auto &[path, error] :
         {std::pair<QString, QString>{dir.path() + "/missing", "The local folder " + dir.path()
                                                                   + "/missing/ does not exist"},
          {" ", "The project's local folder is not set (\"Path\" "
                "is empty): nothing is published from \"/\""}}) {
        Set(*project, "Path", path);
        ASSERT_TRUE(frontEnd.Run(list, pkRefresh, *project));
        EXPECT_EQ(frontEnd.Errors, QStringList{error});
    }

    // Records of vanished items go; an ignored file that still exists keeps its record, and a
    // file is no folder. Every scanned item gets one.
    Set(*project, "Path", site);
    BuildSite();
    project->Versions.LoadFromText("5 gone.txt\r\n7 old.bak\r\n1 gone\\\r\n1 b.html\\\r\n0 0\r\n");
    Refresh();
    QStringList names;
    for (int i = 0; i < project->Versions.Count(); ++i)
        names << project->Versions.Items(i)->FileName;
    names.sort();
    EXPECT_EQ(names,
              QStringList({"", ".htaccess", "A.pl", "Zeta.txt", "a.gif", "b.html", "empty.dat",
                           "empty\\", "exact.bin", "linked\\", "linked\\e.txt", "old.bak", "sub\\",
                           "sub\\c.css", "sub\\inner\\", "sub\\inner\\d.txt", "zeta.txt"}));
}

TEST_F(LocalScan, NamesThatCannotGoOnTheWireAreSkippedWithOneLineAndNoRecord)
{
    WriteWholeFile(site + "good.html", "g");
    const QByteArray root = QFile::encodeName(site);
    // Qt cannot remove a name that is not UTF-8.
    const QByteArray odd = root + "bad\xff" + "byte.html";
    const auto cleanUp = qScopeGuard([&] { ::unlink(odd.constData()); });
    for (const QByteArray &path :
         {root + "line\nbreak.html", root + "return\r.html", odd, root + "folder\n/inside.html"})
        ASSERT_TRUE(WriteRawName(path, "x"));
    Refresh();
    EXPECT_EQ(Items(), QStringList({" ", "good.html as"}));
    EXPECT_EQ(list.IgnoredCount, 4);
    const QStringList notes = frontEnd.Lines.filter("cannot be sent");
    ASSERT_EQ(notes.size(), 1) << frontEnd.Lines.join('\n').toStdString();
    for (const char *escaped :
         {"line\\nbreak.html", "return\\r.html", "bad\\xffbyte.html", "folder\\n"})
        EXPECT_TRUE(notes[0].contains(site + escaped)) << notes[0].toStdString();
    QStringList names;
    for (int i = 0; i < project->Versions.Count(); ++i)
        names << project->Versions.Items(i)->FileName;
    EXPECT_EQ(names, QStringList({"", "good.html"}));
}

// A log block of 300 bytes: 278 characters and 11 line ends.
QByteArray LogBlock(int number)
{
    QByteArray block = "\r\nStart: " + QByteArray::number(number) + "\r\n";
    for (int i = 0; i < 9; ++i)
        block += QByteArray(30, char('a' + i)) + "\r\n";
    return block;
}

TEST(PublishLog, TrimCutsWholeBlocksFromTheTop)
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/site.log";
    QByteArray all;
    for (int i = 0; i < 10; ++i)
        all += LogBlock(i);
    // Excess 256 + 1976: eight blocks and the first two lines of the ninth are counted, then
    // the rest of the ninth goes up to the next block's empty line.
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
}

TEST_F(LocalScan, LogGetsOneBlockPerOperationAndIsTrimmed)
{
    // Named after the project file unless set; an upload with nothing to send needs no server.
    project->FileName = dir.path() + "/me@host.zdx";
    Set(*project, "SaveLog", "1");
    Refresh(); // a refresh writes nothing
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/me@host.log"));
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_TRUE(QFileInfo::exists(dir.path() + "/me@host.log"));

    const QString logFile = dir.path() + "/logs/deeper/site.log";
    Set(*project, "LogFile", "  " + logFile + " ");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    // Local times without a zone name: each ends in the seconds' digits.
    const QString block = "\r\nStart: .+\\d Finish: .+\\d\r\nUpload from "
                          + QRegularExpression::escape(site)
                          + " to ftp://\r\nNo files for uploading\r\n";
    EXPECT_TRUE(QRegularExpression("^(" + block + "){3}$")
                    .match(QString::fromUtf8(ReadWholeFile(logFile)))
                    .hasMatch())
        << ReadWholeFile(logFile).toStdString();

    // With a limit of 1 KB a long log is cut back to whole blocks.
    QByteArray old;
    for (int i = 0; i < 20; ++i)
        old += LogBlock(i % 10);
    WriteWholeFile(logFile, old);
    Set(*project, "CheckLogSize", "1");
    Set(*project, "MaxLogSize", "1");
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    const QByteArray trimmed = ReadWholeFile(logFile);
    EXPECT_LT(trimmed.size(), 1024);
    EXPECT_TRUE(trimmed.startsWith("\r\nStart: "));
    EXPECT_TRUE(trimmed.endsWith("No files for uploading\r\n"));

    // A log that cannot be written leaves the outcome alone and is reported once.
    Set(*project, "LogFile", dir.path()); // a folder
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors);
    ASSERT_EQ(frontEnd.Errors.size(), 1);
    EXPECT_TRUE(frontEnd.Errors[0].contains(dir.path()));
}

TEST_F(LocalScan, CompareWithoutServerStillRefreshesAndSoundsTheError)
{
    int beeps = 0;
    const auto savedBeep = AlertBeep;
    AlertBeep = [&beeps] { ++beeps; };
    WriteWholeFile(site + "a.txt", "x");
    WriteWholeFile(dir.path() + "/corrupt.wav", QByteArray(4000, '\x5a'));
    // A loopback port that nothing listens on.
    Set(*project, "Host", "127.0.0.1");
    Set(*project, "Port", "1");
    Set(*project, "User", "me");
    project->SetPassword("secret");
    ASSERT_TRUE(frontEnd.Run(list, pkCompare, *project, [&](TPublishOperator *op) {
        // Constructed on this thread and not touched by the worker.
        op->Settings.SoundEnabled = true;
        op->Settings.ErrorSound = dir.path() + "/corrupt.wav";
    }));
    EXPECT_TRUE(frontEnd.HadErrors);
    EXPECT_EQ(frontEnd.Errors.size(), 1);
    EXPECT_EQ(frontEnd.Lines.mid(0, 2), QStringList({"Compare of the local and server files",
                                                     "connecting to 127.0.0.1 port 1"}));
    EXPECT_TRUE(frontEnd.StartingWith("Server statistics").isEmpty());
    EXPECT_EQ(list.Count(), 2); // the local refresh ran
    // The password is asked for again next time.
    EXPECT_TRUE(project->Password.isEmpty());
    EXPECT_FALSE(project->PasswordKnown);
    // A sound that cannot be played gives the beep, asynchronously, within the load limit.
    QElapsedTimer clock;
    clock.start();
    while (beeps < 1 && clock.elapsed() < 5000)
        TTestFrontEnd::Idle(50);
    EXPECT_EQ(beeps, 1);
    AlertBeep = savedBeep;
}
