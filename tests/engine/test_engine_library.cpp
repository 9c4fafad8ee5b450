// Engine library routines: sizes, DOS times, masks, the ignore filter, version records, the
// progress figures.
#include "engine/FileLib.h"
#include "engine/PublishFilter.h"
#include "engine/PublishVersions.h"
#include "engine/TransferProgress.h"
#include "store/XMLStore.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <sys/stat.h>

TEST(FileLib, SizeTextsSizesAndDosTimes)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatSize(999) + FormatSize(1000) + FormatSize(1536) + FormatSize(5LL << 30),
              "999 byte0,98 KB1,5 KB5120 MB");
    QLocale::setDefault(saved);
    EXPECT_EQ(FormatSizeKB(2047) + FormatSizeKB(2048), "1 KB2 KB");

    QTemporaryDir dir;
    const QString file = dir.filePath("f.bin");
    WriteWholeFile(file, QByteArray(12345, 'x'));
    // A FIFO without a writer would block an ordinary open.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600), 0);
    EXPECT_EQ(QList<qint64>({GetFileSize(file), GetFileSize(dir.filePath("missing")),
                             GetFileSize(dir.path()), GetFileSize(dir.filePath("fifo"))}),
              QList<qint64>({12345, 0, 0, 0}));
    // 2016-09-25 23:59:30 as a DOS date and time (seconds halved).
    const QDateTime when(QDate(2016, 9, 25), QTime(23, 59, 31), Qt::LocalTime);
    const qint32 expected
        = qint32((quint32((36 << 9) | (9 << 5) | 25) << 16) | ((23 << 11) | (59 << 5) | 15));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    EXPECT_EQ(GetFileAge(file), expected);
    EXPECT_EQ(DateTimeToFileDate(when), expected);
    // Not expressible before 1980; years from 2044 on set the sign bit.
    ASSERT_TRUE(f.setFileTime(QDateTime(QDate(1975, 1, 1), QTime(0, 0)),
                              QFileDevice::FileModificationTime));
    EXPECT_EQ(GetFileAge(file) + GetFileAge(dir.filePath("missing")), -2);
    EXPECT_LT(DateTimeToFileDate(QDateTime(QDate(2100, 1, 1), QTime(0, 0))), 0);
}

TEST(Mask, WildcardsSetsCaseAndInvalidMasks)
{
    // "*" spans separators; only ASCII letters fold; "?" is one character, even a surrogate pair.
    const char *cases[][3] = {{"*.BAK", "/site/sub/old.bak", "matches"},
                              {"[!a-z]1", "01", "matches"},
                              {"[!a-z]1", "q1", ""},
                              {"[-x][x-]", "--", "matches"},
                              {"*a*b*c", "xxaxxcxxb", ""},
                              {"ab*ba", "aba", ""}, // the two ends may not overlap
                              {"*.php*", "/a.pl/b.PHP3", "matches"},
                              {"\u00e9*", "\u00c9t\u00e9", ""},
                              {"?.txt", "\U0001F600.txt", "matches"}};
    for (const auto &[mask, text, expected] : cases)
        EXPECT_EQ(MatchesMask(QString::fromUtf8(text), QString::fromUtf8(mask)), *expected != 0)
            << mask << " " << text;
    EXPECT_EQ(ErrorOf<EMaskError>([] { TMask("ab[c"); }), "'ab[c' is an invalid mask at (3)");
    // A recursive matcher needs about C(n, 29) steps for this one, so the test would not end.
    const TMask m(QString("*a").repeated(29) + "b*");
    EXPECT_FALSE(m.Matches(QString(20000, u'a')));
    EXPECT_TRUE(m.Matches(QString(20000, u'a') + "bc"));
}

TEST(Filter, LocalAndRemoteFormsKeepTheirSidesApart)
{
    TXMLStore filters;
    const char *entries[][2] = {{"*.bak", ":no"},
                                {"images\\", "x:no:y"},
                                {"keep\\*", ":yes"},
                                {"www\\*", ":no"},
                                {"[bad", ":no"}};
    for (const auto &[mask, options] : entries) {
        TXMLStore *entry = filters.Add();
        entry->Nodes("Mask")->Value = mask;
        entry->Nodes("Options")->Value = options;
    }
    TFilter f;
    f.LoadLocal("/srv", &filters);
    f.LoadLocal("/srv/", &filters); // clears first
    f.LoadRemote("/srv/www", &filters);
    ASSERT_EQ(f.Count(), 10);
    for (const char *ignored : {"sub/old.BAK", "images/"})
        EXPECT_TRUE(f.IsIgnored(QString("/srv/") + ignored, fsLocal)) << ignored;
    for (const char *kept : {"images/a.gif", "keep/a.html", "[bad"})
        EXPECT_FALSE(f.IsIgnored(QString("/srv/") + kept)) << kept;
    EXPECT_TRUE(f.IsMatch("/srv/keep/a.html", "yes"));
    // A caller that names its side gets only that side's entries.
    EXPECT_TRUE(f.IsIgnored("/srv/www/index.html"));
    EXPECT_FALSE(f.IsIgnored("/srv/www/index.html", fsRemote));
    EXPECT_TRUE(f.IsIgnored("/srv/www/www/x", fsRemote));
}

QString Dump(const TPublishVersions &v)
{
    QStringList items;
    for (int i = 0; i < v.Count(); ++i)
        items << QString::number(v.Items(i)->Date) + ":" + v.Items(i)->FileName;
    return items.join('|');
}

TEST(Versions, LookupReaderAndRemoval)
{
    TPublishVersions v;
    v.LoadFromText("\r\n  \n12 a.html\rnoSpaceHere\nabc name\n3  padded name \t\r\n"
                   "99999999999 big\n7 \t\n 8 lead\n4 dup\n5 dup");
    // The name is all after the first space: its blanks are part of it.
    EXPECT_EQ(Dump(v),
              "12:a.html|0:noSpaceHere|0:name|3: padded name \t|0:big|7:\t|0:8 lead|4:dup|5:dup");
    EXPECT_EQ(v.FindOrAdd("dup")->Date, 4);
    EXPECT_EQ(v.FindOrAdd("A.html"), v.FindOrAdd("A.html"));
    EXPECT_EQ(v.Count(), 10);
    // Removal keeps the index right: the second "dup" takes over.
    v.Remove(v.FindOrAdd("dup"));
    EXPECT_EQ(v.FindOrAdd("dup")->Date, 5);
    v.RemoveItems({v.FindOrAdd("dup"), v.FindOrAdd("a.html")});
    EXPECT_EQ(v.FindOrAdd("dup")->Date, 0);
    EXPECT_EQ(v.FindOrAdd("a.html")->Date, 0);

    // Blanks survive; a name with CR, LF or NUL is never written, so it cannot forge a record.
    TPublishVersions names;
    for (const QString &name : {QString(" lead.html"), QString("trail.html "), QString(" "),
                                QString("evil\r\n1474842634 secret-page.html"), QString("lf\n9 x"),
                                QString("nul") + QChar(0)})
        names.FindOrAdd(name)->Date = 11;
    EXPECT_EQ(names.SaveToText(), "11  lead.html\r\n11 trail.html \r\n11  \r\n");
    TPublishVersions back;
    back.LoadFromText(names.SaveToText());
    EXPECT_EQ(Dump(back), "11: lead.html|11:trail.html |11: ");
}

// Runs fed every 200 ms: files one after another at 100,000 bytes/s, each costing 0.1 s more.
// The estimate waits, then counts the bytes and the files left; the bar counts the files too.
TEST(TransferProgress, CalculatingFirstThenBytesAndFilesLeft)
{
    const struct
    {
        QList<qint64> Sizes;
        double CheckAt; // seconds
    } runs[] = {{QList<qint64>{5000000, 5000000} + QList<qint64>(1000, 1000), 120},
                {QList<qint64>(100, 100000), 50},
                {{3000000}, 10}};
    for (const auto &run : runs) {
        const auto at = [&](double t, qint64 &bytes, qint32 &files) {
            double clock = 0;
            bytes = files = 0;
            for (const qint64 size : run.Sizes) {
                if (clock + 0.1 + double(size) / 1e5 > t) {
                    bytes += qint64(qMax(0.0, t - clock - 0.1) * 1e5);
                    return clock + 0.1 + double(size) / 1e5;
                }
                clock += 0.1 + double(size) / 1e5;
                bytes += size;
                ++files;
            }
            return clock;
        };
        qint64 total = 0, bytes = 0;
        qint32 files = 0;
        const double end = at(1e9, total, files);
        TTransferProgress progress;
        for (qint64 ms = 0; ms <= qint64(run.CheckAt * 1000); ms += 200) {
            at(double(ms) / 1000, bytes, files);
            progress.Update(ms, bytes, total, files, qint32(run.Sizes.size()));
            if (ms == 1000) {
                EXPECT_TRUE(progress.StatusText("uploaded")
                                .startsWith("Estimated time left: calculating... (0 of "));
            }
        }
        const double left = end - run.CheckAt;
        EXPECT_NEAR(progress.SecondsLeft(), left, 0.2 * left) << run.Sizes.size();
        EXPECT_NEAR(progress.Percent(), 100 * run.CheckAt / end, 10) << run.Sizes.size();
        EXPECT_TRUE(
            progress.StatusText("uploaded")
                .startsWith("Estimated time left: " + DurationText(progress.SecondsLeft()) + " ("))
            << progress.StatusText("uploaded").toStdString();
    }
}
