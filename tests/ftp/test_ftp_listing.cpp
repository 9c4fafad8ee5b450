// Listing parser over a corpus of real-world LIST and MLSD lines (tests/data), the listing
// rules and reply error texts.
#include "ftp/FtpListParser.h"
#include "ftp/FtpReply.h"
#include "ftp/FtpWininet.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

const QDate Today(2026, 6, 15);

// Parses a listing of `path`, applies the listing rules and returns the names; `skipped` gets
// what the rules dropped.
QStringList List(const QByteArray &data, bool mlsd, const QString &path = QString(),
                 QStringList *skipped = nullptr)
{
    TFtpFileList list;
    AppendListing(ParseListing(data, mlsd, Today), path, list, Today.year(),
                  [&](const QString &raw) {
                      if (skipped)
                          *skipped << raw;
                  });
    QStringList names;
    for (int i = 0; i < list.Count(); ++i)
        names << list.Items(i)->Name;
    return names;
}

// A corpus line with "\\t" for a TAB and "\\xHH" for a byte (legacy encodings).
QByteArray Unescaped(const QByteArray &text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && text.mid(i + 1, 1) == "t") {
            bytes += '\t';
            ++i;
        } else if (text[i] == '\\' && text.mid(i + 1, 1) == "x") {
            bytes += char(text.mid(i + 2, 2).toInt(nullptr, 16));
            i += 3;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

TEST(FtpListParser, CorpusOfRealWorldLinesAndTheEntryDateRule)
{
    // Consecutive records of one kind with an id ("LIST:vms") are one listing, read as the
    // session reads what the server sends; others are a listing each. "-" is no entry, "?" no
    // entry and a line counted as unreadable.
    struct TRecord
    {
        QByteArray Kind, Line, Expected;
    };
    std::vector<std::vector<TRecord>> listings;
    for (const QByteArray &record : ReadWholeFile(TestDataPath("listing_corpus.txt")).split('\n')) {
        const QList<QByteArray> fields = record.split('\t');
        if (fields.size() != 3)
            continue;
        const TRecord r{fields[0], Unescaped(fields[1]), Unescaped(fields[2])};
        if (listings.empty() || !r.Kind.contains(':') || listings.back().front().Kind != r.Kind)
            listings.emplace_back();
        listings.back().push_back(r);
    }
    int checked = 0;
    for (const std::vector<TRecord> &records : listings) {
        QByteArray data;
        for (const TRecord &r : records)
            data += r.Line + "\r\n";
        TUnreadLines unread;
        const std::vector<TFtpListEntry> entries
            = ParseListing(data, records.front().Kind.startsWith("MLSD"), Today, &unread);
        int unreadExpected = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            QString got = "-";
            for (const TFtpListEntry &e : entries) {
                if (e.Line == int(i))
                    got = QString("%1|%2|%3|%4 %5")
                              .arg(e.Name)
                              .arg(e.Size)
                              .arg(e.IsFolder ? 'd' : 'f')
                              .arg(e.Date.toString(Qt::ISODate), e.Time.toString(Qt::ISODate));
            }
            const QString expected = QString::fromUtf8(records[i].Expected);
            unreadExpected += expected == "?";
            EXPECT_EQ(got, expected == "?" ? "-" : expected) << records[i].Line.constData();
            ++checked;
        }
        EXPECT_EQ(unread.Count, unreadExpected) << records.front().Line.constData();
    }
    EXPECT_GT(checked, 150); // the whole corpus was read

    // A time of day other than 00:00 (hour and minute) means this year.
    TFtpListEntry e{QString(), 0, false, QDate(2019, 3, 4), QTime(14, 30)};
    EXPECT_EQ(EntryDate(e, 2026), QDateTime(QDate(2026, 3, 4), QTime(14, 30)));
    e.Time = QTime(0, 0, 59);
    EXPECT_EQ(EntryDate(e, 2026), QDateTime(QDate(2019, 3, 4), QTime(0, 0, 59)));
    e = {QString(), 0, false, QDate(2024, 2, 29), QTime(8, 0)};
    EXPECT_EQ(EntryDate(e, 2026).date(), QDate(2026, 2, 28));
    EXPECT_FALSE(EntryDate(TFtpListEntry(), 2026).isValid());
}

TEST(FtpListRules, DotsFullPathsAndTotal1)
{
    EXPECT_EQ(List("drwxr-xr-x 2 u g 4096 Jan 02  2020 .\r\n"
                   "drwxr-xr-x 2 u g 4096 Jan 02  2020 ..\n"
                   "\r\n"
                   "-rw-r--r-- 1 u g 5 Jan 02  2020 /pub/a.txt\r\n"
                   "-rw-r--r-- 1 u g 5 Jan 02  2020 b.txt",
                   false, "/pub"),
              QStringList({"a.txt", "b.txt"}));
    EXPECT_EQ(List("type=file;size=1; /pub/sub/a.txt\r\n", true, "/pub/sub/"),
              QStringList({"a.txt"}));
    EXPECT_TRUE(List("type=file;size=1; total 1\r\n", true).isEmpty());
    EXPECT_EQ(List("type=file;size=1; total 1\r\ntype=file;size=1; x\r\n", true),
              QStringList({"total 1", "x"}));
    // A line break inside a name: the whole name comes out, never a part of it. Lines that end in
    // LF only have no such names.
    EXPECT_EQ(List("type=file;size=1; a\nb\nc.txt\r\ntype=file;size=1; d\r\n", true),
              QStringList({"a\nb\nc.txt", "d"}));
    EXPECT_EQ(List("-rw-r--r-- 1 u g 5 Jan 02  2020 e\nf\r\n", false), QStringList({"e\nf"}));
    EXPECT_EQ(List("type=file;size=1; g\ntype=cdir; .\ntype=file;size=1; h\n", true),
              QStringList({"g", "h"}));
}

TEST(FtpListRules, HostileNamesNeverComeOut)
{
    QByteArray data;
    for (const char *name :
         {"../evil", "../../etc/passwd", "/pub/../x", "/pub/..", "a/b", "/pub/", "", "good"})
        data += "-rw-r--r-- 1 u g 1 May 12  2020 " + QByteArray(name) + "\r\n";
    data += "lrwxrwxrwx 1 u g 1 May 12  2020 .. -> /\r\n";
    data += QByteArray("-rw-r--r-- 1 u g 1 May 12  2020 nul\0name\r\n", 42);
    QStringList skipped;
    EXPECT_EQ(List(data, false, "/pub", &skipped), QStringList({"good"}));
    EXPECT_EQ(skipped.size(), 8);
    EXPECT_TRUE(skipped.contains("../../etc/passwd"));

    skipped.clear();
    EXPECT_EQ(List("type=file;size=1; ../x\r\ntype=dir; sub/..\r\ntype=file;size=1; ok\r\n", true,
                   QString(), &skipped),
              QStringList({"ok"}));
    EXPECT_EQ(skipped, QStringList({"../x", "sub/.."}));

    // A name is made folder-relative only by the listed folder's own path, not by any prefix of
    // that length ("../x" listed in "/d" is not "x").
    skipped.clear();
    EXPECT_EQ(List("type=file;size=1; ../escape.txt\r\ntype=file;size=1; /d/kept.txt\r\n", true,
                   "/d", &skipped),
              QStringList({"kept.txt"}));
    EXPECT_EQ(skipped, QStringList({"../escape.txt"}));
}

TEST(FtpReplyText, LastLineWithoutCode)
{
    // Multi-line and over-long replies: see the fault tests. A continuation line that ends up
    // last keeps its hyphen; a NUL ends the text; an empty one is "Unknown error".
    EXPECT_EQ(ReplyErrorText("250-abc\n250-def\n"), "-def");
    EXPECT_EQ(ReplyErrorText(QByteArray("530 No\0tail\r\n", 13)), "No");
    EXPECT_EQ(ReplyErrorText("550 \r\n"), "Unknown error");
}
