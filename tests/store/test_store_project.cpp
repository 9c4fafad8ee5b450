// The project document: file layout, saving, paths, default project, password.
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>

#include <csignal>
#include <sys/resource.h>

class ProjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ProjectsFolder()).removeRecursively();
        QDir().mkpath(ProjectsFolder());
        QSettings("morvate", "Zandrel").clear();
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
          "SafeUploadSize", "SetPermission", "CheckSize", "IgnoreHiddenFiles", "Connections", "Encryption"})
        p.Nodes(key)->AsString();
    p.Nodes("MaxLogSize")->AsInteger();
    p.Nodes("Filters")->Items(0)->Nodes("Options")->AsString();
    p.Nodes("Filters")->Items(0)->Nodes("Mask")->AsString();
    p.Versions.LoadFromText("1 \n1 images\\\n0 images\\logo.gif\n1474842634 index.html\n"
                            "-1 Sub Dir\\a b.html\n1474842635 caf\u00e9.html\n");
    p.FileName = ProjectsFolder() + "golden.zdx";
    p.Save(false);
    const QByteArray expected = ReadWholeFile(TestDataPath("new_project.zdx"));
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(ReadWholeFile(p.FileName), expected);

    TProject back;
    back.Load(p.FileName);
    EXPECT_EQ(back.SaveToBytes(), expected);
}

TEST_F(ProjectTest, LoadsASampleFileWhereTheMarkerSplitsTreeAndRecords)
{
    TProject p;
    p.SetPassword("stale");
    p.Load(TestDataPath("site.zdx"));
    EXPECT_FALSE(p.PasswordKnown);
    EXPECT_EQ(p.Nodes("port")->AsInteger(), 2121);
    EXPECT_EQ(p.Nodes("Pass")->AsPassword(), "secret");
    EXPECT_EQ(p.Versions.Items(4)->FileName, "news\\2024 &lt;old&gt;.html");
    EXPECT_EQ(p.SaveToBytes(), ReadWholeFile(TestDataPath("site.zdx"))); // all of it was read

    p.LoadFromBytes("<project><Port>21</Port></project>\r\n1 a\r\n");
    EXPECT_EQ(p.Versions.Count(), 0); // no marker: all of it is the tree
    p.LoadFromBytes("<project><Port>21</Port><!-- versions -->\r\n5 x\r\n");
    EXPECT_EQ(p.Count(), 1); // the unclosed root ends at the marker
    EXPECT_EQ(p.Versions.SaveToText(), "5 x\r\n");
    p.Nodes("Note")->Value = p.VersionsMarker; // escaped, so harmless
    TProject q;
    q.LoadFromBytes(p.SaveToBytes());
    EXPECT_EQ(q.Nodes("Note")->Value, p.VersionsMarker);
    EXPECT_EQ(q.Versions.SaveToText(), "5 x\r\n");
}

TEST_F(ProjectTest, FirstSaveNamesTheFileAfterLoginAndHost)
{
    TProject p;
    p.InitDefaults();
    p.Nodes("User")->Value = "  ";
    p.Nodes("Host")->Value = "ftp.example.org";
    p.Save(false); // no login: nothing, silently
    EXPECT_TRUE(p.FileName.isEmpty());

    p.Nodes("User")->Value = "web master"; // kept as stored
    const QString base = ProjectsFolder() + "web master@ftp.example.org";
    WriteWholeFile(base + ".zdx", "old");
    WriteWholeFile(base + "1.zdx", "old");
    p.Save(true);
    EXPECT_EQ(p.FileName, base + "2.zdx");
    QStringList projects;
    ListProjects(projects);
    projects.sort();
    EXPECT_EQ(projects, QStringList({base + ".zdx", base + "1.zdx", base + "2.zdx"}));
    EXPECT_EQ(ProjectTitle(p.FileName), "web master@ftp.example.org2");
    EXPECT_EQ(ProjectTitle("/a.b/c.d.zdx"), "c.d");

    // A deleted file is recreated only when asked.
    QFile::remove(p.FileName);
    p.Save(true);
    EXPECT_FALSE(QFile::exists(p.FileName));
    p.Save(false);
    EXPECT_TRUE(QFile::exists(p.FileName));
}

TEST_F(ProjectTest, FailedSaveLeavesThePreviousFileIntact)
{
    TProject p;
    p.InitDefaults();
    p.FileName = ProjectsFolder() + "keep.zdx";
    p.Save(false);
    const QByteArray before = ReadWholeFile(p.FileName);
    for (int i = 0; i < 5000; ++i)
        p.Versions.FindOrAdd(QString("folder\\file%1.html").arg(i))->Date = 1474842634;

    // No write may pass 4 KB; ignoring SIGXFSZ turns the signal into a failing write.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const QString error = ErrorOf<EStoreError>([&] { p.Save(false); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error, "Cannot write file " + p.FileName);
    EXPECT_EQ(ReadWholeFile(p.FileName), before);
    EXPECT_EQ(QDir(ProjectsFolder()).entryList(QDir::Files), QStringList{"keep.zdx"});
}

TEST_F(ProjectTest, PathsUrlAndDefaultProject)
{
    TProject p;
    EXPECT_EQ(p.GetLocalPath(), "/");
    p.Nodes("Path")->Value = "  /home/me/site \t";
    EXPECT_EQ(p.GetLocalPath(), "/home/me/site/");
    p.Nodes("Host")->Value = "h";
    for (const auto &[stored, path, url] : {std::tuple{"", "", "ftp://h"},
                                            {" site ", "site/", "ftp://h/~site/"},
                                            {"/site", "/site/", "ftp://h/site/"}}) {
        p.Nodes("RemotePath")->Value = stored;
        EXPECT_EQ(p.GetRemotePath(), path);
        EXPECT_EQ(p.GetUrl(), url);
    }

    // The default project comes from the command line or the settings; a vanished file is
    // forgotten.
    EXPECT_EQ(GetDefaultProject(), QString());
    const QString file = ProjectsFolder() + "a.zdx";
    WriteWholeFile(file, "<project></project>");
    SetDefaultProject(file);
    EXPECT_EQ(GetDefaultProject(), file);
    TProject::CommandLineArguments = {"/not/checked.zdx"};
    EXPECT_EQ(GetDefaultProject(), "/not/checked.zdx");
    TProject::CommandLineArguments.clear();
    QFile::remove(file);
    EXPECT_EQ(GetDefaultProject(), QString());
    EXPECT_FALSE(QSettings("morvate", "Zandrel").contains("DefaultProject"));
}

TEST_F(ProjectTest, AskPasswordTakesStoredThenCommandLineThenPrompt)
{
    int prompts = 0;
    TProject::PasswordPrompt = [&](QString &password) {
        password = "typed";
        return ++prompts > 1; // the first prompt is cancelled
    };
    TProject::CommandLineArguments = {"a.zdx", "FTPWindow", "cmdline"};
    TProject stored, fromArgs, prompted;
    stored.Nodes("Pass")->SetAsPassword("fizz");
    EXPECT_TRUE(stored.AskPassword() && fromArgs.AskPassword());
    EXPECT_EQ(stored.GetPassword() + fromArgs.GetPassword(), "fizzcmdline");
    TProject::CommandLineArguments.removeLast();
    EXPECT_FALSE(prompted.AskPassword());
    EXPECT_TRUE(prompted.AskPassword() && prompted.GetPassword() == "typed");
}

TEST_F(ProjectTest, EncryptionModesReadAndWriteBackAsStoredAndTlsSeenIsForgottenWithTheServer)
{
    for (const char *mode : {"require", "auto", "implicit", "off"}) {
        TProject p;
        p.LoadFromBytes(QByteArray("<project>\r\n<Encryption>\r\n") + mode
                        + "\r\n</Encryption>\r\n</project>\r\n");
        TProjectOptions options;
        options.Load(p);
        EXPECT_EQ(options.Encryption, mode);
        options.Save(p);
        EXPECT_EQ(p.Nodes("Encryption")->AsString(), mode);
    }
    TProject unknown;
    unknown.LoadFromBytes("<project>\r\n<Encryption>\r\nssl\r\n</Encryption>\r\n</project>\r\n");
    EXPECT_EQ(ProjectEncryption(unknown), "off");

    // TLS seen on a server holds while the options keep that server, and goes with it.
    TProject p;
    p.LoadFromBytes("<project>\r\n<Host>\r\nftp.example.com\r\n</Host>\r\n<Port>\r\n21\r\n"
                    "</Port>\r\n</project>\r\n");
    EXPECT_FALSE(ProjectExpectsTls(p));
    EXPECT_LT(p.IndexOf("TlsOffered"), 0); // reading adds no key
    SetProjectTlsOffered(p);
    TProjectOptions options;
    options.Load(p);
    options.Host = " FTP.example.com ";
    options.Save(p);
    EXPECT_TRUE(ProjectExpectsTls(p));
    options.Port = "2121";
    options.Save(p);
    EXPECT_FALSE(ProjectExpectsTls(p));
    p.Nodes("TrustedCertificate")->SetAsString("AB:CD");
    EXPECT_TRUE(ProjectExpectsTls(p));
}
