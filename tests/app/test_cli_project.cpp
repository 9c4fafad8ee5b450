// zandrel-cli without a server: new projects, listing and finding them, usage errors, refresh.
#include "tests/app/CliTestSupport.h"

namespace {

class CliProjectTest : public CliTestBase
{
};

QByteArray Element(const QByteArray &name, const QByteArray &value)
{
    return "<" + name + ">\r\n" + (value.isEmpty() ? "" : value + "\r\n") + "</" + name + ">\r\n";
}

QByteArray Filter(const QByteArray &mask)
{
    return "<Filter>\r\n" + Element("Mask", mask) + Element("Options", ":no") + "</Filter>\r\n";
}

TEST_F(CliProjectTest, NewWritesTheProjectAConfirmedOptionsDialogWrites)
{
    const TCliResult result = RunCli({u"new"_s,
                                      u"--path"_s,
                                      m_site,
                                      u"--host"_s,
                                      u"  127.0.0.1 "_s,
                                      u"--user=me"_s,
                                      u"--port"_s,
                                      u"2121"_s,
                                      u"--remote-path"_s,
                                      u"/www"_s,
                                      u"--timeout"_s,
                                      u"30"_s,
                                      u"--active"_s,
                                      u"--password-file"_s,
                                      WritePasswordFile(u"secret"_s),
                                      u"--ignore"_s,
                                      u"tmp\\*"_s,
                                      u"--ignore"_s,
                                      u"*.BAK"_s,
                                      u"--ignore"_s,
                                      u"a.log"_s});
    ASSERT_EQ(result.ExitCode, 0) << result.Err.toStdString();
    const QString fileName = ProjectsFolder() + u"me@127.0.0.1.zdx"_s;
    EXPECT_EQ(result.Out, fileName + u'\n');

    // Defaults first, then the keys in the order the dialog first reads them; "*.BAK" is the
    // default row again and the rows are sorted; "secret" XOR 0x5A is ")?9(?.".
    const QByteArray expected
        = "<project>\r\n" + Element("IncSubDirs", "1") + Element("RememPass", "1")
          + Element("Port", "2121") + Element("Timeout", "30") + Element("Passive", "0")
          + Element("ViewSyncFiles", "1") + Element("ViewOldFiles", "1")
          + Element("SafeUpload", "1") + Element("IgnoreHiddenFiles", "1")
          + Element("SafeUploadSize", "0") + Element("MaxLogSize", "1024") + "<Filters>\r\n"
          + Filter("*.bak") + Filter("a.log") + Filter("tmp\\*") + "</Filters>\r\n"
          + Element("Path", m_site.toUtf8()) + Element("Host", "127.0.0.1") + Element("User", "me")
          + Element("Pass", ")?9(?.") + Element("RemotePath", "/www") + Element("Proxy", "0")
          + Element("SaveLog", "0") + Element("LogFile", "") + Element("CheckLogSize", "0")
          + Element("SetPermission", "0") + Element("CheckSize", "0")
          + "</project>\r\n<!-- versions -->\r\n";
    EXPECT_EQ(ReadWholeFile(fileName), expected);

    // The same login and host again: the first free suffix; defaults where nothing was given.
    const TCliResult second = RunCli(
        {u"new"_s, u"--path"_s, m_site, u"--host"_s, u"127.0.0.1"_s, u"--user"_s, u"me"_s});
    ASSERT_EQ(second.ExitCode, 0) << second.Err.toStdString();
    EXPECT_EQ(second.Last(), ProjectsFolder() + u"me@127.0.0.11.zdx"_s);
    EXPECT_EQ(ReadWholeFile(fileName), expected);
    TProject project;
    project.Load(second.Last());
    for (const auto &[key, value] : {std::pair{"Passive", "1"},
                                     {"Port", "21"},
                                     {"Timeout", "300"},
                                     {"Pass", ""},
                                     {"RemotePath", ""}})
        EXPECT_EQ(project.Nodes(QString::fromLatin1(key))->Value, QString::fromLatin1(value));
}

TEST_F(CliProjectTest, NewRefusesWhatTheDialogRefusesWithItsMessagesInItsOrder)
{
    WriteWholeFile(TempPath(u"plain-file"_s), "x");
    const struct
    {
        QStringList Args;
        QString Message;
    } cases[] = {
        {{}, u"Source path must be defined"_s},
        {{u"--host=h"_s, u"--user=u"_s, u"--path"_s, u"  "_s}, u"Source path must be defined"_s},
        {{u"--path"_s, TempPath(u"missing"_s)}, u"Source path must be exists"_s},
        {{u"--path"_s, TempPath(u"plain-file"_s), u"--host=h"_s}, u"Source path must be exists"_s},
        {{u"--path"_s, m_site, u"--user=u"_s}, u"Ftp host must be defined"_s},
        {{u"--path"_s, m_site, u"--host"_s, u" \t "_s}, u"Ftp host must be defined"_s},
        {{u"--path"_s, m_site, u"--host=h"_s, u"--user= "_s}, u"Ftp login must be defined"_s},
    };
    for (const auto &test : cases) {
        const TCliResult result = RunCli(QStringList{u"new"_s} + test.Args);
        EXPECT_EQ(result.ExitCode, 2) << test.Args.join(u' ').toStdString();
        EXPECT_EQ(result.Err, test.Message + u'\n');
        EXPECT_TRUE(result.Out.isEmpty());
    }
    EXPECT_FALSE(QDir(ProjectsFolder()).exists());
}

TEST_F(CliProjectTest, UsageErrorsExitWithTwoAndHelpAndVersionWithZero)
{
    const QStringList bad[] = {
        {},
        {u"publish"_s, u"x"_s},
        {u"upload"_s},
        {u"upload"_s, u"a"_s, u"b"_s},
        {u"upload"_s, u"--yes-to-all"_s, u"a"_s},
        {u"remove"_s, u"--yes-to-all"_s, u"--no-to-all"_s, u"a"_s},
        {u"compare"_s, u"--password-file"_s},
        {u"list"_s, u"extra"_s},
        {u"new"_s, u"--port"_s, u"21a"_s},
        {u"new"_s, u"--port"_s, u"1234567"_s},
        {u"new"_s, u"--timeout="_s, u"--path"_s, m_site},
        {u"new"_s, u"--active=1"_s},
    };
    for (const QStringList &args : bad) {
        const TCliResult result = RunCli(args);
        EXPECT_EQ(result.ExitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(result.Err.endsWith(u"Try 'zandrel-cli --help'.\n"_s))
            << result.Err.toStdString();
    }
    const TCliResult help = RunCli({u"--help"_s});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(help.Out.startsWith(u"Usage:"_s));
    EXPECT_EQ(RunCli({u"--version"_s}).Out, u"zandrel-cli " ZANDREL_VERSION "\n"_s);
}

TEST_F(CliProjectTest, ListSortsByTitleAndProjectsAreFoundByPathOrTitle)
{
    // Sites of different sizes, so each refresh shows which project it found.
    const auto makeProject = [this](const QString &user, const QString &host, int files) {
        const QString site = TempPath(user + u'-' + host);
        for (int i = 0; i < files; ++i)
            WriteWholeFile(site + u"/f%1.txt"_s.arg(i), "x");
        return RunCli({u"new"_s, u"--path"_s, site, u"--host"_s, host, u"--user"_s, user}).Last();
    };
    const QString zed = makeProject(u"Zed"_s, u"b"_s, 1);
    const QString lower = makeProject(u"ab"_s, u"h"_s, 2);
    const QString upper = makeProject(u"AB"_s, u"h"_s, 3);
    const QString alpha = makeProject(u"alpha"_s, u"c"_s, 4);
    EXPECT_EQ(RunCli({u"list"_s}).Lines(),
              (QStringList{u"AB@h\t"_s + upper, u"ab@h\t"_s + lower, u"alpha@c\t"_s + alpha,
                           u"Zed@b\t"_s + zed}));

    const auto statisticsOf = [](const QString &project) {
        const TCliResult result = RunCli({u"refresh"_s, project});
        EXPECT_EQ(result.ExitCode, 0) << project.toStdString() << result.Err.toStdString();
        return result.Last().left(6);
    };
    EXPECT_EQ(statisticsOf(u"ab@h"_s), u"2 of 2"_s); // the exact title first
    EXPECT_EQ(statisticsOf(u"AB@h"_s), u"3 of 3"_s);
    EXPECT_EQ(statisticsOf(u"zed@B"_s), u"1 of 1"_s); // then ignoring case
    EXPECT_EQ(statisticsOf(alpha), u"4 of 4"_s);

    const TCliResult ambiguous = RunCli({u"refresh"_s, u"Ab@H"_s});
    EXPECT_EQ(ambiguous.ExitCode, 2);
    EXPECT_TRUE(ambiguous.Err.contains(u"more than one project"_s));
    const TCliResult missing = RunCli({u"upload"_s, u"nobody@h"_s});
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_EQ(missing.Err, u"zandrel-cli: File \"nobody@h\" not found\n"_s);
}

TEST_F(CliProjectTest, RefreshNeedsNoPasswordAndListsTheFilesThatNeedUpload)
{
    const TCliResult created = RunCli(
        {u"new"_s, u"--path"_s, m_site, u"--host"_s, u"127.0.0.1"_s, u"--user"_s, u"me"_s});
    const TCliResult result = RunCli({u"refresh"_s, u"--list"_s, created.Last()});
    EXPECT_EQ(result.ExitCode, 0) << result.Err.toStdString();
    EXPECT_TRUE(result.Err.isEmpty()) << result.Err.toStdString();
    // No completion line after a refresh: the statistics, then the names in scan order.
    QStringList lines = result.Lines();
    ASSERT_EQ(lines.size(), 5) << result.Out.toStdString();
    EXPECT_TRUE(lines.takeFirst().contains(u" need uploading (1 items are ignored)"_s));
    lines.sort();
    EXPECT_EQ(lines, (QStringList{u"img\\logo.png"_s, u"index.html"_s, u"style.css"_s,
                                  u"sub\\page.html"_s}));
}

} // namespace
