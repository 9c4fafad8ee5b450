// The project document: file layout, saving, paths, default project, password.
#include "store/PrjCls.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

namespace {

QString Versions(const TProject &p)
{
    return p.Versions.SaveToText();
}

class ProjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ProjectsFolder()).removeRecursively();
        QDir().mkpath(ProjectsFolder());
        QSettings(QStringLiteral("morvate"), QStringLiteral("Zandrel")).clear();
    }
    void TearDown() override
    {
        TProject::CommandLineArguments.clear();
        TProject::PasswordPrompt = nullptr;
    }
};

TEST_F(ProjectTest, NewProjectReadByTheOptionsDialogSavesTheExpectedBytes)
{
    TProject p;
    p.Clear();
    p.InitDefaults();
    // The options dialog's reads, in its order; each creates its key when missing.
    for (const char *key :
         {"Path", "IncSubDirs", "Host", "User", "Pass", "RemotePath", "Port", "Timeout", "Passive",
          "Proxy", "SaveLog", "LogFile", "CheckLogSize", "MaxLogSize", "SafeUpload",
          "SafeUploadSize", "SetPermission", "CheckSize", "IgnoreHiddenFiles"})
        p.Nodes(QString::fromLatin1(key))->AsString();
    p.Nodes(QStringLiteral("MaxLogSize"))->AsInteger();
    TXMLStore *filter = p.Nodes(QStringLiteral("Filters"))->Items(0);
    filter->Nodes(QStringLiteral("Options"))->AsString();
    filter->Nodes(QStringLiteral("Mask"))->AsString();
    p.Versions.FindOrAdd(QString())->Date = 1;
    p.Versions.FindOrAdd(QStringLiteral("images\\"))->Date = 1;
    p.Versions.FindOrAdd(QStringLiteral("images\\logo.gif"));
    p.Versions.FindOrAdd(QStringLiteral("index.html"))->Date = 1474842634;
    p.Versions.FindOrAdd(QStringLiteral("Sub Dir\\a b.html"))->Date = -1;
    p.Versions.FindOrAdd(QStringLiteral("caf\u00e9.html"))->Date = 1474842635;

    p.FileName = ProjectsFolder() + QStringLiteral("golden.zdx");
    p.Save(false);
    const QByteArray expected = ReadWholeFile(TestDataPath(QStringLiteral("new_project.zdx")));
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(ReadWholeFile(p.FileName), expected);

    TProject back;
    back.Load(p.FileName);
    EXPECT_EQ(back.FileName, p.FileName);
    EXPECT_EQ(back.Count(), p.Count());
    EXPECT_EQ(Versions(back), Versions(p));
    EXPECT_EQ(back.SaveToBytes(), expected);
}

TEST_F(ProjectTest, LoadsASampleFileWhereTheMarkerSplitsTreeAndRecords)
{
    TProject p;
    p.SetPassword(QStringLiteral("stale"));
    p.Load(TestDataPath(QStringLiteral("site.zdx")));
    EXPECT_FALSE(p.PasswordKnown);
    EXPECT_EQ(p.Nodes(QStringLiteral("port"))->AsInteger(), 2121);
    EXPECT_EQ(p.Nodes(QStringLiteral("Pass"))->AsPassword(), QStringLiteral("secret"));
    EXPECT_EQ(p.Nodes(QStringLiteral("Title"))->Value, QStringLiteral("Fish & Chips <Ltd>"));
    EXPECT_EQ(Versions(p),
              QStringLiteral("1 \r\n1 cgi-bin\\\r\n1474842634 index.html\r\n"
                             "0 cgi-bin\\form.pl\r\n1474842635 news\\2024 &lt;old&gt;.html\r\n"));
    EXPECT_EQ(p.SaveToBytes(), ReadWholeFile(TestDataPath(QStringLiteral("site.zdx"))));

    p.LoadFromBytes("<project><Port>21</Port></project>\r\n1 a\r\n");
    EXPECT_EQ(p.Count(), 1);
    EXPECT_EQ(p.Versions.Count(), 0); // no marker: all of it is the tree
    p.LoadFromBytes("<project><Port>21</Port><!-- versions -->\r\n5 x\r\n");
    EXPECT_EQ(p.Count(), 1); // the unclosed root ends at the marker
    EXPECT_EQ(Versions(p), QStringLiteral("5 x\r\n"));
    p.Nodes(QStringLiteral("Note"))->Value = p.VersionsMarker; // escaped, so harmless
    TProject q;
    q.LoadFromBytes(p.SaveToBytes());
    EXPECT_EQ(q.Nodes(QStringLiteral("Note"))->Value, p.VersionsMarker);
    EXPECT_EQ(Versions(q), QStringLiteral("5 x\r\n"));
}

TEST_F(ProjectTest, ClearForgetsFileAndPasswordButKeepsOpenedAndRecords)
{
    TProject p;
    p.InitDefaults();
    p.FileName = QStringLiteral("/x.zdx");
    p.SetPassword(QStringLiteral("pw"));
    p.Opened = true;
    p.Versions.FindOrAdd(QStringLiteral("a"));
    p.Clear();
    EXPECT_TRUE(p.FileName.isEmpty() && p.Password.isEmpty() && !p.PasswordKnown);
    EXPECT_TRUE(p.Opened);
    EXPECT_EQ(p.Versions.Count(), 1);
    EXPECT_EQ(p.Count(), 0);
}

TEST_F(ProjectTest, FirstSaveNamesTheFileAfterLoginAndHost)
{
    TProject p;
    p.InitDefaults();
    p.Nodes(QStringLiteral("User"))->Value = QStringLiteral("  ");
    p.Nodes(QStringLiteral("Host"))->Value = QStringLiteral("ftp.example.org");
    p.Save(false); // no login: nothing, silently
    EXPECT_TRUE(p.FileName.isEmpty());

    p.Nodes(QStringLiteral("User"))->Value = QStringLiteral("web master"); // kept as stored
    const QString base = ProjectsFolder() + QStringLiteral("web master@ftp.example.org");
    WriteWholeFile(base + QStringLiteral(".zdx"), "old");
    WriteWholeFile(base + QStringLiteral("1.zdx"), "old");
    p.Save(true);
    EXPECT_EQ(p.FileName, base + QStringLiteral("2.zdx"));
    EXPECT_EQ(ReadWholeFile(p.FileName), p.SaveToBytes());

    QStringList projects;
    ListProjects(projects);
    projects.sort();
    EXPECT_EQ(projects, QStringList({base + QStringLiteral(".zdx"), base + QStringLiteral("1.zdx"),
                                     base + QStringLiteral("2.zdx")}));
    EXPECT_EQ(ProjectTitle(p.FileName), QStringLiteral("web master@ftp.example.org2"));
    EXPECT_EQ(ProjectTitle(QStringLiteral("/a.b/c.d.zdx")), QStringLiteral("c.d"));
}

TEST_F(ProjectTest, DeletedFileIsRecreatedOnlyWhenAsked)
{
    TProject p;
    p.InitDefaults();
    p.FileName = ProjectsFolder() + QStringLiteral("gone.zdx");
    p.Save(true);
    EXPECT_FALSE(QFile::exists(p.FileName));
    p.Save(false);
    EXPECT_TRUE(QFile::exists(p.FileName));
}

TEST_F(ProjectTest, FailedSaveLeavesThePreviousFileIntact)
{
    TProject p;
    p.InitDefaults();
    p.FileName = ProjectsFolder() + QStringLiteral("keep.zdx");
    p.Save(false);
    const QByteArray before = ReadWholeFile(p.FileName);
    for (int i = 0; i < 5000; ++i)
        p.Versions.FindOrAdd(QStringLiteral("folder\\file%1.html").arg(i))->Date = 1474842634;

    // No write may pass 4 KB; ignoring SIGXFSZ turns the signal into a failing write.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    QString error;
    try {
        p.Save(false);
    } catch (const EStoreError &e) {
        error = e.Message();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error, QStringLiteral("Cannot write file ") + p.FileName);
    EXPECT_EQ(ReadWholeFile(p.FileName), before);
    EXPECT_EQ(QDir(ProjectsFolder()).entryList(QDir::Files),
              QStringList{QStringLiteral("keep.zdx")});
}

TEST_F(ProjectTest, PathsAndUrl)
{
    TProject p;
    EXPECT_EQ(p.GetLocalPath(), QStringLiteral("/"));
    p.Nodes(QStringLiteral("Path"))->Value = QStringLiteral("  /home/me/site \t");
    EXPECT_EQ(p.GetLocalPath(), QStringLiteral("/home/me/site/"));
    p.Nodes(QStringLiteral("Host"))->Value = QStringLiteral("h");
    const std::tuple<const char *, const char *, const char *> cases[]
        = {{"", "", "ftp://h"},
           {" site ", "site/", "ftp://h/~site/"},
           {"/site", "/site/", "ftp://h/site/"}};
    for (const auto &[stored, path, url] : cases) {
        p.Nodes(QStringLiteral("RemotePath"))->Value = QString::fromLatin1(stored);
        EXPECT_EQ(p.GetRemotePath(), QString::fromLatin1(path));
        EXPECT_EQ(p.GetUrl(), QString::fromLatin1(url));
    }
}

TEST_F(ProjectTest, DefaultProjectComesFromTheCommandLineOrTheSettings)
{
    EXPECT_EQ(GetDefaultProject(), QString());
    const QString file = ProjectsFolder() + QStringLiteral("a.zdx");
    WriteWholeFile(file, "<project></project>");
    SetDefaultProject(file);
    EXPECT_EQ(GetDefaultProject(), file);
    TProject::CommandLineArguments = {QStringLiteral("/not/checked.zdx")};
    EXPECT_EQ(GetDefaultProject(), QStringLiteral("/not/checked.zdx"));
    TProject::CommandLineArguments.clear();
    QFile::remove(file); // a vanished file is forgotten
    EXPECT_EQ(GetDefaultProject(), QString());
    EXPECT_FALSE(QSettings(QStringLiteral("morvate"), QStringLiteral("Zandrel"))
                     .contains(QStringLiteral("DefaultProject")));
}

TEST_F(ProjectTest, AskPasswordTakesStoredThenCommandLineThenPrompt)
{
    int prompts = 0;
    bool accept = false;
    TProject::PasswordPrompt = [&](QString &password) {
        ++prompts;
        password = QStringLiteral("typed");
        return accept;
    };
    TProject::CommandLineArguments
        = {QStringLiteral("a.zdx"), QStringLiteral("FTPWindow"), QStringLiteral("cmdline")};
    TProject stored;
    stored.Nodes(QStringLiteral("Pass"))->SetAsPassword(QStringLiteral("fizz"));
    EXPECT_TRUE(stored.AskPassword());
    EXPECT_EQ(stored.GetPassword(), QStringLiteral("fizz"));
    TProject fromArgs;
    EXPECT_TRUE(fromArgs.AskPassword());
    EXPECT_EQ(fromArgs.GetPassword(), QStringLiteral("cmdline"));

    TProject::CommandLineArguments.removeLast();
    TProject prompted;
    EXPECT_FALSE(prompted.AskPassword());
    EXPECT_FALSE(prompted.PasswordKnown);
    accept = true;
    EXPECT_TRUE(prompted.AskPassword());
    EXPECT_TRUE(prompted.AskPassword()); // settled for this run: no second prompt
    EXPECT_EQ(prompts, 2);
    EXPECT_EQ(prompted.GetPassword(), QStringLiteral("typed"));
    EXPECT_TRUE(prompted.Nodes(QStringLiteral("Pass"))->Value.isEmpty()); // never stored

    TProject::PasswordPrompt = nullptr;
    TProject noPrompt;
    EXPECT_FALSE(noPrompt.AskPassword());
}

} // namespace
