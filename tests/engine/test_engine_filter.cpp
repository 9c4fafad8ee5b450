// The mask language and the ignore filter.
#include "engine/PublishFilter.h"
#include "store/XMLStore.h"

#include <gtest/gtest.h>

namespace {

TEST(Mask, WildcardsSetsAndCase)
{
    const std::tuple<const char *, const char *, bool> cases[] = {
        {"*.bak", "/site/sub/old.bak", true}, // "*" spans separators
        {"*.BAK", "a.bak", true},
        {"*.bak", "a.bak2", false},
        {"*", "", true},
        {"?", "", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"images\\*", "images\\a\\b.gif", true},
        {"[abc]x", "Bx", true},
        {"[a-z]1", "Q1", true},
        {"[a-z]1", "01", false},
        {"[!a-z]1", "01", true},
        {"[!a-z]1", "q1", false},
        {"[!a-z]", "", false},
        {"[-x][x-]", "--", true}, // a dash first or last stands for itself
        {"[*?]", "?", true},      // wildcards inside a set are plain
        {"[*?]", "a", false},
        {"a]b", "a]b", true},
        {"*a*b*c", "xxaxxbxxc", true},
        {"*a*b*c", "xxaxxcxxb", false},
        {"\u00e9*", "\u00c9t\u00e9", false}, // only ASCII letters fold
        {"?.txt", "\U0001F600.txt", true},   // one character, two code units
        {"[\U0001F600]", "\U0001F600", true},
    };
    for (const auto &[mask, text, expected] : cases)
        EXPECT_EQ(MatchesMask(QString::fromUtf8(text), QString::fromUtf8(mask)), expected)
            << mask << " " << text;
}

TEST(Mask, InvalidMasksAreRejected)
{
    for (const char *mask : {"[", "[abc", "[]", "[!]", "a[!", "[z-a]"})
        EXPECT_THROW(TMask(QString::fromLatin1(mask)), EMaskError) << mask;
    EXPECT_NO_THROW(TMask(QString(30, u'*')));
    EXPECT_THROW(TMask(QString(31, u'*')), EMaskError);
    try {
        TMask(QStringLiteral("ab[c"));
    } catch (const EMaskError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'ab[c' is an invalid mask at (3)"));
    }
}

TEST(Mask, BacktrackingStaysPolynomial)
{
    // A recursive matcher needs about C(n, 29) steps for these; this one needs n x 60, so
    // the test simply finishes.
    const TMask m(QStringLiteral("*a").repeated(29) + QStringLiteral("b*"));
    const QString text(20000, u'a');
    EXPECT_FALSE(m.Matches(text));
    EXPECT_TRUE(m.Matches(text + QStringLiteral("bc")));
    EXPECT_FALSE(m.Matches(QString(28, u'a') + u'b'));
}

void AddEntry(TXMLStore &filters, const char *mask, const char *options)
{
    TXMLStore *entry = filters.Add();
    entry->Name = QStringLiteral("Filter");
    entry->Nodes(QStringLiteral("Mask"))->Value = QString::fromLatin1(mask);
    entry->Nodes(QStringLiteral("Options"))->Value = QString::fromLatin1(options);
}

TEST(Filter, LocalAndRemoteFormsOfTheStoredMasks)
{
    TXMLStore filters;
    AddEntry(filters, "*.bak", ":no");
    AddEntry(filters, "cgi-bin\\*", "no");
    AddEntry(filters, "images\\", "x:no:y");
    AddEntry(filters, "drafts\\*", "");
    AddEntry(filters, "keep\\*", ":yes");
    filters.Add(); // entries are read by position; missing keys read as empty

    TFilter f;
    f.LoadLocal(QStringLiteral("/home/me/site"), &filters);
    f.LoadLocal(QStringLiteral("/home/me/site/"), &filters); // clears first
    ASSERT_EQ(f.Count(), 6);
    EXPECT_EQ(f.Items(1)->Mask, QStringLiteral("/home/me/site/cgi-bin/*"));
    EXPECT_EQ(f.Items(5)->Mask, QStringLiteral("/home/me/site/"));
    const QString root = QStringLiteral("/home/me/site/");
    for (const char *ignored : {"sub/old.BAK", "cgi-bin/", "images/"})
        EXPECT_TRUE(f.IsIgnored(root + QString::fromLatin1(ignored))) << ignored;
    for (const char *kept : {"images/a.gif", "drafts/a.html", "keep/a.html", "index.html"})
        EXPECT_FALSE(f.IsIgnored(root + QString::fromLatin1(kept))) << kept;
    EXPECT_TRUE(f.IsMatch(root + QStringLiteral("keep/a.html"), QStringLiteral("yes")));
    EXPECT_FALSE(f.IsMatch(root + QStringLiteral("keep/a.html"), QString()));

    f.LoadRemote(QStringLiteral("/www"), &filters);
    ASSERT_EQ(f.Count(), 12); // appended
    EXPECT_EQ(f.Items(7)->Mask, QStringLiteral("/www/cgi-bin/*"));
    EXPECT_TRUE(f.IsIgnored(QStringLiteral("/www/cgi-bin/form.pl"), fsRemote));
    EXPECT_TRUE(f.IsIgnored(root + QStringLiteral("cgi-bin/"), fsLocal));
}

TEST(Filter, SidesKeepLocalAndServerMasksApart)
{
    // Both sides' paths begin with "/": a caller that names its side gets only that side's
    // entries, so the local mask /srv/www/* does not hide the server's /srv/www.
    TXMLStore filters;
    AddEntry(filters, "www\\*", ":no");
    TFilter f;
    f.LoadLocal(QStringLiteral("/srv"), &filters);
    f.LoadRemote(QStringLiteral("/srv/www"), &filters);
    const QString serverPath = QStringLiteral("/srv/www/index.html");
    EXPECT_TRUE(f.IsIgnored(serverPath));
    EXPECT_FALSE(f.IsIgnored(serverPath, fsRemote));
    EXPECT_TRUE(f.IsIgnored(QStringLiteral("/srv/www/www/x"), fsRemote));
    EXPECT_TRUE(f.IsIgnored(serverPath, fsLocal));
}

TEST(Filter, ForwardSlashAndInvalidMasks)
{
    TXMLStore filters;
    AddEntry(filters, "[bad", ":no");
    AddEntry(filters, "img/*.psd", ":no");
    TFilter f;
    f.LoadLocal(QStringLiteral("/site/"), &filters);
    f.LoadRemote(QStringLiteral("/www/"), &filters);
    EXPECT_FALSE(f.IsIgnored(QStringLiteral("/site/[bad"))); // never matches, never raises
    EXPECT_TRUE(f.IsIgnored(QStringLiteral("/www/img/a.psd")));
    EXPECT_TRUE(f.IsIgnored(QStringLiteral("/site/img/a.psd")));

    // An entry edited after it was added matches by its new mask.
    f.Add(QStringLiteral("/x/*.tmp"), QStringLiteral(":no"));
    f.Items(f.Count() - 1)->Mask = QStringLiteral("/x/*.swp");
    EXPECT_FALSE(f.IsIgnored(QStringLiteral("/x/a.tmp")));
    EXPECT_TRUE(f.IsIgnored(QStringLiteral("/x/a.swp")));
}

} // namespace
