// The listing parser over a corpus of real-world LIST and MLSD lines, and the listing rules.
#include "ftp/FtpListParser.h"
#include "ftp/FtpWininet.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

const QDate Today(2026, 6, 15);

TEST(FtpListParser, CorpusOfRealWorldLinesAndTheEntryDateRule)
{
    // Consecutive records of one kind with an id ("LIST:vms") are one listing, read as the
    // session reads what the server sends; others are a listing each. "-" is no entry, "?" no
    // entry and a line counted as unreadable. In lines, "\t" is a TAB and "\xHH" a byte.
    const auto unescaped = [](QByteArray text) {
        text.replace("\\t", "\t");
        for (qsizetype at; (at = text.indexOf("\\x")) >= 0;)
            text.replace(at, 4, QByteArray(1, char(text.mid(at + 2, 2).toInt(nullptr, 16))));
        return text;
    };
    std::vector<std::vector<QList<QByteArray>>> listings;
    for (const QByteArray &record : ReadWholeFile(TestDataPath("listing_corpus.txt")).split('\n')) {
        QList<QByteArray> r = record.split('\t');
        if (r.size() != 3)
            continue;
        r[1] = unescaped(r[1]);
        r[2] = unescaped(r[2]);
        if (listings.empty() || !r[0].contains(':') || listings.back().front()[0] != r[0])
            listings.emplace_back();
        listings.back().push_back(r);
    }
    EXPECT_GT(listings.size(), 40u); // the whole corpus was read
    for (const auto &records : listings) {
        QByteArray data;
        for (const auto &r : records)
            data += r[1] + "\r\n";
        TUnreadLines unread;
        const auto entries
            = ParseListing(data, records.front()[0].startsWith("MLSD"), Today, &unread);
        int unreadExpected = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            QString got = "-";
            for (const TFtpListEntry &e : entries) {
                if (e.Line == int(i))
                    got = e.Name + "|" + QString::number(e.Size) + (e.IsFolder ? "|d|" : "|f|")
                          + e.Date.toString(Qt::ISODate) + " " + e.Time.toString(Qt::ISODate);
            }
            const QString expected = QString::fromUtf8(records[i][2]);
            unreadExpected += expected == "?";
            EXPECT_EQ(got, expected == "?" ? "-" : expected) << records[i][1].constData();
        }
        EXPECT_EQ(unread.Count, unreadExpected) << records.front()[1].constData();
    }

    // A time of day other than 00:00 (hour and minute) means this year.
    TFtpListEntry e{QString(), 0, false, QDate(2019, 3, 4), QTime(14, 30)};
    EXPECT_EQ(EntryDate(e, 2026), QDateTime(QDate(2026, 3, 4), QTime(14, 30)));
    e.Time = QTime(0, 0, 59);
    EXPECT_EQ(EntryDate(e, 2026), QDateTime(QDate(2019, 3, 4), QTime(0, 0, 59)));
    e = {QString(), 0, false, QDate(2024, 2, 29), QTime(8, 0)};
    EXPECT_EQ(EntryDate(e, 2026).date(), QDate(2026, 2, 28));
    EXPECT_FALSE(EntryDate(TFtpListEntry(), 2026).isValid());
}

// The names FindFiles keeps from a listing of a folder, and those it drops as able to lead a
// local path out of its folder. Names are split at '|'.
TEST(FtpListRules, HostileNamesNeverComeOutAndNamesAreMadeFolderRelative)
{
    const auto lines = [](const char *prefix, const QString &names) {
        QByteArray data;
        for (const QString &name : names.split('|'))
            data += prefix + name.toUtf8() + "\r\n";
        return data;
    };
    const char *const list = "-rw-r--r-- 1 u g 1 May 12  2020 ", *const mlsd = "type=file;size=1; ";
    const QString nul = QString::fromUtf8("nul\0name", 8);
    const std::tuple<QByteArray, QString, QString, QString> cases[] = {
        // listing, its folder, names kept, names dropped
        {lines(list, "../evil|../../etc/passwd|/pub/../x|/pub/..|a/b|/pub/||good|/pub/a.txt|.|..")
             + "lrwxrwxrwx 1 u g 1 May 12  2020 .. -> /\r\n" + lines(list, nul) + "\r\n",
         "/pub", "good|a.txt", "../evil|../../etc/passwd|/pub/../x|/pub/..|a/b|/pub/||" + nul},
        {lines(mlsd, "../x|/pub/sub/a.txt|sub/..|ok"), "/pub/sub/", "a.txt|ok", "../x|sub/.."},
        // Only the folder's own path is taken off, not any prefix of that length.
        {lines(mlsd, "../escape.txt|/d/kept.txt"), "/d", "kept.txt", "../escape.txt"},
        // "total 1" is a header only as a listing's first line.
        {lines(mlsd, "total 1"), "", "", ""},
        {lines(mlsd, "total 1|x"), "", "total 1|x", ""},
        // A line break inside a name, where lines end in CR LF: the whole name comes out.
        {"type=file;size=1; a\nb\nc.txt\r\ntype=file;size=1; d\r\n", "", "a\nb\nc.txt|d", ""},
        {lines(list, "e\nf"), "", "e\nf", ""},
        {"type=file;size=1; g\ntype=cdir; .\ntype=file;size=1; h\n", "", "g|h", ""},
    };
    for (const auto &[data, path, kept, dropped] : cases) {
        TFtpFileList found;
        QStringList names, drops;
        AppendListing(ParseListing(data, data.startsWith("type="), Today), path, found,
                      Today.year(), [&](const QString &raw) { drops << raw; });
        for (int i = 0; i < found.Count(); ++i)
            names << found.Items(i)->Name;
        EXPECT_EQ(names.join('|'), kept) << data.constData();
        EXPECT_EQ(drops.join('|'), dropped) << data.constData();
    }
}
