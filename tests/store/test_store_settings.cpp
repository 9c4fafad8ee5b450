// The settings file, masks and launchers; readers that take any input.
#include "store/PrjCls.h"
#include "store/Settings.h"
#include "store/ShellLib.h"
#include "store/XMLStore.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <random>

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(TSettings::DefaultFileName());
        QSettings("morvate", "Zandrel").clear();
    }
    static void Write(const QByteArray &t) { WriteWholeFile(TSettings::DefaultFileName(), t); }
};

TEST_F(SettingsTest, DefaultsAndAFullSampleWriteTheirFilesBackAndAnInvalidOneFallsBack)
{
    TSettings s; // the defaults are pinned by the file it saves
    EXPECT_FALSE(QFile::exists(s.FileName));
    s.Save();
    const QByteArray defaults = ReadWholeFile(TestDataPath("settings_default.dat"));
    EXPECT_EQ(ReadWholeFile(s.FileName), defaults);
    Write(defaults + "garbage after the object is not read");
    EXPECT_EQ(TSettings().WriteText(), defaults);

    const QByteArray sample = ReadWholeFile(TestDataPath("settings_full.dat"));
    Write(sample);
    TSettings full;
    EXPECT_EQ(full.ErrorSound, "/usr/share/sounds/it's wrong.wav");
    EXPECT_EQ(full.WriteText(), sample); // every property read, as the writer shows

    Write("object TSettings\r\n  SocksHost = 'kept'\r\n  SocksPort = 9\r\n  FtpProxyPort = 'x'\r\n"
          "end\r\n");
    TSettings invalid;
    EXPECT_EQ(invalid.SocksPort, 1080);   // read, then reset with the rest
    EXPECT_EQ(invalid.SocksHost, "kept"); // read before the failure, and not a default: it stays
    EXPECT_EQ(ErrorOf<EStoreError>([&] { invalid.ReadText(ReadWholeFile(s.FileName)); }),
              "The file is not valid");

    // The first match decides; a bad mask raises only when it is reached.
    const QStringList list{"*.txt", "[a-", "*"};
    EXPECT_TRUE(TSettings::MatchesList({"*.php*"}, "INDEX.PHP3"));
    EXPECT_TRUE(TSettings::MatchesList(list, "a.txt"));
    EXPECT_THROW(TSettings::MatchesList(list, "a.gif"), EMaskError);

    // A launcher's command line survives quotes, backslashes and '%' in the project's name.
    QTemporaryDir dir;
    const QString link = dir.filePath("new/folder/My Site.desktop");
    ASSERT_TRUE(CreateShortcut(link, "/opt/zandrel", "/p/it's 100% \"a\\b\".zdx"));
    EXPECT_EQ(ReadWholeFile(link),
              QByteArray("[Desktop Entry]\nType=Application\nName=My Site\n"
                         "Exec=/opt/zandrel \"/p/it's 100%% \\\\\"a\\\\\\\\b\\\\\".zdx\"\n"));
    EXPECT_TRUE(QFileInfo(link).isExecutable());
}

// Mangled samples read as a project and as settings: what is written reads back the same.
TEST(ReaderFuzz, ProjectFilesAndSettings)
{
    const QByteArray samples[] = {ReadWholeFile(TestDataPath("site.zdx")),
                                  ReadWholeFile(TestDataPath("settings_full.dat"))};
    std::mt19937 random(20240611);
    for (int count = 0; count < 600; ++count) {
        QByteArray input = samples[count % 2];
        for (int steps = 1 + random() % 6; steps > 0; --steps)
            input[random() % input.size()] = "<>/&#;'=()\r\n 0\xc3"[random() % 15];
        SCOPED_TRACE(input.toPercentEncoding().constData());
        TProject p, q;
        p.LoadFromBytes(input);
        q.LoadFromBytes(p.SaveToBytes());
        QString tree;
        p.WriteText(tree);
        if (!tree.contains(p.VersionsMarker)) { // names are not escaped
            ASSERT_EQ(q.SaveToBytes(), p.SaveToBytes());
        }
        TSettings s;
        try {
            s.ReadText(input);
        } catch (const EStoreError &e) {
            ASSERT_EQ(e.Message(), "The file is not valid");
            continue;
        }
        const QByteArray written = s.WriteText();
        ASSERT_NO_THROW(s.ReadText(written));
        ASSERT_EQ(s.WriteText(), written);
    }
}
