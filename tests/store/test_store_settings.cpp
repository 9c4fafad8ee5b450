// The settings file, registry keys over the application's QSettings file, masks and launchers;
// the readers of settings and project files take any input.
#include "engine/PublishFilter.h"
#include "engine/PublishVersions.h"
#include "store/PrjCls.h"
#include "store/RegistryLib.h"
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
    static void Write(const QByteArray &text)
    {
        WriteWholeFile(TSettings::DefaultFileName(), text);
    }
};

TEST_F(SettingsTest, DefaultsAndAFullSampleWriteTheirFilesBackAndAnInvalidOneFallsBack)
{
    TSettings s;                             // the defaults are pinned by the file it saves
    EXPECT_FALSE(QFile::exists(s.FileName)); // written only by a save
    s.Save();
    const QByteArray defaults = ReadWholeFile(TestDataPath("settings_default.dat"));
    ASSERT_EQ(defaults.count("\r\n"), 17);
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
    EXPECT_FALSE(TSettings::MatchesList({"*.htm"}, "page.html"));
    EXPECT_TRUE(TSettings::MatchesList(list, "a.txt") && TMaskList(list).Matches("a.txt"));
    EXPECT_THROW(TSettings::MatchesList(list, "a.gif"), EMaskError);
    EXPECT_THROW(TMaskList(list).Matches("a.gif"), EMaskError);

    // A launcher's command line survives quotes, backslashes and '%' in the project's name.
    QTemporaryDir dir;
    const QString link = dir.filePath("new/folder/My Site.desktop");
    ASSERT_TRUE(CreateShortcut(link, "/opt/zandrel", "/p/it's 100% \"a\\b\".zdx"));
    EXPECT_EQ(ReadWholeFile(link),
              QByteArray("[Desktop Entry]\nType=Application\nName=My Site\n"
                         "Exec=/opt/zandrel \"/p/it's 100%% \\\\\"a\\\\\\\\b\\\\\".zdx\"\n"));
    EXPECT_TRUE(QFileInfo(link).isExecutable());
}

TEST_F(SettingsTest, RegistryKeysAreGroupsOfTheApplicationsSettingsFileOnly)
{
    const QString app = "\\Software\\morvate\\Zandrel";
    // No second backslash after a path ending in one; a subpath from the root replaces the path.
    for (const auto &[path, sub, joined] :
         {std::tuple{app, "Forms\\frmMain", app + "\\Forms\\frmMain"},
          {app + "\\", "Forms", app + "\\Forms"},
          {app, "\\Software\\Other\\App", "\\Software\\Other\\App"},
          {app + "\\", "", app + "\\"},
          {"", "Forms", "\\Forms"}})
        EXPECT_EQ(JoinRegistryPath(path, sub), joined) << path.toStdString() << " " << sub;
    EXPECT_FALSE(
        ErrorOf<EStoreError>([&] { RegistryLocationOf(hkeyLocalMachine, app); }).isEmpty());
    for (const QString &path : {QString("\\Software\\morvate"), QString("\\Hardware\\a\\b"),
                                QString(""), QString("\\Software\\morvate\\Zan/drel")}) {
        const QString message
            = ErrorOf<EStoreError>([&] { RegistryLocationOf(hkeyCurrentUser, path); });
        EXPECT_TRUE(message.contains(path)) << message.toStdString();
    }

    {
        const auto key = TRegistryAddress{hkeyCurrentUser, app}.OpenKey("Forms\\frmMain");
        EXPECT_FALSE(key->ValueExists("Top"));
        key->WriteInteger("Top", -12);
        key->WriteBool("Details", true);
        key->WriteBool("Off", false);
        key->WriteString("Caption", " two words, with a comma ");
        key->WriteString("Number", "42");
        EXPECT_TRUE(key->ValueExists("Top"));
    }
    QSettings fresh("morvate", "Zandrel");
    EXPECT_FALSE(fresh.contains("Top")); // not in the application's own key
    EXPECT_EQ(fresh.value("Forms/frmMain/Caption").toString(), " two words, with a comma ");
    // Read back through a key opened anew from the full path. The file keeps no types.
    const auto key = TRegistryAddress{}.OpenKey("software\\morvate\\Zandrel\\Forms\\frmMain\\");
    EXPECT_EQ(key->ReadInteger("Top"), -12);
    EXPECT_TRUE(key->ReadBool("Details"));
    EXPECT_FALSE(key->ReadBool("Off"));
    EXPECT_EQ(key->ReadString("Caption"), " two words, with a comma ");
    EXPECT_EQ(key->ReadString("Absent"), "");
    EXPECT_EQ(key->ReadInteger("Number"), 42);
    EXPECT_EQ(ErrorOf<EStoreError>([&] { key->ReadInteger("Caption"); }),
              "Invalid data type for 'Caption'");
    EXPECT_EQ(ErrorOf<EStoreError>([&] { key->ReadBool("Absent"); }),
              "Failed to get data for 'Absent'");
}

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
