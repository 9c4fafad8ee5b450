// Listing parser over real-world LIST and MLSD lines, the listing rules, reply error texts and
// the remote file list.
#include "ftp/FtpListParser.h"
#include "ftp/FtpProxy.h"
#include "ftp/FtpReply.h"
#include "ftp/FtpWininet.h"

#include <gtest/gtest.h>

namespace {

const QDate Today(2026, 6, 15);
constexpr qint64 FiveGiB = 5LL * 1024 * 1024 * 1024;

TFtpListEntry Unix(const QString &line)
{
    TFtpListEntry entry;
    EXPECT_TRUE(ParseListLine(line, entry, Today)) << line.toStdString();
    return entry;
}

TFtpListEntry Mlsd(const QString &line)
{
    TFtpListEntry entry;
    EXPECT_TRUE(ParseMlsdLine(line, entry)) << line.toStdString();
    return entry;
}

struct TListed
{
    TFtpFileList List;
    QStringList Skipped;
};

// Parses a listing of `path` and applies the listing rules.
void List(TListed &out, const QByteArray &data, bool mlsd, const QString &path = QString())
{
    AppendListing(ParseListing(data, mlsd, Today), path, out.List, Today.year(),
                  [&](const QString &raw) { out.Skipped << raw; });
}

QStringList Names(const TFtpFileList &list)
{
    QStringList names;
    for (int i = 0; i < list.Count(); ++i)
        names << list.Items(i)->Name;
    return names;
}

} // namespace

TEST(FtpListParser, UnixLines)
{
    TFtpListEntry e = Unix("-rw-r--r--    1 1000     1000         1234 May 12 14:30 index.html");
    EXPECT_EQ(e.Name, "index.html");
    EXPECT_EQ(e.Size, 1234);
    EXPECT_FALSE(e.IsFolder);
    EXPECT_EQ(e.Date, QDate(2026, 5, 12));
    EXPECT_EQ(e.Time, QTime(14, 30));

    e = Unix("drwxr-xr-x    2 ftp      ftp          4096 Jan 02  2020 images");
    EXPECT_TRUE(e.IsFolder);
    EXPECT_EQ(e.Date, QDate(2020, 1, 2));
    EXPECT_EQ(e.Time, QTime(0, 0));

    // A date without a year that lies ahead of today belongs to last year.
    EXPECT_EQ(Unix("-rw-r--r-- 1 u g 1 Dec 24 10:00 x").Date, QDate(2025, 12, 24));

    // Blanks inside and at the start of names, and a missing group column.
    EXPECT_EQ(Unix("-rw-r--r-- 1 u g 10 Feb 10 00:00 my file  with blanks.txt").Name,
              "my file  with blanks.txt");
    EXPECT_EQ(Unix("-rw-r--r-- 1 u g 10 Feb 10  2019  leading blank").Name, " leading blank");
    e = Unix("-rw-r--r-- 1 owner 42 Jun 01  2021 nogroup.txt");
    EXPECT_EQ(e.Name, "nogroup.txt");
    EXPECT_EQ(e.Size, 42);
    EXPECT_EQ(Unix("-rw-r--r--+ 1 u g 7 Jul  4  2022 acl.txt").Name, "acl.txt");
    EXPECT_EQ(Unix("-rw-r--r-- 1 u g 99 2024-05-12 14:30 iso.txt").Date, QDate(2024, 5, 12));

    // Sizes beyond 32 bits.
    EXPECT_EQ(Unix("-rw-r--r-- 1 u g 5368709120 Dec 31  2023 big.iso").Size, FiveGiB);
}

TEST(FtpListParser, SymbolicLinksAreFilesNamedBeforeTheArrow)
{
    TFtpListEntry e
        = Unix("lrwxrwxrwx    1 user     group  11 Mar  3 09:15 current -> release/1.2");
    EXPECT_EQ(e.Name, "current");
    EXPECT_FALSE(e.IsFolder);
    EXPECT_EQ(Unix("lrwxrwxrwx 1 u g 4 Mar  3 09:15 my link -> a -> b").Name, "my link");
    // Only links lose the arrow part: a file may be called so.
    EXPECT_EQ(Unix("-rw-r--r-- 1 u g 4 Mar  3 09:15 a -> b").Name, "a -> b");
}

TEST(FtpListParser, DosLines)
{
    TFtpListEntry e;
    ASSERT_TRUE(ParseListLine("12-05-26  02:03PM       <DIR>          name dir", e, Today));
    EXPECT_TRUE(e.IsFolder);
    EXPECT_EQ(e.Name, "name dir");
    EXPECT_EQ(e.Date, QDate(2026, 12, 5));
    EXPECT_EQ(e.Time, QTime(14, 3));

    ASSERT_TRUE(ParseListLine("04-14-99  03:47AM                  589 readme.htm", e, Today));
    EXPECT_EQ(e.Size, 589);
    EXPECT_EQ(e.Date, QDate(1999, 4, 14));
    EXPECT_EQ(e.Time, QTime(3, 47));

    ASSERT_TRUE(ParseListLine("05-12-2026  14:03           6442450944 big.bin", e, Today));
    EXPECT_EQ(e.Size, 6442450944LL);
    EXPECT_EQ(e.Date, QDate(2026, 5, 12));

    ASSERT_TRUE(ParseListLine("01-01-99  12:00AM   100 midnight.txt", e, Today));
    EXPECT_EQ(e.Time, QTime(0, 0));
}

TEST(FtpListParser, LinesThatAreNoEntriesAreSkipped)
{
    TFtpListEntry e;
    for (const char *line : {"total 12", "crw-rw-rw-    1 root root 1, 3 Jan  1  2020 null",
                             "prw-r--r-- 1 u g 0 Jan  1  2020 fifo", "garbage line here",
                             "-rw-r--r-- 1 u g size May 12 14:30 x", "13-45-26  02:03PM  1 x"}) {
        EXPECT_FALSE(ParseListLine(QString::fromLatin1(line), e, Today)) << line;
    }
}

TEST(FtpListParser, MlsdLines)
{
    TFtpListEntry e = Mlsd("type=file;size=5368709120;modify=20240512143015;perm=r; big.iso");
    EXPECT_EQ(e.Name, "big.iso");
    EXPECT_EQ(e.Size, FiveGiB);
    EXPECT_FALSE(e.IsFolder);
    EXPECT_EQ(e.Date, QDate(2024, 5, 12));
    EXPECT_EQ(e.Time, QTime(14, 30, 15));

    EXPECT_TRUE(Mlsd("Type=dir;Modify=20200102000000.123; images").IsFolder);
    EXPECT_EQ(Mlsd("type=file;size=3; name with ; semicolon").Name, "name with ; semicolon");
    e = Mlsd("type=OS.unix=slink:/etc;size=4; link");
    EXPECT_FALSE(e.IsFolder);
    EXPECT_EQ(Mlsd(" no facts").Name, "no facts");

    for (const char *line : {"type=cdir;modify=20200102000000; .", "type=pdir; ..",
                             "type=OS.unix=chr-13/29; tty", "nofactsandnoblank"}) {
        EXPECT_FALSE(ParseMlsdLine(QString::fromLatin1(line), e)) << line;
    }
}

TEST(FtpListParser, EntryDateRule)
{
    TFtpListEntry e;
    e.Date = QDate(2019, 3, 4);
    e.Time = QTime(14, 30);
    EXPECT_EQ(EntryDate(e, 2026), QDateTime(QDate(2026, 3, 4), QTime(14, 30)));
    e.Time = QTime(0, 0, 59); // only hour and minute count
    EXPECT_EQ(EntryDate(e, 2026), QDateTime(QDate(2019, 3, 4), QTime(0, 0, 59)));
    e.Date = QDate(2024, 2, 29);
    e.Time = QTime(8, 0);
    EXPECT_EQ(EntryDate(e, 2026).date(), QDate(2026, 2, 28));
    EXPECT_FALSE(EntryDate(TFtpListEntry(), 2026).isValid());
}

TEST(FtpListRules, DotsSkippedFullPathsMadeRelativeMixedLineEnds)
{
    TListed out;
    List(out,
         "drwxr-xr-x 2 u g 4096 Jan 02  2020 .\r\n"
         "drwxr-xr-x 2 u g 4096 Jan 02  2020 ..\n"
         "\r\n"
         "-rw-r--r-- 1 u g 5 Jan 02  2020 /pub/a.txt\r\n"
         "-rw-r--r-- 1 u g 5 Jan 02  2020 b.txt",
         false, "/pub");
    EXPECT_EQ(Names(out.List), QStringList({"a.txt", "b.txt"}));
    EXPECT_TRUE(out.Skipped.isEmpty());

    TListed mlsd;
    List(mlsd, "type=file;size=1; /pub/sub/a.txt\r\n", true, "/pub/sub/");
    EXPECT_EQ(Names(mlsd.List), QStringList({"a.txt"}));
}

TEST(FtpListRules, Total1AloneIsDropped)
{
    TListed alone;
    List(alone, "type=file;size=1; total 1\r\n", true);
    EXPECT_EQ(alone.List.Count(), 0);

    TListed two;
    List(two, "type=file;size=1; total 1\r\ntype=file;size=1; x\r\n", true);
    EXPECT_EQ(Names(two.List), QStringList({"total 1", "x"}));
}

TEST(FtpListRules, HostileNamesNeverComeOut)
{
    TListed out;
    QByteArray data = "-rw-r--r-- 1 u g 1 May 12  2020 ../evil\r\n"
                      "-rw-r--r-- 1 u g 1 May 12  2020 ../../etc/passwd\r\n"
                      "-rw-r--r-- 1 u g 1 May 12  2020 /pub/../x\r\n"
                      "-rw-r--r-- 1 u g 1 May 12  2020 /pub/..\r\n"
                      "-rw-r--r-- 1 u g 1 May 12  2020 a/b\r\n"
                      "-rw-r--r-- 1 u g 1 May 12  2020 /pub/\r\n"
                      "-rw-r--r-- 1 u g 1 May 12  2020 \r\n"
                      "lrwxrwxrwx 1 u g 1 May 12  2020 .. -> /\r\n"
                      "-rw-r--r-- 1 u g 1 May 12  2020 good\r\n";
    data
        += QByteArray("-rw-r--r-- 1 u g 1 May 12  2020 nul", 35) + QByteArray(1, '\0') + "name\r\n";
    List(out, data, false, "/pub");
    EXPECT_EQ(Names(out.List), QStringList({"good"}));
    EXPECT_EQ(out.Skipped.size(), 8);
    EXPECT_TRUE(out.Skipped.contains("../../etc/passwd"));

    TListed mlsd;
    List(mlsd, "type=file;size=1; ../x\r\ntype=dir; sub/..\r\ntype=file;size=1; ok\r\n", true);
    EXPECT_EQ(Names(mlsd.List), QStringList({"ok"}));
    EXPECT_EQ(mlsd.Skipped, QStringList({"../x", "sub/.."}));
}

TEST(FtpReplyText, LastLineWithoutCode)
{
    EXPECT_EQ(ReplyErrorText("550-First\r\n550-Second\r\n550 Permission denied\r\n"),
              "Permission denied");
    EXPECT_EQ(ReplyErrorText("550-First\n  free text\n550 Last\n"), "Last");
    // A continuation line that ends up last keeps its hyphen.
    EXPECT_EQ(ReplyErrorText("250-abc\n250-def\n"), "-def");
    EXPECT_EQ(ReplyErrorText(QByteArray("530 No\0tail\r\n", 13)), "No");
    EXPECT_EQ(ReplyErrorText("550 \r\n"), "Unknown error");
    const QString longText = ReplyErrorText("550 " + QByteArray(1000, 'x') + "\r\n");
    EXPECT_EQ(longText, QString(MaxErrorTextLength, QLatin1Char('x')));
}

TEST(FtpProxyText, Forms)
{
    TFtpProxy p = ParseProxy("socks=proxy.example:1081");
    EXPECT_EQ(p.Kind, TFtpProxy::Socks);
    EXPECT_EQ(p.Host, "proxy.example");
    EXPECT_EQ(p.Port, 1081);
    p = ParseProxy("ftp=ftp://[::1]:2121");
    EXPECT_EQ(p.Kind, TFtpProxy::Ftp);
    EXPECT_EQ(p.Host, "::1");
    EXPECT_EQ(p.Port, 2121);
    EXPECT_EQ(ParseProxy("ftp=ftp://gate").Port, 21);
    EXPECT_EQ(ParseProxy("  ").Kind, TFtpProxy::None);
    EXPECT_THROW(ParseProxy("http=proxy:80"), EFtpError);
    EXPECT_THROW(ParseProxy("socks=host:99999"), EFtpError);
}

TEST(FtpFileList, FindByNameCopyAndRename)
{
    TFtpFileList list;
    TFtpFile file;
    file.Name = "a";
    file.Size = FiveGiB;
    file.ServerOnly = true;
    TFtpFile *first = list.AddCopy(file);
    EXPECT_NE(first, &file);
    EXPECT_FALSE(first->ServerOnly);
    EXPECT_EQ(first->Size, FiveGiB);
    TFtpFile *second = list.AddCopy(file); // same name: the first one is found
    EXPECT_EQ(list.FindByName("a"), first);
    EXPECT_EQ(list.FindByName("A"), nullptr);

    list.Rename(first, "b");
    EXPECT_EQ(list.FindByName("a"), second);
    EXPECT_EQ(list.FindByName("b"), first);
    list.Rename(second, "b");
    EXPECT_EQ(list.FindByName("b"), first); // still the first in list order
    EXPECT_EQ(list.FindByName("a"), nullptr);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.FindByName("b"), nullptr);
}
