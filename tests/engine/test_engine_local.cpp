// The publishing engine without a server: the local scan and its statuses, statistics, the purge
// of stale records, the publish log, a failed connection and alert sounds.
#include "engine/AlertSound.h"
#include "tests/engine/EngineTestSupport.h"

#include <QElapsedTimer>
#include <QScopeGuard>

class LocalScan : public SiteTest
{
protected:
    void SetUp() override
    {
        QDir().mkpath(site);
        project = MakeTestProject(site);
    }
    void Refresh() { RunClean(pkRefresh); }
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
        Write("b.html", QByteArray(100, 'h'));
        Write("A.pl", "print 1;\n");
        Write("a.gif", QByteArray(3000, 'g'));
        Write("exact.bin", QByteArray(2048, 'e'));
        Write("empty.dat", QByteArray());
        for (const char *name :
             {"Zeta.txt", "zeta.txt", "old.bak", ".hidden", ".htaccess", "back\\slash", "sub/c.css",
              "sub/deep.bak", "sub/inner/d.txt", ".git/config"})
            Write(name, "x");
        QDir().mkpath(site + "empty");
        ::mkfifo(QFile::encodeName(site + "fifo").constData(), 0644);
        QFile::link(site, site + "loop");
        WriteWholeFile(dir.path() + "/outside/e.txt", "e"); // a linked folder is followed
        QFile::link(dir.path() + "/outside", site + "linked");
    }
};

TEST_F(LocalScan, OrderFlagsRecordsStatusAndStatistics)
{
    BuildSite();
    // Names that cannot go on the wire are left out with one line and get no record.
    const QByteArray root = QFile::encodeName(site);
    const QByteArray odd = root + "bad\xff" + "byte.html";
    const auto cleanUp = qScopeGuard([&] { ::unlink(odd.constData()); }); // Qt cannot remove it
    for (const QByteArray &path :
         {root + "line\nbreak.html", root + "return\r.html", odd, root + "folder\n/inside.html"})
        ASSERT_TRUE(WriteRawName(path, "x"));
    // Records of vanished items go; an ignored file that still exists keeps its record, and a
    // file is no folder.
    project->Versions.LoadFromText("5 gone.txt\r\n7 old.bak\r\n1 gone\\\r\n1 b.html\\\r\n0 0\r\n");
    Set(*project, "SetPermission", "1");
    Set(*project, "SafeUploadSize", "2");
    Refresh();
    // Files before folders, names without regard to case (exact order breaks ties), then each
    // folder's subtree; the loop and the pipe are left out. Safe upload above 2 KB only.
    EXPECT_EQ(Items(), QStringList({" ", ".htaccess ", "a.gif s", "A.pl ax", "b.html a",
                                    "empty.dat ", "exact.bin ", "Zeta.txt a", "zeta.txt a",
                                    "empty\\ ", "linked\\ ", "sub\\ ", "linked\\e.txt a",
                                    "sub\\c.css a", "sub\\inner\\ ", "sub\\inner\\d.txt a"}));
    // old.bak, .hidden, back\slash, .git (once, with its contents), sub/deep.bak, the four.
    EXPECT_EQ(list.IgnoredCount, 9);
    const QStringList notes = frontEnd.Lines.filter("cannot be sent");
    ASSERT_EQ(notes.size(), 1) << frontEnd.Dump();
    for (const char *escaped :
         {"line\\nbreak.html", "return\\r.html", "bad\\xffbyte.html", "folder\\n"})
        EXPECT_TRUE(notes[0].contains(site + escaped)) << notes[0].toStdString();
    QStringList names;
    for (int i = 0; i < project->Versions.Count(); ++i)
        names << project->Versions.Items(i)->FileName;
    names.sort();
    EXPECT_EQ(names,
              QStringList({"", ".htaccess", "A.pl", "Zeta.txt", "a.gif", "b.html", "empty.dat",
                           "empty\\", "exact.bin", "linked\\", "linked\\e.txt", "old.bak", "sub\\",
                           "sub\\c.css", "sub\\inner\\", "sub\\inner\\d.txt", "zeta.txt"}));
    for (int i = 1; i < list.Count(); ++i)
        EXPECT_TRUE(list.Items(i)->Index == i + 1
                    && std::ranges::count(list.Items(i)->Parent->Children, list.Items(i)) == 1);
    EXPECT_EQ(FindItem(list, "a.gif")->Size, 3000);
    EXPECT_EQ(frontEnd.FillViews, 1);

    // An older time also counts as a change; only the file and its folders follow it.
    MarkAllUploaded();
    SetFileAge(site + "sub/inner/d.txt", 3600);
    SetFileAge(site + "b.html", 100);
    Refresh();
    EXPECT_EQ(Items().filter(QRegularExpression("[^=]$")),
              QStringList({" ", "b.html a", "sub\\ ", "sub\\inner\\ ", "sub\\inner\\d.txt a"}));
    EXPECT_EQ(FormatStatistics(list),
              "2 of 11 files (101 byte) need uploading (9 items are ignored)");
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

    Set(*project, "IncSubDirs", "1");
    Set(*project, "IgnoreHiddenFiles", "0");
    Refresh();
    EXPECT_NE(FindItem(list, ".git\\config"), nullptr);
    EXPECT_EQ(list.IgnoredCount, 7); // old.bak, back\slash, sub/deep.bak, the four
}

// A log block of 300 bytes: 278 characters and 11 line ends.
QByteArray LogBlock(int number)
{
    QByteArray block = "\r\nStart: " + QByteArray::number(number) + "\r\n";
    for (int i = 0; i < 9; ++i)
        block += QByteArray(30, char('a' + i)) + "\r\n";
    return block;
}

TEST_F(LocalScan, LogGetsOneBlockPerOperationAndIsTrimmedToWholeBlocks)
{
    // Named after the project file unless set; an upload with nothing to send needs no server.
    project->FileName = dir.path() + "/me@host.zdx";
    Set(*project, "SaveLog", "1");
    Refresh(); // a refresh writes nothing
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/me@host.log"));
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_TRUE(ReadWholeFile(dir.path() + "/me@host.log").startsWith("\r\nStart: "));

    // Over the limit (or exactly at it) whole blocks go from the top, the rest of a cut block
    // up to the next block's empty line; the project's limit applies after each operation.
    const QString logFile = dir.path() + "/logs/deeper/site.log";
    QByteArray all;
    for (int i = 0; i < 10; ++i)
        all += LogBlock(i);
    const std::tuple<QByteArray, qint64, QByteArray> trims[]
        = {{all, 1024, LogBlock(9)},
           {all.left(1200), 1200, LogBlock(2) + LogBlock(3)},
           {all.left(1200), 1201, all.left(1200)}};
    for (const auto &[before, limit, after] : trims) {
        WriteWholeFile(logFile, before);
        TrimLog(logFile, limit);
        EXPECT_EQ(ReadWholeFile(logFile), after) << limit;
    }
    WriteWholeFile(logFile, all + all);
    Set(*project, "LogFile", "  " + logFile + " ");
    Set(*project, "CheckLogSize", "1");
    Set(*project, "MaxLogSize", "1");
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    const QByteArray trimmed = ReadWholeFile(logFile);
    EXPECT_LT(trimmed.size(), 1024);
    EXPECT_TRUE(trimmed.startsWith("\r\nStart: ")
                && trimmed.endsWith("No files for uploading\r\n"));

    // A log that cannot be written leaves the outcome alone and is reported once.
    Set(*project, "LogFile", dir.path()); // a folder
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors);
    EXPECT_EQ(frontEnd.Errors.filter(dir.path()).size(), 1);
}

TEST_F(LocalScan, AFailedConnectionStillRefreshesForgetsThePasswordAndSoundsTheError)
{
    int beeps = 0;
    const auto savedBeep = std::exchange(AlertBeep, [&beeps] { ++beeps; });
    WriteWholeFile(site + "a.txt", "x");
    WriteWholeFile(dir.path() + "/corrupt.wav", QByteArray(4000, '\x5a'));
    Set(*project, "Host", "127.0.0.1");
    Set(*project, "Port", "1"); // nothing listens there
    project->SetPassword("secret");
    // A blank folder is refused rather than taken as "/".
    Set(*project, "Path", " ");
    ASSERT_TRUE(frontEnd.Run(list, pkCompare, *project));
    EXPECT_EQ(frontEnd.Errors, QStringList{"The project's local folder is not set (\"Path\" is "
                                           "empty): nothing is published from \"/\""});
    EXPECT_EQ(frontEnd.Lines.filter("connecting").size(), 0);
    Set(*project, "Path", site);
    ASSERT_TRUE(frontEnd.Run(list, pkCompare, *project, [&](TPublishOperator *op) {
        // Constructed on this thread and not touched by the worker.
        op->Settings.SoundEnabled = true;
        op->Settings.ErrorSound = dir.path() + "/corrupt.wav";
    }));
    EXPECT_EQ(frontEnd.Errors.size(), 1);
    EXPECT_EQ(frontEnd.Lines.value(1), "connecting to 127.0.0.1 port 1");
    EXPECT_TRUE(frontEnd.StartingWith("Server statistics").isEmpty());
    EXPECT_EQ(list.Count(), 2);                                          // the local refresh ran
    EXPECT_TRUE(project->Password.isEmpty() && !project->PasswordKnown); // asked for again
    // A sound that cannot be played gives the beep, asynchronously, within the load limit.
    QElapsedTimer clock;
    clock.start();
    while (beeps < 1 && clock.elapsed() < 5000)
        TTestFrontEnd::Idle(50);
    EXPECT_EQ(beeps, 1);
    AlertBeep = savedBeep;
}
