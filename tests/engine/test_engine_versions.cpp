// Version records: lookup, text form, removal.
#include "engine/PublishVersions.h"

#include <gtest/gtest.h>

namespace {

TEST(Versions, FindOrAddIsExactAndCreatesOnce)
{
    TPublishVersions v;
    TVersionItem *a = v.FindOrAdd(QStringLiteral("a.html"));
    EXPECT_EQ(a->Date, 0);
    a->Date = 5;
    EXPECT_EQ(v.FindOrAdd(QStringLiteral("a.html")), a);
    TVersionItem *upper = v.FindOrAdd(QStringLiteral("A.html"));
    EXPECT_NE(upper, a); // case matters
    EXPECT_EQ(v.Count(), 2);
    EXPECT_EQ(v.Items(1), upper);

    // Many records: each name still maps to its own record, in insertion order.
    for (int i = 0; i < 100000; ++i)
        v.FindOrAdd(QStringLiteral("sub\\f%1").arg(i))->Date = i + 2;
    EXPECT_EQ(v.Count(), 100002);
    EXPECT_EQ(v.FindOrAdd(QStringLiteral("sub\\f77777"))->Date, 77779);
    EXPECT_EQ(v.Items(2)->FileName, QStringLiteral("sub\\f0"));
}

TEST(Versions, TextFormRoundTrips)
{
    TPublishVersions v;
    v.FindOrAdd(QString())->Date = 1;
    v.FindOrAdd(QStringLiteral("images\\"))->Date = 1;
    v.FindOrAdd(QStringLiteral("a b.html"))->Date = -1;
    v.FindOrAdd(QStringLiteral("new.html"));
    const QString text = v.SaveToText();
    EXPECT_EQ(text, QStringLiteral("1 \r\n1 images\\\r\n-1 a b.html\r\n0 new.html\r\n"));
    TPublishVersions back;
    back.LoadFromText(text);
    ASSERT_EQ(back.Count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(back.Items(i)->FileName, v.Items(i)->FileName);
        EXPECT_EQ(back.Items(i)->Date, v.Items(i)->Date);
    }
    EXPECT_EQ(back.FindOrAdd(QString()), back.Items(0));
}

TEST(Versions, ReaderToleratesOddLines)
{
    TPublishVersions v;
    v.FindOrAdd(QStringLiteral("old"));
    v.LoadFromText(QStringLiteral("\r\n  \n12 a.html\rnoSpaceHere\nabc name\n"
                                  "3  padded name \t\r\n99999999999 big\n7 \t\n 8 lead\n"
                                  "4 dup\n5 dup"));
    const std::pair<qint32, const char *> expected[] = {
        {12, "a.html"}, {0, "noSpaceHere"}, {0, "name"}, {3, "padded name"}, {0, "big"},
        {7, ""},        {0, "8 lead"},      {4, "dup"},  {5, "dup"},
    };
    ASSERT_EQ(v.Count(), int(std::size(expected)));
    for (int i = 0; i < v.Count(); ++i) {
        EXPECT_EQ(v.Items(i)->Date, expected[i].first) << i;
        EXPECT_EQ(v.Items(i)->FileName, QString::fromLatin1(expected[i].second)) << i;
    }
    // Duplicates from a file stay; lookups find the first.
    EXPECT_EQ(v.FindOrAdd(QStringLiteral("dup"))->Date, 4);
    EXPECT_EQ(v.FindOrAdd(QStringLiteral("old"))->Date, 0);
    EXPECT_EQ(v.Count(), int(std::size(expected)) + 1);

    v.LoadFromText(QString());
    EXPECT_EQ(v.Count(), 0);
}

TEST(Versions, RemovingKeepsTheIndexRight)
{
    TPublishVersions v;
    v.LoadFromText(QStringLiteral("1 a\n2 b\n3 a\n4 c\n"));
    v.Remove(v.Items(0));
    EXPECT_EQ(v.FindOrAdd(QStringLiteral("a"))->Date, 3); // the second "a" takes over
    v.Remove(v.FindOrAdd(QStringLiteral("a")));
    TVersionItem *fresh = v.FindOrAdd(QStringLiteral("a"));
    EXPECT_EQ(fresh->Date, 0);
    EXPECT_EQ(v.Count(), 3);

    v.RemoveItems({v.FindOrAdd(QStringLiteral("b")), fresh});
    ASSERT_EQ(v.Count(), 1);
    EXPECT_EQ(v.Items(0)->FileName, QStringLiteral("c"));
    EXPECT_EQ(v.FindOrAdd(QStringLiteral("c"))->Date, 4);
    EXPECT_EQ(v.FindOrAdd(QStringLiteral("b"))->Date, 0);
    v.Clear();
    EXPECT_EQ(v.Count(), 0);
    EXPECT_EQ(v.FindOrAdd(QStringLiteral("c"))->Date, 0);
}

} // namespace
