// The readers take any input: mutated sample files neither crash nor hang them, and what they
// make of it writes out and reads back unchanged.
#include "engine/PublishVersions.h"
#include "store/PrjCls.h"
#include "store/Settings.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

// Mutations of real sample files (random bytes, tokens of the formats, cuts and copies), then
// from the 3001st call on random bytes alone.
class Mutator
{
public:
    explicit Mutator(quint32 seed)
        : m_random(seed)
    {
    }
    int Below(int n) { return n <= 0 ? 0 : int(m_random() % quint32(n)); }
    QByteArray Next(const QByteArray (&samples)[2])
    {
        static const QList<QByteArray> tokens
            = QByteArray(
                  "<|>|</|&|&amp;|&lt;|&#|&#32;|&#0;|&#1114112;|'|''|#|#39|#$41|#55357|+|(|)|"
                  "=|.|:|\r\n|\n| |\t|<!-- versions -->|object|end|Strings|-|0|2147483648|"
                  "\xc3|\xf0\x9f\x98\x80|True|ptSocks|[a-|*")
                  .split('|');
        QByteArray data = samples[++m_count % 2];
        if (m_count > 3000) {
            data = QByteArray(Below(300), '\0');
            for (char &c : data)
                c = char(Below(256));
        }
        for (int steps = m_count > 3000 ? 0 : 1 + Below(8); steps > 0; --steps) {
            const int at = Below(int(data.size()) + 1);
            switch (Below(5)) {
            case 0:
                data.insert(at, char(Below(256)));
                break;
            case 1:
                data.insert(at, tokens[Below(int(tokens.size()))]);
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

private:
    std::mt19937 m_random;
    int m_count = 0;
};

void CheckProject(const QByteArray &input)
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
    TPublishVersions v;
    v.LoadFromText(QString::fromUtf8(input));
    const QString text = v.SaveToText();
    v.LoadFromText(text);
    ASSERT_EQ(v.SaveToText(), text) << input.toPercentEncoding().constData();
}

TEST(ReaderFuzz, ProjectFilesAndVersionRecords)
{
    const QByteArray samples[]
        = {ReadWholeFile(TestDataPath("site.zdx")), ReadWholeFile(TestDataPath("new_project.zdx"))};
    ASSERT_FALSE(samples[0].isEmpty() || samples[1].isEmpty());
    Mutator mutator(20240611);
    for (int i = 0; i < 3500; ++i)
        ASSERT_NO_FATAL_FAILURE(CheckProject(mutator.Next(samples)));
}

TEST(ReaderFuzz, SettingsFiles)
{
    const QByteArray samples[] = {ReadWholeFile(TestDataPath("settings_full.dat")),
                                  ReadWholeFile(TestDataPath("settings_default.dat"))};
    ASSERT_FALSE(samples[0].isEmpty() || samples[1].isEmpty());
    TSettings s;
    // Every property emptied, so the output shows only what the input gave.
    const auto reset = [&s] {
        for (QStringList *list : {&s.TextFiles, &s.ExecFiles})
            list->clear();
        for (QString *text : {&s.FtpProxyHost, &s.SocksHost, &s.ErrorSound, &s.CompleteSound})
            text->clear();
        s.FtpProxyPort = s.SocksPort = 0;
        s.ProxyType = ptFTP;
        s.SoundEnabled = false;
    };
    Mutator mutator(7);
    int accepted = 0;
    for (int i = 0; i < 3500; ++i) {
        const QByteArray input = mutator.Next(samples);
        reset();
        try {
            s.ReadText(input);
        } catch (const EStoreError &e) {
            EXPECT_EQ(e.Message(), "The file is not valid");
            continue;
        }
        ++accepted;
        const QByteArray written = s.WriteText();
        reset();
        EXPECT_NO_THROW(s.ReadText(written)) << input.toPercentEncoding().constData();
        EXPECT_EQ(s.WriteText(), written) << input.toPercentEncoding().constData();
    }
    // Both outcomes occur, so both paths were exercised.
    EXPECT_GT(accepted, 50);
    EXPECT_LT(accepted, 3400);
}
