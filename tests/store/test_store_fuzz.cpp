// The readers take any input: mutated sample files neither crash nor hang them, and what they
// make of it writes out and reads back unchanged.
#include "engine/PublishVersions.h"
#include "store/PrjCls.h"
#include "store/Settings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

// 3000 mutations of sample project and settings files (random bytes, tokens of the formats, cuts
// and copies), then 500 inputs of random bytes alone, each read as a project, as version records
// and as settings.
TEST(ReaderFuzz, ProjectFilesVersionRecordsAndSettings)
{
    QList<QByteArray> samples;
    for (const char *name :
         {"site.zdx", "new_project.zdx", "settings_full.dat", "settings_default.dat"})
        samples << ReadWholeFile(TestDataPath(name));
    ASSERT_FALSE(samples.contains(QByteArray()));
    const QList<QByteArray> tokens
        = QByteArray("<|>|</|&|&amp;|&lt;|&#|&#32;|&#0;|&#1114112;|'|''|#|#39|#$41|#55357|+|(|)|"
                     "=|.|:|\r\n|\n| |\t|<!-- versions -->|object|end|Strings|-|0|2147483648|"
                     "\xc3|\xf0\x9f\x98\x80|True|ptSocks|[a-|*")
              .split('|');
    std::mt19937 random(20240611);
    const auto below = [&](qsizetype n) { return n <= 0 ? 0 : int(random() % quint32(n)); };
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
    int settingsAccepted = 0;
    for (int count = 0; count < 3500; ++count) {
        QByteArray input = samples[count % 4];
        if (count >= 3000) {
            input = QByteArray(below(300), '\0');
            for (char &c : input)
                c = char(below(256));
        }
        for (int steps = count >= 3000 ? 0 : 1 + below(8); steps > 0; --steps) {
            const int at = below(input.size() + 1);
            const int kind = below(5);
            if (kind < 2)
                input.insert(at,
                             kind ? tokens[below(tokens.size())] : QByteArray(1, char(below(256))));
            else if (kind == 2)
                input.remove(at, 1 + below(40));
            else if (kind == 3)
                input.insert(below(input.size() + 1), input.mid(at, 1 + below(200)));
            else
                input.truncate(at);
        }
        SCOPED_TRACE(input.toPercentEncoding().constData());

        TProject p;
        p.LoadFromBytes(input);
        const QByteArray saved = p.SaveToBytes();
        QString tree;
        p.WriteText(tree);
        // Names are not escaped, so a mangled one may spell the marker; no written file has one.
        if (!tree.contains(p.VersionsMarker)) {
            TProject q;
            q.LoadFromBytes(saved);
            ASSERT_EQ(q.SaveToBytes(), saved);
        }
        TPublishVersions v;
        v.LoadFromText(QString::fromUtf8(input));
        const QString text = v.SaveToText();
        v.LoadFromText(text);
        ASSERT_EQ(v.SaveToText(), text);

        reset();
        try {
            s.ReadText(input);
        } catch (const EStoreError &e) {
            ASSERT_EQ(e.Message(), "The file is not valid");
            continue;
        }
        ++settingsAccepted;
        const QByteArray written = s.WriteText();
        reset();
        ASSERT_NO_THROW(s.ReadText(written));
        ASSERT_EQ(s.WriteText(), written);
    }
    // Both outcomes occur, so both paths were exercised.
    EXPECT_GT(settingsAccepted, 20);
    EXPECT_LT(settingsAccepted, 3400);
}
