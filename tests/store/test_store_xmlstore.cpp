// The XML-like store: text form, escapes, lookups, typed accessors.
#include "store/XMLStore.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QLocale>

TEST(XMLStoreText, WritesTagsAndEscapedValuesAndReadsThemBack)
{
    TXMLStore root;
    root.Name = "project";
    root.Nodes("Port")->SetAsInteger(21);
    root.Add()->Name = "Empty";
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
    EXPECT_EQ(back.Nodes("Text")->Value, root.Nodes("Text")->Value);
    EXPECT_EQ(back.SaveToBytes(), root.SaveToBytes());
    EXPECT_EQ(back.Count(), 6); // lookups found, nothing appended
    // A lookup of a missing key appends it in memory only: the file stays as it was.
    const QByteArray unread = root.SaveToBytes();
    EXPECT_EQ(root.Nodes("Missing")->Nodes("Deeper")->AsString(), "");
    EXPECT_EQ(root.IndexOf("Missing"), 6);
    EXPECT_EQ(root.SaveToBytes(), unread);
    // Lookups ignore ASCII case only and find the first of equal names.
    back.LoadFromBytes("<r><k>first</k><K>second</K><\u00e9t\u00e9>1</\u00e9t\u00e9></r>");
    EXPECT_EQ(back.Nodes("K")->Value, "first");
    EXPECT_EQ(back.IndexOf("\u00e9t\u00e9"), 2);
    EXPECT_EQ(back.IndexOf("\u00c9T\u00c9"), -1);

    EXPECT_EQ(ErrorOf<EStoreError>([&] { back.LoadFromFile("/no/such.xml"); }),
              "Cannot open file /no/such.xml");
    // Deep nesting does not exhaust the stack.
    back.LoadFromBytes(QByteArray("<a>").repeated(200000));
    EXPECT_EQ(back.SaveToBytes().size(), 200000 * 11);
}

TEST(XMLStoreAccessors, IntegerRoundingAndPassword)
{
    TXMLStore n;
    // Integers round halves to even and accept both decimal separators.
    const QLocale saved;
    for (const QLocale &locale : {QLocale(QLocale::English), QLocale(QLocale::German)}) {
        QLocale::setDefault(locale);
        for (const auto &[text, value] : {std::pair{"2,6", 3},
                                          {"2.5", 2},
                                          {"3.5", 4},
                                          {"-2.5", -2},
                                          {" 42\r\n", 42},
                                          {"", 0}}) {
            n.Value = text;
            EXPECT_EQ(n.AsInteger(), value) << text;
        }
    }
    QLocale::setDefault(saved);
    n.Value = "12abc";
    EXPECT_EQ(ErrorOf<EStoreError>([&] { n.AsInteger(); }),
              "'12abc' is not a valid floating point value");
    n.SetAsPassword("secret");
    EXPECT_EQ(n.Value, ")?9(?."); // the bytes the original program stored
    n.SetAsPassword("p\u00e4ss w\u00f6rd");
    EXPECT_EQ(n.AsPassword(), "p\u00e4ss w\u00f6rd");
}
