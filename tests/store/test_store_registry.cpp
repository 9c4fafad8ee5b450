// Registry keys over the application's settings file: path joining, mapping, typed reads.
#include "store/RegistryLib.h"
#include "store/XMLStore.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

const QString AppPath = QStringLiteral("\\Software\\morvate\\Zandrel");

class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { QSettings("morvate", "Zandrel").clear(); }
};

TEST(RegistryPath, OpenKeyJoinsPathAndSubPath)
{
    // No second backslash after a path ending in one; a subpath from the root replaces the
    // path; an empty subpath is the path itself, with or without its backslash.
    const std::tuple<QString, const char *, QString> cases[]
        = {{AppPath, "Forms\\frmMain", AppPath + "\\Forms\\frmMain"},
           {AppPath + "\\", "Forms", AppPath + "\\Forms"},
           {AppPath, "\\Software\\Other\\App", "\\Software\\Other\\App"},
           {AppPath, "", AppPath},
           {AppPath + "\\", "", AppPath + "\\"},
           {"", "Forms", "\\Forms"}};
    for (const auto &[path, sub, joined] : cases)
        EXPECT_EQ(JoinRegistryPath(path, sub), joined) << path.toStdString() << " " << sub;
}

TEST(RegistryPath, MapsTheCurrentUsersSoftwareKeysToSettingsGroups)
{
    const TRegistryLocation forms
        = RegistryLocationOf(hkeyCurrentUser, AppPath + "\\Forms\\frmMain");
    EXPECT_EQ(forms.Organization, "morvate");
    EXPECT_EQ(forms.Application, "Zandrel");
    EXPECT_EQ(forms.Group, "Forms/frmMain");
    EXPECT_EQ(RegistryLocationOf(hkeyCurrentUser, AppPath).Group, "");
    EXPECT_EQ(RegistryLocationOf(hkeyCurrentUser, "software\\morvate\\Zandrel\\A\\").Group, "A");

    EXPECT_TRUE(ErrorOf<EStoreError>([] {
                    RegistryLocationOf(hkeyLocalMachine, AppPath);
                }).contains("not available"));
    EXPECT_FALSE(
        ErrorOf<EStoreError>([] { RegistryLocationOf(hkeyClassesRoot, ".zdx"); }).isEmpty());
    for (const QString &path : {QString("\\Software\\morvate"), QString("\\Hardware\\a\\b"),
                                QString(""), QString("\\Software\\morvate\\Zan/drel")}) {
        const QString message
            = ErrorOf<EStoreError>([&] { RegistryLocationOf(hkeyCurrentUser, path); });
        EXPECT_TRUE(message.contains(path)) << message.toStdString();
    }
    // OpenKey passes the refusal on, naming the joined path.
    EXPECT_FALSE(ErrorOf<EStoreError>([] {
                     TRegistryAddress{hkeyLocalMachine, AppPath}.OpenKey("Forms");
                 }).isEmpty());
    EXPECT_TRUE(ErrorOf<EStoreError>([] {
                    TRegistryAddress{hkeyCurrentUser, "\\Software"}.OpenKey("Forms");
                }).contains("\\Software\\Forms"));
}

TEST_F(RegistryTest, KeyWritesTheGroupOfTheApplicationsSettingsFile)
{
    const TRegistryAddress address{hkeyCurrentUser, AppPath};
    {
        const auto key = address.OpenKey("Forms\\frmMain");
        EXPECT_FALSE(key->ValueExists("Top"));
        key->WriteInteger("Top", -12);
        key->WriteBool("Details", true);
        key->WriteString("Caption", " two words, with a comma ");
        EXPECT_TRUE(key->ValueExists("Top"));
    }
    EXPECT_TRUE(
        QFile::exists(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                      + "/morvate/Zandrel.conf"));

    QSettings fresh("morvate", "Zandrel");
    fresh.beginGroup("Forms/frmMain");
    EXPECT_EQ(fresh.value("Top").toInt(), -12);
    EXPECT_EQ(fresh.value("Details").toInt(), 1);
    EXPECT_EQ(fresh.value("Caption").toString(), " two words, with a comma ");
    fresh.endGroup();
    EXPECT_FALSE(fresh.contains("Top")); // not in the application's own key

    // The same values through a key opened anew from the full path.
    const auto again = TRegistryAddress{}.OpenKey(AppPath + "\\Forms\\frmMain");
    EXPECT_EQ(again->ReadInteger("Top"), -12);
    EXPECT_TRUE(again->ReadBool("Details"));
    EXPECT_EQ(again->ReadString("Caption"), " two words, with a comma ");
    EXPECT_EQ(again->ReadString("Absent"), "");
}

TEST_F(RegistryTest, IntegerReadsOfOtherValuesThrow)
{
    {
        const auto key = TRegistryAddress{hkeyCurrentUser, AppPath}.OpenKey("Forms");
        key->WriteString("Name", "frmMain");
        key->WriteString("Number", "42");
        key->WriteBool("Off", false);
        EXPECT_EQ(ErrorOf<EStoreError>([&] { key->ReadInteger("Name"); }),
                  "Invalid data type for 'Name'");
        EXPECT_EQ(ErrorOf<EStoreError>([&] { key->ReadBool("Absent"); }),
                  "Failed to get data for 'Absent'");
        EXPECT_FALSE(key->ReadBool("Off"));
    }
    // The file keeps no types: a number written as text reads as the number.
    const auto key = TRegistryAddress{hkeyCurrentUser, AppPath + "\\"}.OpenKey("Forms");
    EXPECT_EQ(key->ReadInteger("Number"), 42);
    EXPECT_EQ(ErrorOf<EStoreError>([&] { key->ReadInteger("Name"); }),
              "Invalid data type for 'Name'");
}
