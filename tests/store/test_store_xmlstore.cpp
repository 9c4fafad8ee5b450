// The XML-like store: text form, reader quirks, typed accessors.
#include "store/XMLStore.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QTemporaryDir>

namespace {

// A compact picture of a tree: name, "=value" when not empty, children in brackets.
QString Dump(const TXMLStore &n)
{
    QString s = n.Name + (n.Value.isEmpty() ? QString() : u'=' + n.Value);
    if (n.Count() == 0)
        return s;
    QStringList children;
    for (int i = 0; i < n.Count(); ++i)
        children << Dump(*n.Items(i));
    return s + u'[' + children.join(u',') + u']';
}

QString Parsed(const char *text)
{
    TXMLStore t;
    t.LoadFromBytes(text);
    return Dump(t);
}

TEST(XMLStoreText, WritesTagsAndEscapedValuesAndReadsThemBack)
{
    TXMLStore root;
    root.Name = QStringLiteral("project");
    root.Nodes(QStringLiteral("Port"))->SetAsInteger(21);
    root.Nodes(QStringLiteral("Empty"));
    root.Nodes(QStringLiteral("Text"))->Value = QStringLiteral("a<b&c>d \"q\" 'x'");
    root.Nodes(QStringLiteral("Entity"))->Value = QStringLiteral("&lt;");
    root.Nodes(QStringLiteral("Blanks"))->Value = QStringLiteral(" a\r\nb\t");
    root.Nodes(QStringLiteral("Ref"))->Value = QStringLiteral("&#32;\u00e9\U0001F600");
    const QByteArray bytes = root.SaveToBytes();
    EXPECT_EQ(bytes,
              QByteArray("<project>\n<Port>\n21\n</Port>\n<Empty>\n</Empty>\n"
                         "<Text>\na&lt;b&amp;c&gt;d \"q\" 'x'\n</Text>\n"
                         "<Entity>\n&amp;lt;\n</Entity>\n<Blanks>\n a\r\nb\t\n</Blanks>\n"
                         "<Ref>\n&amp;#32;\xc3\xa9\xf0\x9f\x98\x80\n</Ref>\n</project>\n")
                  .replace("\n", "\r\n")
                  .replace("\r\r\n", "\r\n"));
    TXMLStore back;
    back.LoadFromBytes(bytes);
    // A plain value loses the blanks at its ends on reading; everything else comes back.
    root.Nodes(QStringLiteral("Blanks"))->Value = QStringLiteral("a\r\nb");
    EXPECT_EQ(Dump(back), Dump(root));
    EXPECT_EQ(back.Count(), 6); // lookups found, nothing appended

    // Blanks around a value in a hand-written file are layout, not content.
    EXPECT_EQ(Parsed("<r><v>  padded\t \r\n</v></r>"), QStringLiteral("r[v=padded]"));
}

TEST(XMLStoreNodes, LookupIgnoresAsciiCaseCreatesMissingAndFindsTheFirst)
{
    TXMLStore root;
    root.Nodes(QStringLiteral("Port"))->Value = QStringLiteral("21");
    EXPECT_EQ(root.Nodes(QStringLiteral("port"))->Value, QStringLiteral("21"));
    EXPECT_EQ(root.IndexOf(QStringLiteral("PORT")), 0);
    EXPECT_EQ(root.IndexOf(QStringLiteral("host")), -1);
    EXPECT_EQ(root.Nodes(QStringLiteral("host"))->Name, QStringLiteral("host"));
    root.Nodes(QStringLiteral("\u00e9t\u00e9"));
    EXPECT_EQ(root.IndexOf(QStringLiteral("\u00c9T\u00c9")), -1); // only ASCII letters fold
    EXPECT_EQ(Dump(root), QStringLiteral("[Port=21,host,\u00e9t\u00e9]"));

    TXMLStore dup;
    dup.LoadFromBytes("<r><k>first</k><K>second</K></r>");
    EXPECT_EQ(dup.Nodes(QStringLiteral("k"))->Value, QStringLiteral("first"));
    dup.Delete(0);
    EXPECT_EQ(dup.Nodes(QStringLiteral("k"))->Value, QStringLiteral("second"));
    dup.Clear();
    EXPECT_EQ(Dump(dup), QStringLiteral("r")); // Clear keeps the node's own name
}

TEST(XMLStoreReader, ReproducesTheFormatsQuirks)
{
    const std::pair<const char *, const char *> cases[] = {
        // any "</" closes the innermost element
        {"<r><a>1</b><c>2</c></r>", "r[a=1,c=2]"},
        // text after a child, before the root and after it is skipped
        {"junk<r>v<a>1</a>lost<b>2</b></r>after<x>", "r=v[a=1,b=2]"},
        // a root without a closing tag takes every later element
        {"<r><a>1</a><b>2</b>", "r[a=1,b=2]"},
        // blanks belong to the name; an empty-element tag stays open and adopts siblings
        {"<r><a x=\"1\">v</a><e/><f>3</f></e/></r>", "r[a x=\"1\"=v,e/[f=3]]"},
        // a comment is an element
        {"<r><!-- note --></r>", "r[!-- note --]"},
        // a last value or name without a following delimiter loses its last character
        {"<r><a>value", "r[a=valu]"},
        {"<r><abc", "r[ab]"},
        {"no tags at all", "no tags at al"},
        {"", ""},
    };
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(Parsed(input), QString::fromUtf8(expected)) << input;
}

TEST(XMLStoreReader, DeepNestingDoesNotExhaustTheStack)
{
    TXMLStore t;
    t.LoadFromBytes(QByteArray("<a>").repeated(200000));
    int depth = 0;
    for (const TXMLStore *n = &t; n->Count() > 0; n = n->Items(0))
        ++depth;
    EXPECT_EQ(depth, 199999);
    EXPECT_EQ(t.SaveToBytes().size(), 200000 * 11);
}

TEST(XMLStoreAccessors, BooleanIsFalseExactlyForEmptyOrZero)
{
    TXMLStore n;
    for (const char *text : {"", "0", "00", "-0", " 0", "$0", "0x0"}) {
        n.Value = QString::fromLatin1(text);
        EXPECT_FALSE(n.AsBoolean()) << text;
    }
    for (const char *text : {"1", "7", "abc", "0 ", "0.0", "-", "$"}) {
        n.Value = QString::fromLatin1(text);
        EXPECT_TRUE(n.AsBoolean()) << text;
    }
    n.SetAsBoolean(false);
    EXPECT_EQ(n.Value, QStringLiteral("0"));
}

TEST(XMLStoreAccessors, IntegerRoundsHalvesToEvenAndAcceptsBothSeparators)
{
    const QLocale saved;
    TXMLStore n;
    for (const QLocale &locale : {QLocale(QLocale::English), QLocale(QLocale::German)}) {
        QLocale::setDefault(locale);
        const std::pair<const char *, int> cases[] = {
            {"", 0},         {"2,6", 3},    {"2.5", 2},
            {"3.5", 4},      {"-2.5", -2},  {"1.5", 2},
            {" 42\r\n", 42}, {"1e3", 1000}, {"2147483647", 2147483647},
        };
        for (const auto &[text, value] : cases) {
            n.Value = QString::fromLatin1(text);
            EXPECT_EQ(n.AsInteger(), value) << text;
        }
        for (const char *text : {"12abc", "1.2.3", "1,2,3", "1e", "2147483648", "inf"}) {
            n.Value = QString::fromLatin1(text);
            EXPECT_THROW(n.AsInteger(), EStoreError) << text;
        }
    }
    QLocale::setDefault(saved);
    n.Value = QStringLiteral("12abc");
    try {
        n.AsInteger();
    } catch (const EStoreError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'12abc' is not a valid floating point value"));
    }
    EXPECT_EQ(n.Value, QStringLiteral("12abc"));
}

TEST(XMLStoreAccessors, PasswordScramblesEveryCharacterAndSurvivesAFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.xml"));
    // Scrambled, "pizza" has inner blanks, "Zebra" a leading NUL, "fizz" trailing blanks.
    for (const QString &password :
         {QStringLiteral("pizza"), QStringLiteral("Zebra"), QStringLiteral("fizz"),
          QStringLiteral("p\u00e4ss w\u00f6rd")}) {
        TXMLStore root;
        TXMLStore *pass = root.Nodes(QStringLiteral("Pass"));
        pass->SetAsPassword(password);
        ASSERT_EQ(pass->Value.size(), password.size());
        for (qsizetype i = 0; i < password.size(); ++i)
            EXPECT_NE(pass->Value[i], password[i]);
        root.SaveToFile(file);
        TXMLStore back;
        back.LoadFromFile(file);
        EXPECT_EQ(back.Nodes(QStringLiteral("Pass"))->AsPassword(), password);
    }
    TXMLStore n;
    n.SetAsPassword(QStringLiteral("secret"));
    EXPECT_EQ(n.Value, QStringLiteral(")?9(?.")); // the bytes the original program stored
}

TEST(XMLStoreFiles, OpenAndCreateFailuresNameTheFile)
{
    QTemporaryDir dir;
    TXMLStore t;
    const QString missing = dir.filePath(QStringLiteral("missing.xml"));
    const QString unreachable = dir.filePath(QStringLiteral("no/such/t.xml"));
    try {
        t.LoadFromFile(missing);
        ADD_FAILURE();
    } catch (const EStoreError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot open file ") + missing);
    }
    try {
        t.SaveToFile(unreachable);
        ADD_FAILURE();
    } catch (const EStoreError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot create file ") + unreachable);
    }
}

} // namespace
