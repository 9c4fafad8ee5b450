// The XML-like store: text form, reader quirks, typed accessors.
#include "store/XMLStore.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QTemporaryDir>

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
    root.Name = "project";
    root.Nodes("Port")->SetAsInteger(21);
    root.Nodes("Empty");
    root.Nodes("Text")->Value = "a<b&c>d \"q\" 'x'";
    root.Nodes("Entity")->Value = "&lt;";
    root.Nodes("Blanks")->Value = " a\r\nb\t";
    root.Nodes("Ref")->Value = "&#32;\u00e9\U0001F600";
    const QByteArray bytes = root.SaveToBytes();
    EXPECT_EQ(bytes, QByteArray("<project>\n<Port>\n21\n</Port>\n<Empty>\n</Empty>\n"
                                "<Text>\na&lt;b&amp;c&gt;d \"q\" 'x'\n</Text>\n"
                                "<Entity>\n&amp;lt;\n</Entity>\n<Blanks>\n a\r\nb\t\n</Blanks>\n"
                                "<Ref>\n&amp;#32;\xc3\xa9\xf0\x9f\x98\x80\n</Ref>\n</project>\n")
                         .replace("\n", "\r\n")
                         .replace("\r\r\n", "\r\n"));
    TXMLStore back;
    back.LoadFromBytes(bytes);
    // A plain value loses the blanks at its ends on reading; everything else comes back.
    root.Nodes("Blanks")->Value = "a\r\nb";
    EXPECT_EQ(Dump(back), Dump(root));
    EXPECT_EQ(back.Count(), 6); // lookups found, nothing appended
    // Lookups ignore ASCII case only and find the first of equal names.
    back.LoadFromBytes("<r><k>first</k><K>second</K><\u00e9t\u00e9>1</\u00e9t\u00e9></r>");
    EXPECT_EQ(back.Nodes("K")->Value, "first");
    EXPECT_EQ(back.IndexOf("\u00e9t\u00e9"), 2);
    EXPECT_EQ(back.IndexOf("\u00c9T\u00c9"), -1);

    // Blanks around a value in a hand-written file are layout, not content.
    EXPECT_EQ(Parsed("<r><v>  padded\t \r\n</v></r>"), "r[v=padded]");

    // A missing file is named in the error.
    EXPECT_EQ(ErrorOf<EStoreError>([&] { back.LoadFromFile("/no/such.xml"); }),
              "Cannot open file /no/such.xml");
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

    // Deep nesting does not exhaust the stack.
    TXMLStore t;
    t.LoadFromBytes(QByteArray("<a>").repeated(200000));
    int depth = 0;
    for (const TXMLStore *n = &t; n->Count() > 0; n = n->Items(0))
        ++depth;
    EXPECT_EQ(depth, 199999);
    EXPECT_EQ(t.SaveToBytes().size(), 200000 * 11);
}

TEST(XMLStoreAccessors, BooleanIntegerAndPassword)
{
    TXMLStore n;
    // False exactly for empty or zero.
    for (const char *text : {"", "0", "00", "-0", " 0", "$0", "0x0"}) {
        n.Value = text;
        EXPECT_FALSE(n.AsBoolean()) << text;
    }
    for (const char *text : {"1", "abc", "0 ", "0.0", "$"}) {
        n.Value = text;
        EXPECT_TRUE(n.AsBoolean()) << text;
    }
    n.SetAsBoolean(false);
    EXPECT_EQ(n.Value, "0");

    // Integers round halves to even and accept both decimal separators.
    const QLocale saved;
    for (const QLocale &locale : {QLocale(QLocale::English), QLocale(QLocale::German)}) {
        QLocale::setDefault(locale);
        const std::pair<const char *, int> cases[] = {
            {"", 0},         {"2,6", 3},    {"2.5", 2},
            {"3.5", 4},      {"-2.5", -2},  {"1.5", 2},
            {" 42\r\n", 42}, {"1e3", 1000}, {"2147483647", 2147483647},
        };
        for (const auto &[text, value] : cases) {
            n.Value = text;
            EXPECT_EQ(n.AsInteger(), value) << text;
        }
        for (const char *text : {"12abc", "1.2.3", "1,2,3", "1e", "2147483648", "inf"}) {
            n.Value = text;
            EXPECT_THROW(n.AsInteger(), EStoreError) << text;
        }
    }
    QLocale::setDefault(saved);
    n.Value = "12abc";
    EXPECT_EQ(ErrorOf<EStoreError>([&] { n.AsInteger(); }),
              "'12abc' is not a valid floating point value");
    EXPECT_EQ(n.Value, "12abc");

    // A password scrambles every character and survives a file.
    QTemporaryDir dir;
    const QString file = dir.filePath("p.xml");
    // Scrambled, "pizza" has inner blanks, "Zebra" a leading NUL, "fizz" trailing blanks.
    for (const QString password : {"pizza", "Zebra", "fizz", "p\u00e4ss w\u00f6rd"}) {
        TXMLStore root;
        TXMLStore *pass = root.Nodes("Pass");
        pass->SetAsPassword(password);
        ASSERT_EQ(pass->Value.size(), password.size());
        for (qsizetype i = 0; i < password.size(); ++i)
            EXPECT_NE(pass->Value[i], password[i]);
        root.SaveToFile(file);
        // Saved again after a load, as every opened project is.
        TXMLStore back;
        back.LoadFromFile(file);
        back.SaveToFile(file);
        TXMLStore again;
        again.LoadFromFile(file);
        EXPECT_EQ(again.Nodes("Pass")->AsPassword(), password);
    }
    // Plain values keep the reader's trimming: a blank-edged value is written as it is.
    TXMLStore plain;
    plain.Nodes("Host")->Value = " host ";
    EXPECT_TRUE(plain.SaveToBytes().contains("\r\n host \r\n"));
    n.SetAsPassword("secret");
    EXPECT_EQ(n.Value, ")?9(?."); // the bytes the original program stored
}
