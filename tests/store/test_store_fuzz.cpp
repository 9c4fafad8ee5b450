// The readers take any input: mutated sample files neither crash nor hang them, and what
// they make of it writes out and reads back unchanged.
#include "engine/PublishFilter.h"
#include "store/PrjCls.h"
#include "store/Settings.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

class Mutator
{
public:
    explicit Mutator(quint32 seed)
        : m_random(seed)
    {
    }
    int Below(int n) { return n <= 0 ? 0 : int(m_random() % quint32(n)); }

    QByteArray Mutate(QByteArray data)
    {
        static const char *const tokens[] = {"<",
                                             ">",
                                             "</",
                                             "&",
                                             "&amp;",
                                             "&lt;",
                                             "&#",
                                             "&#32;",
                                             "&#0;",
                                             "&#1114112;",
                                             "'",
                                             "''",
                                             "#",
                                             "#39",
                                             "#$41",
                                             "#55357",
                                             "+",
                                             "(",
                                             ")",
                                             "=",
                                             ".",
                                             ":",
                                             "\r\n",
                                             "\n",
                                             " ",
                                             "\t",
                                             "<!-- versions -->",
                                             "object",
                                             "end",
                                             "Strings",
                                             "-",
                                             "0",
                                             "2147483648",
                                             "\xc3",
                                             "\xf0\x9f\x98\x80",
                                             "True",
                                             "ptSocks",
                                             "[a-",
                                             "*"};
        for (int steps = 1 + Below(8); steps > 0; --steps) {
            const int at = Below(int(data.size()) + 1);
            switch (Below(5)) {
            case 0:
                data.insert(at, char(Below(256)));
                break;
            case 1:
                data.insert(at, tokens[Below(int(std::size(tokens)))]);
                break;
            case 2:
                data.remove(at, 1 + Below(40));
                break;
            case 3:
                data.insert(Below(int(data.size()) + 1), data.mid(at, 1 + Below(200)));
                break;
            default:
                data.truncate(at);
            }
        }
        return data;
    }
    QByteArray Random()
    {
        QByteArray data(Below(300), '\0');
        for (char &c : data)
            c = char(Below(256));
        return data;
    }

private:
    std::mt19937 m_random;
};

void CheckProject(const QByteArray &input, int &conversionErrors)
{
    TProject p;
    p.LoadFromBytes(input);
    const QByteArray saved = p.SaveToBytes();
    QString tree;
    p.WriteText(tree);
    // Names are not escaped, so a mangled one may spell the marker; no written file has one.
    if (!tree.contains(p.VersionsMarker)) {
        TProject q;
        q.LoadFromBytes(saved);
        ASSERT_EQ(q.SaveToBytes(), saved) << input.toPercentEncoding().constData();
    }
    std::vector<TXMLStore *> pending{&p};
    while (!pending.empty()) {
        TXMLStore *n = pending.back();
        pending.pop_back();
        n->AsBoolean();
        try {
            n->AsInteger();
        } catch (const EStoreError &) {
            ++conversionErrors;
        }
        for (int i = 0; i < n->Count(); ++i)
            pending.push_back(n->Items(i));
    }
    TFilter filter;
    filter.LoadLocal(p.GetLocalPath(), p.Nodes(QStringLiteral("Filters")));
    filter.LoadRemote(p.GetRemotePath(), p.Nodes(QStringLiteral("Filters")));
    filter.IsIgnored(QStringLiteral("/home/webmaster/site/cgi-bin/form.pl"));

    TPublishVersions v;
    v.LoadFromText(QString::fromUtf8(input));
    const QString text = v.SaveToText();
    v.LoadFromText(text);
    ASSERT_EQ(v.SaveToText(), text) << input.toPercentEncoding().constData();
}

void Reset(TSettings &s)
{
    s.TextFiles.clear();
    s.ExecFiles.clear();
    s.FtpProxyHost.clear();
    s.SocksHost.clear();
    s.ErrorSound.clear();
    s.CompleteSound.clear();
    s.FtpProxyPort = s.SocksPort = 0;
    s.ProxyType = ptFTP;
    s.SoundEnabled = false;
}

bool CheckSettings(TSettings &s, const QByteArray &input)
{
    Reset(s);
    try {
        s.ReadText(input);
    } catch (const EStoreError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("The file is not valid"));
        return false;
    }
    const QByteArray written = s.WriteText();
    Reset(s);
    EXPECT_NO_THROW(s.ReadText(written)) << input.toPercentEncoding().constData();
    EXPECT_EQ(s.WriteText(), written) << input.toPercentEncoding().constData();
    return true;
}

TEST(ReaderFuzz, ProjectFilesAndVersionRecords)
{
    const QByteArray samples[] = {ReadWholeFile(TestDataPath(QStringLiteral("site.zdx"))),
                                  ReadWholeFile(TestDataPath(QStringLiteral("new_project.zdx")))};
    ASSERT_FALSE(samples[0].isEmpty() || samples[1].isEmpty());
    Mutator mutator(20240611);
    int conversionErrors = 0;
    for (int i = 0; i < 3500; ++i) {
        const QByteArray input = i < 3000 ? mutator.Mutate(samples[i % 2]) : mutator.Random();
        ASSERT_NO_FATAL_FAILURE(CheckProject(input, conversionErrors));
    }
    EXPECT_GT(conversionErrors, 0); // the mutations reached the number conversion
}

TEST(ReaderFuzz, SettingsFiles)
{
    const QByteArray samples[]
        = {ReadWholeFile(TestDataPath(QStringLiteral("settings_full.dat"))),
           ReadWholeFile(TestDataPath(QStringLiteral("settings_default.dat")))};
    ASSERT_FALSE(samples[0].isEmpty() || samples[1].isEmpty());
    TSettings s;
    Mutator mutator(7);
    int accepted = 0;
    for (int i = 0; i < 3500; ++i)
        accepted += CheckSettings(s, i < 3000 ? mutator.Mutate(samples[i % 2]) : mutator.Random());
    // Both outcomes occur, so both paths were exercised.
    EXPECT_GT(accepted, 50);
    EXPECT_LT(accepted, 3400);
}

} // namespace
