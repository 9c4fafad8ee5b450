// File and path routines: separators, size texts, file sizes and ages, folder listings.
#include "engine/FileLib.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

bool SetModified(const QString &file, const QDateTime &when)
{
    const timeval times[2]
        = {{time_t(when.toSecsSinceEpoch()), 0}, {time_t(when.toSecsSinceEpoch()), 0}};
    return ::utimes(QFile::encodeName(file).constData(), times) == 0;
}

TEST(FileLibPaths, SeparatorsAndTrailingSeparators)
{
    QString p = QStringLiteral("a/b\\c/");
    SlashToBackslash(p);
    EXPECT_EQ(p, QStringLiteral("a\\b\\c\\"));
    BackslashToSlash(p);
    EXPECT_EQ(p, QStringLiteral("a/b/c/"));
    EXPECT_EQ(IncludeTrailingSlash(QString()), QStringLiteral("/"));
    EXPECT_EQ(IncludeTrailingSlash(QStringLiteral("/a/")), QStringLiteral("/a/"));
    EXPECT_EQ(ExcludeTrailingSlash(QStringLiteral("/")), QString());
    EXPECT_EQ(ExcludeTrailingSlash(QStringLiteral("/a//")), QStringLiteral("/a/"));
    EXPECT_EQ(IncludeTrailingBackslash(QString()), QStringLiteral("\\"));
    EXPECT_EQ(ExcludeTrailingBackslash(QStringLiteral("sub/")), QStringLiteral("sub/"));
}

TEST(FileLibSizes, SizeTextsUseDecimalThresholdsAndTheLocalesSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(FormatSize(0), QStringLiteral("0 byte"));
    EXPECT_EQ(FormatSize(999), QStringLiteral("999 byte"));
    EXPECT_EQ(FormatSize(1000), QStringLiteral("0.98 KB"));
    EXPECT_EQ(FormatSize(1536), QStringLiteral("1.5 KB"));
    EXPECT_EQ(FormatSize(2048), QStringLiteral("2 KB"));
    EXPECT_EQ(FormatSize(999999), QStringLiteral("976.56 KB"));
    EXPECT_EQ(FormatSize(1000000), QStringLiteral("0.95 MB"));
    EXPECT_EQ(FormatSize(1048576), QStringLiteral("1 MB"));
    EXPECT_EQ(FormatSize(5LL * 1024 * 1048576), QStringLiteral("5120 MB")); // no grouping, 64 bits
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatSize(1536), QStringLiteral("1,5 KB"));
    QLocale::setDefault(saved);

    EXPECT_EQ(FormatSizeKB(0), QStringLiteral("0 KB"));
    EXPECT_EQ(FormatSizeKB(1), QStringLiteral("1 KB"));
    EXPECT_EQ(FormatSizeKB(2047), QStringLiteral("1 KB"));
    EXPECT_EQ(FormatSizeKB(2048), QStringLiteral("2 KB"));
}

TEST(FileLibSizes, FileSizeIsZeroForWhatCannotBeRead)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("f.bin"));
    WriteWholeFile(file, QByteArray(12345, 'x'));
    EXPECT_EQ(GetFileSize(file), 12345);
    EXPECT_EQ(GetFileSize(dir.filePath(QStringLiteral("missing"))), 0);
    EXPECT_EQ(GetFileSize(dir.path()), 0);
    // A FIFO without a writer would block an ordinary open.
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(GetFileSize(fifo), 0);

    EXPECT_EQ(GetWindowsDir(), QStringLiteral("/usr/share"));
    EXPECT_EQ(GetTempDir(), QDir::tempPath());
}

TEST(FileLibAges, DosDateTimeOfTheLocalLastWriteTime)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("f.txt"));
    WriteWholeFile(file, "x");
    const QDateTime when(QDate(2016, 9, 25), QTime(23, 59, 31), Qt::LocalTime);
    ASSERT_TRUE(SetModified(file, when));
    // 2016-09-25 23:59:30 (seconds halved): date (36 << 9 | 9 << 5 | 25), time (23 << 11 | 59 << 5
    // | 15)
    const qint32 expected
        = qint32((quint32((36 << 9) | (9 << 5) | 25) << 16) | ((23 << 11) | (59 << 5) | 15));
    EXPECT_EQ(GetFileAge(file), expected);
    EXPECT_EQ(DateTimeToFileDate(when), expected);

    // A later (or earlier) write changes the value.
    ASSERT_TRUE(SetModified(file, when.addSecs(-2)));
    EXPECT_NE(GetFileAge(file), expected);

    EXPECT_EQ(GetFileAge(dir.filePath(QStringLiteral("missing"))), -1);
    ASSERT_TRUE(SetModified(file, QDateTime(QDate(1975, 1, 1), QTime(0, 0), Qt::LocalTime)));
    EXPECT_EQ(GetFileAge(file), -1); // not expressible before 1980
    EXPECT_LT(DateTimeToFileDate(QDateTime(QDate(2100, 1, 1), QTime(0, 0), Qt::LocalTime)), 0);
}

class FolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = dir.path() + QStringLiteral("/site");
        for (const char *f : {"a.html", ".hidden", ".htaccess", "sub/b.html", "sub/deep/c.txt",
                              ".git/config", ".well-known/x"})
            WriteWholeFile(root + u'/' + QString::fromLatin1(f), "x");
        QDir().mkpath(root + QStringLiteral("/empty"));
        Link(QStringLiteral("a.html"), QStringLiteral("link-to-file"));
        Link(QStringLiteral("sub"), QStringLiteral("link-to-sub"));
        Link(QStringLiteral("nowhere"), QStringLiteral("dangling"));
        Link(QStringLiteral("self"), QStringLiteral("self"));
        Link(QStringLiteral(".."), QStringLiteral("sub/up")); // a cycle back to the root
    }
    void Link(const QString &target, const QString &name)
    {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                            QFile::encodeName(root + u'/' + name).constData()),
                  0);
    }
    QStringList Names(const QStringList &paths) const
    {
        QStringList names;
        for (const QString &p : paths)
            names.append(p.mid(root.size() + 1));
        names.sort();
        return names;
    }
    QTemporaryDir dir;
    QString root;
};

TEST_F(FolderTest, HiddenNamesSpareTheSitesOwnFiles)
{
    for (const char *name : {".git", ".htaccess~", ".x"})
        EXPECT_TRUE(IsHiddenName(QString::fromLatin1(name))) << name;
    for (const char *name : {".htaccess", ".htpasswd", ".user.ini", ".well-known", "a.html"})
        EXPECT_FALSE(IsHiddenName(QString::fromLatin1(name))) << name;
}

TEST_F(FolderTest, FileFolderFlagsSelectFilesFoldersAndHidden)
{
    const TFileFolder files(root, ffFiles | ffHidden);
    EXPECT_EQ(files.Path, root);
    EXPECT_EQ(Names(files),
              QStringList({QStringLiteral(".hidden"), QStringLiteral(".htaccess"),
                           QStringLiteral("a.html"), QStringLiteral("link-to-file")}));
    const TFileFolder folders(root + u'/', ffFolders | ffHidden);
    EXPECT_EQ(Names(folders), QStringList({QStringLiteral(".git"), QStringLiteral(".well-known"),
                                           QStringLiteral("empty"), QStringLiteral("link-to-sub"),
                                           QStringLiteral("sub")}));
    const TFileFolder visible(root, ffFiles | ffFolders);
    EXPECT_EQ(Names(visible), QStringList({QStringLiteral(".htaccess"),
                                           QStringLiteral(".well-known"), QStringLiteral("a.html"),
                                           QStringLiteral("empty"), QStringLiteral("link-to-file"),
                                           QStringLiteral("link-to-sub"), QStringLiteral("sub")}));
    EXPECT_TRUE(TFileFolder(root + QStringLiteral("/missing"), 7).isEmpty());
}

TEST_F(FolderTest, FindLocalFilesRecursesAndSurvivesLinkCycles)
{
    QStringList found;
    FindLocalFiles(found, root, QStringLiteral("*.html"), true, true, false);
    // Every real folder once; the link "sub/up" leads back into the chain and is not followed.
    EXPECT_EQ(Names(found),
              QStringList({QStringLiteral("a.html"), QStringLiteral("link-to-sub/b.html"),
                           QStringLiteral("sub/b.html")}));
    // A folder's own entries come before those of its sub-folders.
    EXPECT_EQ(found.first().count(u'/'), root.count(u'/') + 1);

    QStringList all;
    FindLocalFiles(all, root + QStringLiteral("/sub"), QStringLiteral("*.*"), false, true, true);
    EXPECT_EQ(all.size(), 3); // b.html, deep, up: "*.*" names every entry
    QStringList none;
    FindLocalFiles(none, root, QStringLiteral("[bad"), true, true, true);
    EXPECT_TRUE(none.isEmpty());
}

} // namespace
