// The publishing engine without a server: the local scan and a failed login.
#include "tests/engine/EngineTestSupport.h"

#include <QScopeGuard>

class LocalScan : public SiteTest
{
protected:
    void SetUp() override
    {
        QDir().mkpath(site);
        project = MakeTestProject(site);
    }
};

TEST_F(LocalScan, OrderFlagsAndRecords)
{
    Write("b.html", QByteArray(100, 'h'));
    Write("A.pl", "print 1;\n");
    Write("a.gif", QByteArray(3000, 'g'));
    for (const char *name : {"old.bak", ".hidden", "sub/inner/d.txt"})
        Write(name, "x");
    ::mkfifo(QFile::encodeName(site + "fifo").constData(), 0644);
    QFile::link(site, site + "loop");
    // Names that cannot go on the wire are left out with one line and get no record.
    const QByteArray root = QFile::encodeName(site), odd = root + "bad\xff" + "byte.html";
    const auto cleanUp = qScopeGuard([&] { ::unlink(odd.constData()); }); // Qt cannot remove it
    for (const QByteArray &path : {root + "line\nbreak.html", odd, root + "folder\n/inside.html"})
        ASSERT_TRUE(WriteRawName(path, "x"));
    // Records of vanished items go; an ignored file that still exists keeps its record.
    project->Versions.LoadFromText("5 gone.txt\r\n7 old.bak\r\n1 gone\\\r\n1 b.html\\\r\n");
    Set(*project, "SetPermission", "1");
    Set(*project, "SafeUploadSize", "2");
    RunClean(pkRefresh);
    QStringList items; // name, then Ascii, eXecutable, Safe upload
    for (int i = 0; i < list.Count(); ++i) {
        const TFileListItem *item = list.Items(i);
        items << item->RelativeName + (item->IsAscii ? " a" : " ")
                     + (item->SetExecPermission ? "x" : "") + (item->UseSafeUpload ? "s" : "");
    }
    // Files before folders, without regard to case; no loop, no pipe; safe upload above 2 KB.
    EXPECT_EQ(items, QStringList({" ", "a.gif s", "A.pl ax", "b.html a", "sub\\ ", "sub\\inner\\ ",
                                  "sub\\inner\\d.txt a"}));
    EXPECT_EQ(list.IgnoredCount, 5);
    const QStringList notes = frontEnd.Lines.filter("cannot be sent");
    ASSERT_EQ(notes.size(), 1) << frontEnd.Dump();
    for (const char *escaped : {"line\\nbreak.html", "bad\\xffbyte.html", "folder\\n"})
        EXPECT_TRUE(notes[0].contains(site + escaped)) << notes[0].toStdString();
    QStringList names;
    for (int i = 0; i < project->Versions.Count(); ++i)
        names << project->Versions.Items(i)->FileName;
    names.sort();
    EXPECT_EQ(names, QStringList({"", "A.pl", "a.gif", "b.html", "old.bak", "sub\\", "sub\\inner\\",
                                  "sub\\inner\\d.txt"}));
    // A record added later starts blank, though it takes the place of a purged one.
    Write("c.txt", "x");
    RunClean(pkRefresh);
    ASSERT_TRUE(project->Versions.Find("c.txt"));
    EXPECT_EQ(project->Versions.Find("c.txt")->Date, 0);
}

TEST_F(LocalScan, AFailedConnectionStillRefreshesAndForgetsThePassword)
{
    Write("a.txt", "x");
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
    ASSERT_TRUE(frontEnd.Run(list, pkCompare, *project));
    EXPECT_EQ(frontEnd.Errors.size(), 1);
    EXPECT_EQ(frontEnd.Lines.value(1), "connecting to 127.0.0.1 port 1");
    EXPECT_EQ(list.Count(), 2);                                          // the local refresh ran
    EXPECT_TRUE(project->Password.isEmpty() && !project->PasswordKnown); // asked for again
}
