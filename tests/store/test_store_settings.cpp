// The settings file, the name/value list, shell folders and launchers, StartsWith.
#include "engine/PublishFilter.h"
#include "store/Settings.h"
#include "store/ShellLib.h"
#include "store/StringLib.h"
#include "store/XMLStore.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override { QFile::remove(TSettings::DefaultFileName()); }
    static void Write(const QByteArray &text)
    {
        WriteWholeFile(TSettings::DefaultFileName(), text);
    }
};

TEST_F(SettingsTest, FirstStartHasDefaultsAndSavesTheSeventeenLines)
{
    TSettings s;                             // the defaults are pinned by the file it saves
    EXPECT_FALSE(QFile::exists(s.FileName)); // written only by a save
    s.Save();
    const QByteArray expected = ReadWholeFile(TestDataPath("settings_default.dat"));
    ASSERT_EQ(expected.count("\r\n"), 17);
    EXPECT_EQ(ReadWholeFile(s.FileName), expected);
    Write(expected + "garbage after the object is not read");
    EXPECT_EQ(TSettings().WriteText(), expected);
}

TEST_F(SettingsTest, ReadsEveryKindOfValueAndWritesTheSameText)
{
    const QByteArray sample = ReadWholeFile(TestDataPath("settings_full.dat"));
    Write(sample);
    TSettings s;
    EXPECT_EQ(s.ErrorSound, "/usr/share/sounds/it's wrong.wav");
    EXPECT_EQ(s.CompleteSound,
              "/home/webmaster/very/long/folder/name/for/the/sound/of/the/site/done.wav");
    EXPECT_EQ(s.WriteText(), sample); // every property read, as the writer shows
}

TEST_F(SettingsTest, AnInvalidFileFallsBackToDefaults)
{
    Write("object TSettings\r\n  SocksHost = 'kept'\r\n  SocksPort = 9\r\n  FtpProxyPort = 'x'\r\n"
          "end\r\n");
    TSettings s;
    EXPECT_EQ(s.SocksPort, 1080);   // read, then reset with the rest
    EXPECT_EQ(s.SocksHost, "kept"); // read before the failure, and not a default: it stays
    EXPECT_EQ(ErrorOf<EStoreError>([&] { s.ReadText(ReadWholeFile(s.FileName)); }),
              "The file is not valid");
}

TEST(SettingsLibraries, MatchesListPropertiesStartsWithAndShortcuts)
{
    // The first match decides; a bad mask raises only when it is reached.
    const QStringList list{"*.txt", "[a-", "*"};
    EXPECT_TRUE(TSettings::MatchesList({"*.php*"}, "INDEX.PHP3"));
    EXPECT_FALSE(TSettings::MatchesList({"*.htm"}, "page.html"));
    EXPECT_TRUE(TSettings::MatchesList(list, "a.txt") && TMaskList(list).Matches("a.txt"));
    EXPECT_THROW(TSettings::MatchesList(list, "a.gif"), EMaskError);
    EXPECT_THROW(TMaskList(list).Matches("a.gif"), EMaskError);

    TProperties p;
    p.Items("UserName")->SetAsString("me");
    EXPECT_EQ(p.Items("username")->AsString() + QString::number(p.IndexOf("Password")), "me-1");

    EXPECT_TRUE(StartsWith("AB", "abc", true) && !StartsWith("AB", "abc", false));
    EXPECT_FALSE(StartsWith(QString(), QString(), true) || StartsWith("abcd", "abc", true)
                 || StartsWith("\u00c9", "\u00e9t\u00e9", true));

    QTemporaryDir dir;
    const QString link = dir.filePath("new/folder/My Site.desktop");
    ASSERT_TRUE(CreateShortcut(link, "/opt/zandrel", "/p/it's 100% \"a\\b\".zdx"));
    EXPECT_EQ(ReadWholeFile(link),
              QByteArray("[Desktop Entry]\nType=Application\nName=My Site\n"
                         "Exec=/opt/zandrel \"/p/it's 100%% \\\\\"a\\\\\\\\b\\\\\".zdx\"\n"));
    EXPECT_TRUE(QFileInfo(link).isExecutable());
}
