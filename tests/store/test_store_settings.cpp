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
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

const QStringList DefaultTextFiles
    = {QStringLiteral("*.pl"),  QStringLiteral("*.php*"), QStringLiteral("*.html"),
       QStringLiteral("*.htm"), QStringLiteral("*.css"),  QStringLiteral("*.txt"),
       QStringLiteral("*.asp")};

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
    TSettings s;
    EXPECT_EQ(s.FileName, QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))
                              + QStringLiteral("/morvate/Zandrel/settings.dat"));
    EXPECT_TRUE(QFileInfo(QFileInfo(s.FileName).absolutePath()).isDir());
    EXPECT_FALSE(QFile::exists(s.FileName)); // written only by a save
    EXPECT_EQ(s.TextFiles, DefaultTextFiles);
    EXPECT_EQ(s.ExecFiles, QStringList({QStringLiteral("*.cgi"), QStringLiteral("*.pl")}));
    EXPECT_EQ(s.FtpProxyPort, 21);
    EXPECT_EQ(s.SocksPort, 1080);

    s.Save();
    const QByteArray expected = ReadWholeFile(TestDataPath(QStringLiteral("settings_default.dat")));
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(ReadWholeFile(s.FileName), expected);
    Write(expected + "garbage after the object is not read");
    EXPECT_EQ(TSettings().WriteText(), expected);
}

TEST_F(SettingsTest, ReadsEveryKindOfValueAndWritesTheSameText)
{
    const QByteArray sample = ReadWholeFile(TestDataPath(QStringLiteral("settings_full.dat")));
    Write(sample);
    TSettings s;
    EXPECT_EQ(s.TextFiles.size(), 3);
    EXPECT_EQ(s.ExecFiles, QStringList{QStringLiteral("*.cgi")});
    EXPECT_EQ(s.FtpProxyPort, 2121);
    EXPECT_EQ(s.ProxyType, ptSocks);
    EXPECT_TRUE(s.SoundEnabled);
    EXPECT_EQ(s.ErrorSound, QStringLiteral("/usr/share/sounds/it's wrong.wav"));
    EXPECT_EQ(
        s.CompleteSound,
        QStringLiteral("/home/webmaster/very/long/folder/name/for/the/sound/of/the/site/done.wav"));
    EXPECT_EQ(s.WriteText(), sample);
    EXPECT_EQ(GetProxyString(), QStringLiteral("socks=socks.example.org:1081"));
    s.ProxyType = ptFTP;
    s.FtpProxyHost.clear();
    s.Save();
    EXPECT_EQ(GetProxyString(), QStringLiteral("ftp=ftp://:2121"));
}

TEST_F(SettingsTest, ReaderAcceptsAnyLayoutAndLeavesAbsentPropertiesFresh)
{
    Write("object\tSettings1: TAnything\n TextFiles.Strings=('a'\n'b''c'#9'd' +\n 'e')"
          "FtpProxyPort=-7 ProxyType=PTSOCKS SoundEnabled=true SocksHost=''\r\nend");
    TSettings s;
    EXPECT_EQ(s.TextFiles, QStringList({QStringLiteral("a"), QStringLiteral("b'c\tde")}));
    EXPECT_TRUE(s.ExecFiles.isEmpty()); // absent: not the default
    EXPECT_EQ(s.FtpProxyPort, -7);
    EXPECT_EQ(s.SocksPort, 0);
    EXPECT_EQ(s.ProxyType, ptSocks);
    EXPECT_TRUE(s.SoundEnabled);

    // An emptied list is not written, so it stays empty on the next start.
    s.ExecFiles.clear();
    s.Save();
    EXPECT_FALSE(ReadWholeFile(s.FileName).contains("ExecFiles"));
    EXPECT_TRUE(TSettings().ExecFiles.isEmpty());
}

TEST_F(SettingsTest, InvalidFilesFallBackToDefaults)
{
    const char *const invalid[] = {
        "",
        "garbage",
        "Unknown = 1",
        "FtpProxyPort = 'x'",
        "FtpProxyPort = 1.5",
        "FtpProxyPort = 99999999999",
        "ProxyType = ptHttp",
        "SoundEnabled = 1",
        "TextFiles = ('a')",
        "TextFiles.Strings = ('a' 1)",
        "ErrorSound = 'open\r\n",
        "ErrorSound = 'a' +",
        "ErrorSound = #55357",
        "SocksPort = 5 object X end",
    };
    for (const char *body : invalid) {
        Write(QByteArray("object TSettings\r\n  SocksHost = 'kept'\r\n  SocksPort = 9\r\n  ") + body
              + "\r\nend\r\n");
        if (!*body)
            Write({});
        TSettings s;
        EXPECT_EQ(s.TextFiles, DefaultTextFiles) << body;
        EXPECT_EQ(s.ExecFiles.size(), 2) << body;
        EXPECT_EQ(s.FtpProxyPort, 21) << body;
        EXPECT_EQ(s.SocksPort, 1080) << body;
        // Read before the failure, and not a default: it stays.
        EXPECT_EQ(s.SocksHost, *body ? QStringLiteral("kept") : QString()) << body;
        try {
            s.ReadText(ReadWholeFile(s.FileName));
            ADD_FAILURE() << body;
        } catch (const EStoreError &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("The file is not valid"));
        }
    }
}

TEST_F(SettingsTest, StringsQuoteControlsAndBreakLongLines)
{
    TSettings s;
    s.ErrorSound = QStringLiteral("/snd/it's\tme.wav");
    const QString longPath = QStringLiteral("/") + QString(99, u'a');
    s.CompleteSound = longPath;
    s.FtpProxyHost = QStringLiteral("h\u00f6st");
    s.TextFiles = {QString(), QString(65, u'x')};
    const QString text = QString::fromUtf8(s.WriteText());
    EXPECT_TRUE(text.contains(QStringLiteral("  ErrorSound = '/snd/it'#39's'#9'me.wav'\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("  CompleteSound = \r\n    '") + longPath.left(64)
                              + QStringLiteral("' +\r\n    '") + longPath.mid(64)
                              + QStringLiteral("'\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("  TextFiles.Strings = (\r\n    ''\r\n    \r\n      '")
                              + QString(64, u'x') + QStringLiteral("' +\r\n      'x')\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("  FtpProxyHost = 'h\u00f6st'\r\n")));
    s.Save();
    EXPECT_EQ(TSettings().WriteText(), s.WriteText());
}

TEST(SettingsMasks, MatchesListStopsAtTheFirstMatchAndRaisesOnABadMask)
{
    EXPECT_TRUE(TSettings::MatchesList({QStringLiteral("*.php*")}, QStringLiteral("index.php3")));
    EXPECT_TRUE(TSettings::MatchesList({QStringLiteral("*.php*")}, QStringLiteral("INDEX.PHP")));
    EXPECT_FALSE(TSettings::MatchesList({QStringLiteral("*.htm")}, QStringLiteral("page.html")));
    EXPECT_FALSE(TSettings::MatchesList({}, QStringLiteral("a")));
    const QStringList list{QStringLiteral("*.txt"), QStringLiteral("[a-"), QStringLiteral("*")};
    EXPECT_TRUE(TSettings::MatchesList(list, QStringLiteral("a.txt")));
    EXPECT_THROW(TSettings::MatchesList(list, QStringLiteral("a.gif")), EMaskError);
    const TMaskList compiled(list);
    EXPECT_TRUE(compiled.Matches(QStringLiteral("a.txt")));
    EXPECT_THROW(compiled.Matches(QStringLiteral("a.gif")), EMaskError);
}

TEST(Properties, FindOrCreateIgnoringAsciiCase)
{
    TProperties p;
    p.Items(QStringLiteral("UserName"))->SetAsString(QStringLiteral("me"));
    EXPECT_EQ(p.Items(QStringLiteral("username"))->AsString(), QStringLiteral("me"));
    EXPECT_EQ(p.IndexOf(QStringLiteral("Password")), -1);
    TPropertiesItem *added = p.Items(QStringLiteral("Password"));
    EXPECT_EQ(p.Count(), 2);
    EXPECT_EQ(added->Name, QStringLiteral("Password"));
    EXPECT_FALSE(added->AsBoolean());
    added->Value = QStringLiteral("yes");
    EXPECT_TRUE(added->AsBoolean());
}

TEST(StringLib, StartsWith)
{
    EXPECT_FALSE(StartsWith(QString(), QString(), true));
    EXPECT_FALSE(StartsWith(QStringLiteral("a"), QString(), false));
    EXPECT_FALSE(StartsWith(QStringLiteral("AB"), QStringLiteral("abc"), false));
    EXPECT_TRUE(StartsWith(QStringLiteral("AB"), QStringLiteral("abc"), true));
    EXPECT_FALSE(StartsWith(QStringLiteral("abcd"), QStringLiteral("abc"), true));
    EXPECT_FALSE(StartsWith(QStringLiteral("\u00c9"), QStringLiteral("\u00e9t\u00e9"), true));
}

TEST(ShellLib, FoldersAndLaunchers)
{
    EXPECT_EQ(GetAppDataFolder(), QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")));
    EXPECT_EQ(GetPersonalFolder(),
              QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    EXPECT_EQ(GetCommonDesktopFolder(),
              QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("new/folder/My Site.desktop"));
    ASSERT_TRUE(CreateShortcut(link, QStringLiteral("/opt/zandrel"),
                               QStringLiteral("/p/it's 100% \"a\\b\".zdx")));
    EXPECT_EQ(ReadWholeFile(link),
              QByteArray("[Desktop Entry]\nType=Application\nName=My Site\n"
                         "Exec=/opt/zandrel \"/p/it's 100%% \\\\\"a\\\\\\\\b\\\\\".zdx\"\n"));
    EXPECT_TRUE(QFileInfo(link).isExecutable());
    ASSERT_TRUE(CreateShortcut(link, QStringLiteral("/bin/tool"), QString()));
    EXPECT_TRUE(ReadWholeFile(link).endsWith("Exec=/bin/tool\n"));
}

} // namespace
