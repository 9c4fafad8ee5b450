// The real zandrel-cli: new projects, finding them, usage errors, password sources, questions,
// output and exit statuses; a pseudo terminal for the prompt without echo, the answers and the
// live progress line. The operations are the engine's, proven on both servers by its own tests.
// The child inherits the test's private HOME and XDG folders, so it sees ProjectsFolder().
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/FtpRelay.h"
#include "tests/support/FtpServers.h"
#include "tests/support/PrivateKeyring.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

struct TCliResult
{
    int ExitCode = -1;
    QString Out, Err;
    QStringList Lines() const { return Out.split('\n', Qt::SkipEmptyParts); }
    QString Last() const { return Lines().value(Lines().size() - 1); }
};

// zandrel-cli started with the arguments in `args`, separated by "|"; stdin at end of file
// unless it is the `terminal` (or stderr is, when `errorOnTerminal`). With a `home`, it runs as
// the user nobody, whose home and state that folder is.
class TCli
{
public:
    explicit TCli(const QString &args, const QString &password = {}, const QString &terminal = {},
                  bool errorOnTerminal = false, const QString &home = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("ZANDREL_PASSWORD");
        if (!password.isEmpty())
            environment.insert("ZANDREL_PASSWORD", password);
        QString program = ZANDREL_BINARY_DIR "/app/zandrel-cli";
        QStringList arguments = args.split('|', Qt::SkipEmptyParts);
        if (!home.isEmpty()) {
            for (const char *name : {"HOME", "TMPDIR", "XDG_RUNTIME_DIR"})
                environment.insert(name, home);
            environment.insert("XDG_CONFIG_HOME", home + "/config");
            environment.insert("XDG_DATA_HOME", home + "/data");
            arguments = QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program}
                        + arguments;
            program = "setpriv";
        }
        m_process.setProcessEnvironment(environment);
        if (errorOnTerminal)
            m_process.setStandardErrorFile(terminal);
        else if (!terminal.isEmpty())
            m_process.setStandardInputFile(terminal);
        m_process.start(program, arguments);
        m_pid = m_process.processId();
        if (terminal.isEmpty() || errorOnTerminal)
            m_process.closeWriteChannel();
    }
    ~TCli()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Waits until stderr (or stdout) has shown `text` `count` times.
    bool WaitFor(const QString &text, int count = 1, bool onOutput = false)
    {
        QElapsedTimer timer;
        timer.start();
        const QString &seen = onOutput ? m_result.Out : m_result.Err;
        while (seen.count(text) < count && timer.elapsed() < 30000
               && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(100);
            m_result.Err += QString::fromUtf8(m_process.readAllStandardError());
            m_result.Out += QString::fromUtf8(m_process.readAllStandardOutput());
        }
        return seen.count(text) >= count;
    }
    void Signal(int signal) { ::kill(pid_t(m_process.processId()), signal); }
    qint64 Pid() const { return m_pid; }
    TCliResult Finish()
    {
        if (m_process.waitForFinished(120000) && m_process.exitStatus() == QProcess::NormalExit)
            m_result.ExitCode = m_process.exitCode();
        m_result.Err += QString::fromUtf8(m_process.readAllStandardError());
        m_result.Out += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_result;
    }

private:
    QProcess m_process;
    TCliResult m_result;
    qint64 m_pid = 0;
};

TCliResult RunCli(const QString &args, const QString &password = {})
{
    return TCli(args, password).Finish();
}

TCliResult RunCliAsNobody(const QString &home, const QString &args)
{
    return TCli(args, {}, {}, false, home).Finish();
}

// A pseudo terminal; the program gets its slave side.
class TTerminal
{
public:
    TTerminal()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
            ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
            m_device = QString::fromLocal8Bit(::ptsname(m_master));
        }
    }
    ~TTerminal() { ::close(m_master); }
    void Type(const QByteArray &keys)
    {
        EXPECT_EQ(::write(m_master, keys.data(), size_t(keys.size())), keys.size());
    }
    bool Echoes() const
    {
        termios settings = {};
        return ::tcgetattr(m_master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    }
    // What the terminal showed: echoed keys and what the program wrote to it.
    QByteArray Shown()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_master, buffer, sizeof buffer)) > 0;)
            m_shown.append(buffer, n);
        return m_shown;
    }
    // Runs the program with standard input (or standard error) on the terminal.
    std::unique_ptr<TCli> Run(const QString &args, bool errorOnTerminal = false)
    {
        return std::make_unique<TCli>(args, QString(), m_device, errorOnTerminal);
    }

private:
    int m_master = -1;
    QString m_device;
    QByteArray m_shown;
};

// Each test starts with an empty projects folder and a small site: pages, a style sheet, an
// image, a sub folder, an empty folder and an ignored "*.bak" file.
class Cli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ProjectsFolder()).removeRecursively();
        for (const char *file :
             {"index.html", "style.css", "img/logo.png", "sub/page.html", "old.bak"})
            WriteWholeFile(m_site + "/" + file, QByteArray(file).repeated(100));
        QDir().mkpath(m_site + "/empty");
        for (const QString &file : TreeOf(m_site).keys())
            SetFileAge(m_site + '/' + file, 86400);
    }
    QString TempPath(const QString &name) const { return m_temp.path() + '/' + name; }
    QString PasswordFile(const QString &password)
    {
        const QString file = TempPath(QString("password-%1").arg(++m_passwordFiles));
        WriteWholeFile(file, password.toUtf8() + "\nsecond line ignored\n");
        return file;
    }
    // A project for the server, its password stored unless told otherwise.
    QString NewProject(const TFtpTestServer &server, bool storePassword = true)
    {
        const TCliResult result = RunCli(
            QString("new|--path|%1|--host|%2|--port|%3|--user|%4|")
                .arg(m_site, server.Host)
                .arg(server.Port)
                .arg(server.User)
            + (storePassword ? "--password-file|" + PasswordFile(server.Password) : QString()));
        EXPECT_EQ(result.ExitCode, 0) << result.Err.toStdString();
        return result.Last();
    }
    QMap<QString, QByteArray> SiteTree() const { return TreeOf(m_site, {"old.bak"}); }

    QTemporaryDir m_temp;
    QString m_site = m_temp.path() + "/site";
    int m_passwordFiles = 0;
};

TEST_F(Cli, NewWritesTheProjectAConfirmedOptionsDialogWrites)
{
    const TCliResult result
        = RunCli("new|--path|" + m_site
                 + "|--host|  127.0.0.1 |--user=me|--port|2121|--remote-path|"
                   "/www|--timeout|30|--active|--password-file|"
                 + PasswordFile("secret") + "|--ignore|tmp\\*|--ignore|*.BAK|--ignore|a.log");
    ASSERT_EQ(result.ExitCode, 0) << result.Err.toStdString();
    const QString fileName = ProjectsFolder() + "me@127.0.0.1.zdx";
    EXPECT_EQ(result.Out, fileName + '\n');
    // Defaults first, then the keys in the order the dialog first reads them; "*.BAK" is the
    // default row again and the rows are sorted; "secret" XOR 0x5A is ")?9(?.".
    const QByteArray expected
        = ReadWholeFile(TestDataPath("cli_new_project.zdx")).replace("@SITE@", m_site.toUtf8());
    EXPECT_EQ(ReadWholeFile(fileName), expected);

    // The same login and host again: the first free suffix; defaults where nothing was given.
    const TCliResult second
        = RunCli("new|--path|" + m_site + "|--host|127.0.0.1|--user|me|--connections|10");
    ASSERT_EQ(second.ExitCode, 0) << second.Err.toStdString();
    EXPECT_EQ(second.Last(), ProjectsFolder() + "me@127.0.0.11.zdx");
    const QByteArray secondFile = ReadWholeFile(second.Last());
    EXPECT_TRUE(secondFile.contains("<Passive>\r\n1\r\n</Passive>\r\n<ViewSync"));
    EXPECT_TRUE(secondFile.contains("<Connections>\r\n10\r\n</Connections>"));
}

TEST_F(Cli, UsageAndProjectProblemsExitWithTwo)
{
    // What the options dialog's OK refuses, with its messages in its order.
    WriteWholeFile(TempPath("plain-file"), "x");
    const std::pair<QString, QString> refused[] = {
        {"--host=h|--user=u|--path|  ", "Source path must be defined"},
        {"--path|" + TempPath("plain-file") + "|--host=h", "Source path must be exists"},
        {"--path|" + m_site + "|--host| \t ", "Ftp host must be defined"},
        {"--path|" + m_site + "|--host=h|--port|99999", "Port must be a number from 1 to 65535"},
        {"--path|" + m_site + "|--host=h|--port|0|--user=u",
         "Port must be a number from 1 to 65535"},
        {"--path|" + m_site + "|--host=h|--user= ", "Ftp login must be defined"},
    };
    for (const auto &[args, message] : refused) {
        const TCliResult result = RunCli("new|" + args);
        EXPECT_EQ(result.ExitCode, 2) << args.toStdString();
        EXPECT_EQ(result.Err, message + '\n');
        EXPECT_TRUE(result.Out.isEmpty());
    }
    EXPECT_FALSE(QDir(ProjectsFolder()).exists());

    for (const QString &args :
         {QString(), QString("publish|x"), QString("upload|a|b"), QString("upload|--yes-to-all|a"),
          QString("remove|--yes-to-all|--no-to-all|a"), QString("new|--port|21a"),
          QString("new|--port|1e10"), QString("new|--connections|0"),
          QString("new|--connections|11"), QString("new|--connections|4x"),
          QString("new|--encryption|yes"), QString("new|--trust-certificate|AB:CD")}) {
        const TCliResult result = RunCli(args);
        EXPECT_EQ(result.ExitCode, 2) << args.toStdString();
        EXPECT_TRUE(result.Err.endsWith("Try 'zandrel-cli --help'.\n")) << result.Err.toStdString();
    }
    const TCliResult help = RunCli("--help");
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(help.Out.startsWith("Usage:"));
    EXPECT_EQ(RunCli("--version").Out, "zandrel-cli " ZANDREL_VERSION "\n");
}

TEST_F(Cli, ListSortsByTitleAndProjectsAreFoundByPathOrTitle)
{
    // Sites of different sizes, so each refresh shows which project it found.
    QStringList files;
    for (const auto &[user, host, count] :
         {std::tuple{"Zed", "b", 1}, {"ab", "h", 2}, {"AB", "h", 3}, {"alpha", "c", 4}}) {
        const QString site = TempPath(QString(user) + "-" + host);
        for (int i = 0; i < count; ++i)
            WriteWholeFile(site + QString("/f%1.txt").arg(i), "x");
        files << RunCli("new|--path|" + site + "|--host|" + host + "|--user|" + user).Last();
    }
    EXPECT_EQ(RunCli("list").Lines(), QStringList({"AB@h\t" + files[2], "ab@h\t" + files[1],
                                                   "alpha@c\t" + files[3], "Zed@b\t" + files[0]}));
    // A refresh needs no password and prints only the statistics line.
    for (const auto &[project, statistics] :
         {std::pair<QString, QString>{"ab@h", "2 of 2 files (2 byte) need uploading"}, // exact
          {"zed@B", "1 of 1 files (1 byte) need uploading"}}) { // then ignoring case
        const TCliResult result = RunCli("refresh|" + project);
        EXPECT_EQ(result.ExitCode, 0) << result.Err.toStdString();
        EXPECT_EQ(result.Lines(), QStringList{statistics});
    }
    const TCliResult ambiguous = RunCli("refresh|Ab@H");
    EXPECT_EQ(ambiguous.ExitCode, 2);
    EXPECT_TRUE(ambiguous.Err.contains("more than one project"));
    const TCliResult missing = RunCli("upload|nobody@h");
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_EQ(missing.Err, "zandrel-cli: File \"nobody@h\" not found\n");
}

TEST_F(Cli, UploadPrintsTheLogAndEndLinesAndSavesRecordsAndLog)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    TProject stored;
    stored.Load(project);
    stored.Nodes("SaveLog")->SetAsBoolean(true);
    stored.Save(false);

    // Refresh lists the names that need upload, in scan order, after the statistics.
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines(),
              QStringList({"4 of 4 files (4.3 KB) need uploading (1 items are ignored)",
                           "index.html", "style.css", "img\\logo.png", "sub\\page.html"}));
    const TCliResult first = RunCli("upload|" + project);
    ASSERT_EQ(first.ExitCode, 0) << first.Out.toStdString() << first.Err.toStdString();
    EXPECT_TRUE(first.Err.isEmpty()) << first.Err.toStdString(); // no progress line either
    EXPECT_TRUE(first.Lines().first().startsWith("Upload from " + m_site));
    EXPECT_EQ(first.Lines().mid(first.Lines().size() - 3),
              QStringList({"3 folder(s) have been created and 4 file(s) have been uploaded",
                           "Operation was successfully completed",
                           "0 of 4 files need uploading (1 items are ignored)"}));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());

    // The records reached the project file: nothing needs upload, and no connection is made.
    const qsizetype commandsBefore = server->ProtocolLog().size();
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines().size(), 1);
    const TCliResult second = RunCli("upload|" + project);
    EXPECT_EQ(second.ExitCode, 0) << second.Err.toStdString();
    EXPECT_TRUE(second.Lines().contains("No files for uploading"));
    EXPECT_EQ(server->ProtocolLog().size(), commandsBefore);
    EXPECT_EQ(ReadWholeFile(project.chopped(4) + ".log").count("\r\nStart: "), 2);
}

TEST_F(Cli, AnUntrustedCertificateIsRefusedWithItsDetailsUntilTheProjectTrustsIt)
{
    TPyftpdlibOptions options;
    options.Tls = true;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    const TCliResult refused = RunCli("upload|" + project);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_TRUE(refused.Err.contains("SHA-256 fingerprint: " + server->CertificateFingerprint))
        << refused.Err.toStdString();
    EXPECT_TRUE(refused.Err.contains("--trust-certificate " + server->CertificateFingerprint));
    EXPECT_TRUE(refused.Err.contains("Subject: ") && refused.Err.contains("Valid from "));
    EXPECT_TRUE(TreeOf(server->Root).isEmpty());
    EXPECT_TRUE(server->ProtocolLog().filter("USER").isEmpty());

    // The same project made with the fingerprint (typed without colons) connects over TLS.
    QFile::remove(project);
    QString hex = server->CertificateFingerprint;
    hex.remove(':');
    const TCliResult made
        = RunCli(QString("new|--path|%1|--host|%2|--port|%3|--user|%4|"
                         "--encryption|require|--trust-certificate|%5|"
                         "--password-file|%6")
                     .arg(m_site, server->Host)
                     .arg(server->Port)
                     .arg(server->User, hex.toLower(), PasswordFile(server->Password)));
    ASSERT_EQ(made.ExitCode, 0) << made.Err.toStdString();
    const QByteArray file = ReadWholeFile(made.Last());
    EXPECT_TRUE(file.contains("<Encryption>\r\nrequire\r\n</Encryption>"));
    EXPECT_TRUE(
        file.contains("<TrustedCertificate>\r\n" + server->CertificateFingerprint.toUtf8()));
    const TCliResult upload = RunCli("upload|" + made.Last());
    EXPECT_EQ(upload.ExitCode, 0) << upload.Out.toStdString() << upload.Err.toStdString();
    EXPECT_EQ(upload.Lines().filter(QRegularExpression("^connected with TLS 1\\.[23]$")).size(), 1);
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
}

TEST_F(Cli, AProjectThatHadTlsRefusesToLogInWithoutItUnlessAllowedForTheRun)
{
    TPyftpdlibOptions options;
    options.Tls = true;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    TFtpRelay relay(server->Port);
    const TCliResult made = RunCli(
        QString("new|--path|%1|--host|%2|--port|%3|--user|%4|--trust-certificate|%5|"
                "--password-file|%6")
            .arg(m_site, server->Host)
            .arg(relay.Host.Port)
            .arg(server->User, server->CertificateFingerprint, PasswordFile(server->Password)));
    ASSERT_EQ(made.ExitCode, 0) << made.Err.toStdString();
    ASSERT_EQ(RunCli("upload|" + made.Last()).ExitCode, 0);
    EXPECT_TRUE(ReadWholeFile(made.Last()).contains("<TlsOffered>\r\n1\r\n</TlsOffered>"));

    // Someone now strips AUTH TLS: no login, exit 2 and how to allow it.
    relay.StripTls = true;
    WriteWholeFile(m_site + "/index.html", "changed");
    const TCliResult refused = RunCli("upload|" + made.Last());
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_TRUE(refused.Err.contains("downgrade") && refused.Err.contains("--allow-plain"))
        << refused.Err.toStdString();
    EXPECT_FALSE(relay.Sent().contains("USER"));
    EXPECT_FALSE(relay.Sent().contains("PASS"));

    const TCliResult allowed = RunCli("upload|--allow-plain|" + made.Last());
    EXPECT_EQ(allowed.ExitCode, 0) << allowed.Err.toStdString();
    EXPECT_TRUE(relay.Sent().contains("PASS " + server->Password.toUtf8()));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
}

TEST_F(Cli, QuestionsAreAnsweredByFlagsOrOnTheTerminalAndRefusedWithoutOne)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    ASSERT_EQ(RunCli("upload|" + project).ExitCode, 0);
    WriteWholeFile(server->Root + "/extra.txt", "extra");
    WriteWholeFile(server->Root + "/olddir/x.txt", "x");
    const auto serverTree = TreeOf(server->Root);

    // No terminal to ask on and no answer given: refused before connecting.
    const qsizetype commandsBefore = server->ProtocolLog().size();
    for (const char *command : {"remove|", "download|"}) {
        const TCliResult refused = RunCli(command + project);
        EXPECT_EQ(refused.ExitCode, 2);
        EXPECT_TRUE(refused.Err.contains("--yes-to-all")) << refused.Err.toStdString();
    }
    EXPECT_EQ(server->ProtocolLog().size(), commandsBefore);

    const TCliResult keep = RunCli("remove|--no-to-all|" + project);
    EXPECT_EQ(keep.ExitCode, 0) << keep.Err.toStdString();
    EXPECT_TRUE(keep.Lines().contains("0 folder(s) and 0 file(s) have been removed"));
    EXPECT_EQ(TreeOf(server->Root), serverTree);
    const TCliResult download = RunCli("download|--yes-to-all|" + project);
    EXPECT_EQ(download.ExitCode, 0) << download.Err.toStdString();
    EXPECT_TRUE(download.Lines().contains("2 file(s) have been downloaded"));
    EXPECT_EQ(download.Last(), "0 of 6 files need uploading (1 items are ignored)");
    EXPECT_EQ(ReadWholeFile(m_site + "/olddir/x.txt"), "x");

    // On a terminal the answers come from it.
    ASSERT_TRUE(QFile::remove(m_site + "/extra.txt"));
    const QString extra = server->Root + "/extra.txt";
    const QString answers = "[y] Yes, [n] No, [a] Yes to All, [N/o] No to All, [c] Cancel: ";
    // Each command meets one server-only file and gets these keys.
    const std::tuple<const char *, QByteArray, int, const char *, bool> cases[] = {
        {"download|", "\x04", 3, "Operation was aborted by user", true}, // end of input
        {"download|", "o\n", 0, "0 file(s) have been downloaded", true},
        {"remove|", "n\n", 0, "0 folder(s) and 0 file(s) have been removed", true},
        {"remove|", "c\n", 3, "Operation was aborted by user", true},
        {"remove|", "y\n", 0, "0 folder(s) and 1 file(s) have been removed", false},
    };
    for (const auto &[command, keys, status, line, serverKeeps] : cases) {
        WriteWholeFile(extra, "extra");
        TTerminal terminal;
        auto run = terminal.Run(command + project);
        ASSERT_TRUE(run->WaitFor(answers));
        terminal.Type("Y\n"); // not an answer: asked again
        ASSERT_TRUE(run->WaitFor(answers, 2));
        terminal.Type(keys);
        const TCliResult result = run->Finish();
        EXPECT_TRUE(result.Err.startsWith("The file \"/extra.txt\" exists on the server but does "
                                          "not exist in the local system. Do you want to "));
        EXPECT_EQ(result.ExitCode, status) << keys.toStdString() << result.Err.toStdString();
        EXPECT_TRUE((result.Out + result.Err).contains(line)) << keys.toStdString();
        EXPECT_EQ(QFile::exists(extra), serverKeeps) << keys.toStdString();
        EXPECT_FALSE(QFile::exists(m_site + "/extra.txt"));
    }
}

TEST_F(Cli, PasswordComesFromTheFileTheEnvironmentOrAPromptWithoutEcho)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server, false);
    const TCliResult none = RunCli("upload|" + project);
    EXPECT_EQ(none.ExitCode, 2);
    EXPECT_TRUE(none.Err.contains("ZANDREL_PASSWORD")) << none.Err.toStdString();
    // The file comes before the environment; a wrong password is an error of the operation, on
    // standard error, with status 1.
    const TCliResult wrong = RunCli(
        "upload|--password-file|" + PasswordFile("wrong") + "|" + project, server->Password);
    EXPECT_EQ(wrong.ExitCode, 1);
    EXPECT_TRUE(wrong.Err.endsWith("Operation was completed with errors\n"));
    EXPECT_TRUE(TreeOf(server->Root).isEmpty());
    const TCliResult env = RunCli("upload|" + project, server->Password);
    EXPECT_EQ(env.ExitCode, 0) << env.Err.toStdString();
    EXPECT_EQ(TreeOf(server->Root), SiteTree());

    const QString prompt = "Enter password for connecting to FTP server: ";
    SetFileAge(m_site + "/index.html", 3600);
    // Ctrl+C at the prompt aborts, end of input is no password, a typed one is not echoed; the
    // terminal echoes again afterwards.
    for (const auto &[keys, status] :
         {std::pair<QByteArray, int>{"", 3}, {"\x04", 2}, {server->Password.toUtf8() + "\n", 0}}) {
        TTerminal terminal;
        auto run = terminal.Run("upload|" + project);
        ASSERT_TRUE(run->WaitFor(prompt));
        EXPECT_FALSE(terminal.Echoes());
        if (keys.isEmpty())
            run->Signal(SIGINT);
        else
            terminal.Type(keys);
        const TCliResult result = run->Finish();
        EXPECT_EQ(result.ExitCode, status) << result.Err.toStdString();
        EXPECT_TRUE(terminal.Echoes());
        EXPECT_FALSE(terminal.Shown().contains(server->Password.toUtf8()));
        EXPECT_TRUE(status != 2 || result.Err.contains("no password entered"));
        EXPECT_TRUE(status != 0
                    || result.Lines().contains(
                        "0 folder(s) have been created and 1 file(s) have been uploaded"));
    }
    // A typed password is never written to the project.
    TProject saved;
    saved.Load(project);
    EXPECT_TRUE(saved.Nodes("Pass")->Value.isEmpty());
}

// A stale stored password: the one given for the run wins, and passwd replaces the stored one
// without it. Without a keyring (no session bus) the password stays in the file and one line
// says so; with one (a private Secret Service) the next save moves it there, and the file
// holds none from then on.
TEST_F(Cli, AGivenPasswordWinsOverAStaleStoredOneAndPasswdReplacesIt)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QByteArray noBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QString made = RunCli(QString("new|--path|%1|--host|%2|--port|%3|--user|%4|"
                                        "--password-file|%5")
                                    .arg(m_site, server->Host)
                                    .arg(server->Port)
                                    .arg(server->User, PasswordFile("stale")))
                             .Err;
    const QString project = ProjectsFolder() + server->User + '@' + server->Host + ".zdx";
    EXPECT_TRUE(made.startsWith("zandrel-cli: No desktop keyring (no D-Bus session: "))
        << made.toStdString();
    EXPECT_TRUE(made.endsWith(": the FTP password is kept scrambled in the project file " + project
                              + "\n"));
    const auto stored = [&] {
        TProject saved;
        saved.Load(project);
        return saved.Nodes("Pass")->AsPassword() + '|' + saved.Nodes("PassKeyring")->Value;
    };
    const auto change = [this](int seconds) { SetFileAge(m_site + "/index.html", seconds); };
    ASSERT_EQ(stored(), "stale|");

    const TCliResult stale = RunCli("upload|" + project);
    EXPECT_EQ(stale.ExitCode, 1);
    EXPECT_TRUE((stale.Out + stale.Err).contains("Authentication failed."))
        << stale.Err.toStdString();
    const TCliResult given = RunCli("upload|" + project, server->Password);
    EXPECT_EQ(given.ExitCode, 0) << given.Err.toStdString();
    EXPECT_TRUE(given.Err.isEmpty()) << given.Err.toStdString();
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    EXPECT_EQ(stored(), "stale|");

    const TCliResult passwd = RunCli("passwd|" + project, server->Password);
    EXPECT_EQ(passwd.ExitCode, 0) << passwd.Err.toStdString();
    EXPECT_EQ(passwd.Out, project + ": the FTP password is kept scrambled in the project file\n");
    EXPECT_EQ(stored(), server->Password + '|');
    change(3600);
    EXPECT_EQ(RunCli("upload|" + project).ExitCode, 0);

    // With a keyring: the next save moves the file's password there.
    qputenv("DBUS_SESSION_BUS_ADDRESS", PrivateKeyringBus().toUtf8());
    change(1800);
    const TCliResult moved = RunCli("upload|" + project);
    EXPECT_EQ(moved.ExitCode, 0) << moved.Err.toStdString();
    EXPECT_EQ(moved.Err, "zandrel-cli: The FTP password of " + project
                             + " was moved from the project file into the desktop's keyring\n");
    const QString marker = stored();
    EXPECT_TRUE(marker.startsWith('|') && marker.size() == 37) << marker.toStdString();
    for (const QString &password : {QStringLiteral("stale"), server->Password}) {
        const TCliResult replaced
            = RunCli("passwd|--password-file|" + PasswordFile(password) + '|' + project);
        EXPECT_EQ(replaced.Out, project + ": the FTP password is kept in the desktop's keyring\n");
        EXPECT_EQ(stored(), marker);
        EXPECT_FALSE(ReadWholeFile(project).contains(password.toUtf8()));
        change(password == "stale" ? 900 : 600);
        EXPECT_EQ(RunCli("upload|" + project).ExitCode, password == "stale" ? 1 : 0);
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", noBus);
    // Where the keyring cannot be reached, the project asks as if it stored none.
    const TCliResult away = RunCli("upload|" + project);
    EXPECT_EQ(away.ExitCode, 2);
    EXPECT_TRUE(away.Err.startsWith("zandrel-cli: The FTP password of " + project
                                    + " is kept in the desktop's keyring, which cannot be read: "
                                      "no D-Bus session: "))
        << away.Err.toStdString();
}

TEST_F(Cli, ProgressOnATerminalOnlyAndInterruptAbortsWithThree)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 100 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    WriteWholeFile(m_site + "/movie.bin", QByteArray(300 * 1024, 'p'));
    const QString project = NewProject(*server);
    TTerminal terminal;
    const TCliResult result = terminal.Run("upload|" + project, true)->Finish();
    EXPECT_EQ(result.ExitCode, 0);
    const QByteArray shown = terminal.Shown();
    EXPECT_TRUE(QString::fromUtf8(shown).contains(
        QRegularExpression(QStringLiteral("\r *[0-9]+% Estimated time left: "))))
        << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("\r\x1b[K")) << shown.toStdString(); // nothing left behind
    // Log lines stay on standard output, free of the live line.
    EXPECT_TRUE(result.Out.contains("movie.bin\n"));
    EXPECT_FALSE(result.Out.contains('\r') || result.Out.contains("Estimated"));

    // Ctrl+C runs Abort: status 3, and the file still needs upload.
    WriteWholeFile(m_site + "/big.bin", QByteArray(4 * 1024 * 1024, 'z'));
    TCli upload("upload|" + project);
    ASSERT_TRUE(upload.WaitFor("big.bin", 1, true));
    QThread::msleep(300); // well inside the 40-second transfer
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    upload.Signal(SIGINT);
    const TCliResult aborted = upload.Finish();
    EXPECT_LT(sinceSignal.elapsed(), 3000);
    EXPECT_EQ(aborted.ExitCode, 3);
    EXPECT_TRUE(aborted.Err.contains("Operation was aborted by user"));
    EXPECT_TRUE(RunCli("refresh|--list|" + project).Lines().contains("big.bin"));
}

// Killed (SIGKILL) or cut off by a closed terminal (SIGHUP) part-way through a long upload: the
// project file already holds the records of files that arrived, and the next run sends the rest.
// A hang-up aborts as Ctrl+C does.
TEST_F(Cli, AKilledOrHungUpUploadKeepsTheRecordsOfTheFilesSent)
{
    for (const auto &[signal, status] : {std::pair{SIGKILL, -1}, std::pair{SIGHUP, 3}}) {
        SCOPED_TRACE(signal);
        QDir(m_site).removeRecursively();
        QStringList files;
        // About two seconds a file over four connections (the server lets a transfer's first
        // 64 KB pass at once).
        for (int i = 0; i < 12; ++i) {
            files << QString("d%1/%2.bin").arg(i % 3).arg(i);
            WriteWholeFile(m_site + '/' + files.last(), RandomBytes(96 * 1024, i));
            SetFileAge(m_site + '/' + files.last(), 60);
        }
        TPyftpdlibOptions options;
        options.BandwidthLimit = 32 * 1024;
        auto server = StartPyftpdlib({}, options);
        ASSERT_TRUE(server);
        const QString project = NewProject(*server);
        TProject stored;
        stored.Load(project);
        // Plain STOR: a file cut off keeps its own name, and the next run replaces it.
        stored.Nodes("SafeUpload")->SetAsBoolean(false);
        stored.Save(false);

        TCli upload("upload|" + project);
        ASSERT_TRUE(upload.WaitFor("uploading", 1, true));
        QElapsedTimer waited;
        waited.start();
        int recorded = 0;
        while (recorded == 0 && waited.elapsed() < 30000) {
            QThread::msleep(100);
            TProject onDisk;
            onDisk.LoadFromBytes(ReadWholeFile(project));
            for (int i = 0; i < onDisk.Versions.Count(); ++i)
                recorded += onDisk.Versions.Items(i)->Date > 1;
        }
        ASSERT_GT(recorded, 0) << "no record reached the project file";
        // A closing shell passes its hang-up on, and the kernel sends another: the second must
        // not end the program before the abort has saved the records.
        upload.Signal(signal);
        if (signal == SIGHUP)
            upload.Signal(signal);
        const TCliResult cut = upload.Finish();
        EXPECT_EQ(cut.ExitCode, status) << cut.Err.toStdString();
        EXPECT_EQ(cut.Err.contains("Operation was aborted by user"), status == 3);

        TProject kept;
        kept.Load(project); // a whole project file
        EXPECT_EQ(kept.Nodes("Host")->AsString(), server->Host);
        const int keptFiles = RecordsMatchServer(kept, m_site, *server);
        EXPECT_GE(keptFiles, recorded);
        EXPECT_LT(keptFiles, 12);
        QStringList rest;
        for (const QString &file : files) {
            if (kept.Versions.FindOrAdd(QString(file).replace('/', '\\'))->Date <= 1)
                rest << m_site + '/' + file;
        }
        const TCliResult next = RunCli("upload|" + project);
        EXPECT_EQ(next.ExitCode, 0) << next.Err.toStdString();
        QStringList sent;
        for (const QString &line : next.Lines()) {
            if (line.startsWith("uploading "))
                sent << line.mid(10);
        }
        sent.sort();
        rest.sort();
        EXPECT_EQ(sent, rest);
        EXPECT_EQ(TreeOf(server->Root), SiteTree());
        kept.Load(project);
        EXPECT_EQ(RecordsMatchServer(kept, m_site, *server), 12);
    }
}

// Ctrl+C while the local folder is being scanned: nothing connects.
TEST_F(Cli, InterruptDuringTheLocalScanEndsBeforeConnecting)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    constexpr int Files = 20000;
    for (int i = 0; i < Files; ++i) {
        QFile file(m_site + QString("/many/%1/%2.html").arg(i % 100).arg(i));
        if (i < 100)
            QDir().mkpath(QFileInfo(file).path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // The status line on a terminal tells when the scan has begun.
    TTerminal terminal;
    auto upload = terminal.Run("upload|" + project, true);
    QElapsedTimer waited;
    waited.start();
    while (!terminal.Shown().contains("Scaning local folders") && waited.elapsed() < 30000)
        QThread::msleep(1);
    upload->Signal(SIGINT);
    const TCliResult result = upload->Finish();
    EXPECT_EQ(result.ExitCode, 3) << result.Out.toStdString();
    EXPECT_TRUE(terminal.Shown().contains("Operation was aborted by user"));
    EXPECT_FALSE(result.Out.contains("connecting to")) << result.Out.toStdString();
    EXPECT_TRUE(server->ProtocolLog().filter("USER").isEmpty());
    // The scan stopped part-way, with files of the site's top folder listed as needing upload.
    const QRegularExpressionMatch match
        = QRegularExpression("^([0-9]+) of ([0-9]+) files").match(result.Last());
    ASSERT_TRUE(match.hasMatch()) << result.Out.toStdString();
    EXPECT_GT(match.captured(1).toInt(), 0);
    EXPECT_LT(match.captured(2).toInt(), Files + 4);
}

// Two runs of one project started together, as a scheduled job that outlasts its interval meets
// the next one: one runs, the other is refused at once naming it, and the server, the site and
// the records end in step every time. One slow file keeps the runs overlapping.
TEST_F(Cli, TwoRunsOfOneProjectNeverRunTogether)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 64 * 1024; // the slow file takes about two seconds
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    const QRegularExpression refusal("^zandrel-cli: The project "
                                     + QRegularExpression::escape(project)
                                     + " is in use by zandrel-cli \\(process ([0-9]+)\\)\n$");
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 20; ++i)
            WriteWholeFile(m_site + QString("/pages/f%1.html").arg(i),
                           QByteArray::number(round * 100 + i).repeated(i + 1));
        WriteWholeFile(m_site + "/slow.bin", QByteArray(160 * 1024, char('a' + round)));
        for (const QString &file : SiteTree().keys())
            SetFileAge(m_site + '/' + file, 86400 - round * 60);
        TCli first("upload|" + project), second("upload|" + project);
        const TCliResult results[] = {first.Finish(), second.Finish()};
        const qint64 pids[] = {first.Pid(), second.Pid()};
        const int ran = results[0].ExitCode == 0 ? 0 : 1;
        ASSERT_EQ(results[ran].ExitCode, 0) << round << results[ran].Err.toStdString();
        EXPECT_TRUE(results[ran].Lines().contains(
                        "0 folder(s) have been created and 25 file(s) have been uploaded")
                    || round == 0)
            << round;
        const TCliResult &refused = results[1 - ran];
        EXPECT_EQ(refused.ExitCode, 2) << round;
        const QRegularExpressionMatch match = refusal.match(refused.Err);
        ASSERT_TRUE(match.hasMatch()) << round << refused.Err.toStdString();
        EXPECT_EQ(match.captured(1).toLongLong(), pids[ran]);
        EXPECT_TRUE(refused.Out.isEmpty());
        ASSERT_EQ(TreeOf(server->Root), SiteTree()) << round;
        // Every file is recorded as in step, and is.
        ASSERT_EQ(RunCli("refresh|--list|" + project).Lines().size(), 1) << round;
    }
}

// A run killed in the middle of a safe upload: its lock goes with it, so the next run goes
// ahead; the copy it left on the server is removed by the next server scan, never downloaded,
// and the next upload puts everything in step.
TEST_F(Cli, AKilledRunsLockIsTakenOverAndItsCopyRemoved)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 32 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    WriteWholeFile(m_site + "/big.bin", QByteArray(256 * 1024, 'k')); // about 8 s
    TCli killed("upload|" + project);
    ASSERT_TRUE(killed.WaitFor("big.bin", 1, true));
    QThread::msleep(500);
    // While it runs, any other run of the project is refused.
    const TCliResult refused = RunCli("refresh|" + project);
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_EQ(refused.Err, QString("zandrel-cli: The project %1 is in use by zandrel-cli "
                                   "(process %2)\n")
                               .arg(project)
                               .arg(killed.Pid()));
    killed.Signal(SIGKILL);
    killed.Finish();
    EXPECT_TRUE(ReadWholeFile(TProjectLock::LockFileName(project))
                    .startsWith(QByteArray::number(killed.Pid()) + " zandrel-cli\n"));
    const QStringList copies
        = QDir(server->Root).entryList({"zandrel-upload-*.tmp"}, QDir::Files | QDir::Hidden);
    ASSERT_EQ(copies.size(), 1);

    const TCliResult download = RunCli("download|--yes-to-all|" + project);
    EXPECT_EQ(download.ExitCode, 0) << download.Err.toStdString();
    EXPECT_TRUE(download.Lines().contains("0 file(s) have been downloaded"))
        << download.Out.toStdString();
    EXPECT_FALSE(QFile::exists(server->Root + "/" + copies[0]));
    EXPECT_FALSE(QFile::exists(m_site + "/" + copies[0]));
    const TCliResult upload = RunCli("upload|" + project);
    EXPECT_EQ(upload.ExitCode, 0) << upload.Err.toStdString();
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines().size(), 1);

    // A window (here this test) that has the project open refuses every command on it.
    TProjectLock window;
    QString unused;
    ASSERT_TRUE(window.Lock(project, unused)) << unused.toStdString();
    const TCliResult busy = RunCli("upload|" + project);
    EXPECT_EQ(busy.ExitCode, 2);
    EXPECT_TRUE(busy.Err.endsWith(QString("is in use by test_cli_commands (process %1)\n")
                                      .arg(QCoreApplication::applicationPid())))
        << busy.Err.toStdString();
}

TEST_F(Cli, AFolderTheUserCannotReadIsAnErrorAndNothingBelowItOnTheServerIsTouched)
{
    // Root reads every folder: the program runs as nobody, in a home of its own, on a site it
    // can reach but for one folder.
    const passwd *nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const QString home = TempPath("nobody");
    for (const char *folder : {"", "/config", "/data"}) {
        ASSERT_TRUE(QDir().mkpath(home + folder));
        ASSERT_EQ(
            ::chown(QFile::encodeName(home + folder).constData(), nobody->pw_uid, nobody->pw_gid),
            0);
    }
    ::chmod(QFile::encodeName(home).constData(), 0700);
    ::chmod(QFile::encodeName(m_temp.path()).constData(), 0755);
    WriteWholeFile(m_site + "/locked/secret.html", QByteArray("secret").repeated(50));
    WriteWholeFile(m_site + "/locked/deeper/x.txt", "x");
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const TCliResult made = RunCliAsNobody(
        home, QString("new|--path|%1|--host|%2|--port|%3|--user|%4|--password-file|%5")
                  .arg(m_site, server->Host)
                  .arg(server->Port)
                  .arg(server->User, PasswordFile(server->Password)));
    ASSERT_EQ(made.ExitCode, 0) << made.Err.toStdString();
    const QString project = made.Last();
    const TCliResult first = RunCliAsNobody(home, "upload|" + project);
    ASSERT_EQ(first.ExitCode, 0) << first.Out.toStdString() << first.Err.toStdString();
    ASSERT_EQ(TreeOf(server->Root), SiteTree());

    const QByteArray locked = QFile::encodeName(m_site + "/locked");
    ASSERT_EQ(::chmod(locked.constData(), 0), 0);
    const QString error = "the folder " + m_site
                          + "/locked/ cannot be read: Permission denied; nothing below it on the "
                            "server is removed or downloaded";
    const TCliResult upload = RunCliAsNobody(home, "upload|" + project);
    EXPECT_EQ(upload.ExitCode, 1);
    EXPECT_EQ(upload.Err, error + "\nOperation was completed with errors\n");
    const auto serverTree = TreeOf(server->Root);
    for (const char *command : {"remove|--yes-to-all|", "download|--yes-to-all|"}) {
        const TCliResult result = RunCliAsNobody(home, command + project);
        EXPECT_EQ(result.ExitCode, 1) << command;
        EXPECT_TRUE(result.Err.startsWith(error + "\n")) << result.Err.toStdString();
        EXPECT_TRUE(result.Lines().contains("the server's entries below /locked are left alone: "
                                            + m_site + "/locked cannot be read"))
            << result.Out.toStdString();
        EXPECT_EQ(TreeOf(server->Root), serverTree) << command;
    }

    // Readable again: the records were kept, and the server is the site.
    ASSERT_EQ(::chmod(locked.constData(), 0755), 0);
    const TCliResult again = RunCliAsNobody(home, "upload|" + project);
    EXPECT_EQ(again.ExitCode, 0) << again.Out.toStdString();
    EXPECT_TRUE(again.Lines().contains("No files for uploading")) << again.Out.toStdString();
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
}

TEST_F(Cli, AFullDiskAtSaveKeepsTheProjectFileAndEndsWithStatusOne)
{
    RUN_ON_TINY_DISK();
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = TinyDisk() + "/site.zdx";
    TProject made;
    made.Load(NewProject(*server));
    made.Nodes("SaveLog")->SetAsBoolean(true); // beside the project: site.log
    made.FileName = project;
    made.Save(false);
    const QByteArray before = ReadWholeFile(project);
    FillDisk(TinyDisk());

    const TCliResult full = RunCli("upload|" + project);
    EXPECT_EQ(full.ExitCode, 1);
    for (const QString &file : {project, TinyDisk() + "/site.log"})
        EXPECT_TRUE(full.Err.contains("Cannot write file " + file + ": No space left on device\n"))
            << full.Err.toStdString();
    EXPECT_TRUE(full.Err.contains("Operation was completed with errors\n"));
    EXPECT_FALSE(full.Out.contains("successfully"));
    EXPECT_EQ(ReadWholeFile(project), before);
    EXPECT_EQ(TreeOf(TinyDisk(), {"filler", "site.zdx.lock"}), (QMap<QString, QByteArray>{{"site.zdx", before}}));

    // With room again the next upload records what the server holds.
    ASSERT_TRUE(QFile::remove(TinyDisk() + "/filler"));
    const TCliResult again = RunCli("upload|" + project);
    EXPECT_EQ(again.ExitCode, 0) << again.Err.toStdString();
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines(),
              QStringList{"0 of 4 files need uploading (1 items are ignored)"});

    // A new project that cannot be written fails with status 1 and leaves no file.
    qputenv("XDG_DATA_HOME", (TinyDisk() + "/data").toUtf8());
    FillDisk(TinyDisk());
    const TCliResult refused = RunCli("new|--path|" + m_site + "|--host|h|--user|u");
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Err, "zandrel-cli: Cannot write file " + ProjectsFolder()
                               + "u@h.zdx: No space left on device\n");
    EXPECT_EQ(QDir(ProjectsFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(Cli, ABlankOrMissingFolderOrAPortThatIsNoNumberIsRefusedBeforeConnecting)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    const QByteArray good = ReadWholeFile(project);
    const QByteArray path = "<Path>\r\n" + m_site.toUtf8() + "\r\n</Path>";
    const QByteArray port = "<Port>\r\n" + QByteArray::number(server->Port) + "\r\n</Port>";
    const std::pair<QByteArray, QString> cases[] = {
        {QByteArray(good).replace(path, "<Path>\r\n</Path>"), "\"Path\" is empty"},
        {QByteArray(good).replace(path, ""), "\"Path\" is empty"},
        {QByteArray(good).replace(path, "<Path>\r\n/no/such/site\r\n</Path>"),
         "The local folder /no/such/site/ does not exist"},
        {QByteArray(good).replace(port, "<Port>\r\nabc\r\n</Port>"), "\"Port\" holds \"abc\""},
        {QByteArray(good).replace(port, "<Port>\r\n99999\r\n</Port>"), "\"Port\" holds \"99999\""},
        {QByteArray(good).replace(port, "<Port>\r\n1e10\r\n</Port>"), "\"Port\" holds \"1e10\""},
    };
    for (const auto &[file, refusal] : cases) {
        WriteWholeFile(project, file);
        for (const char *command : {"upload|", "remove|--yes-to-all|"}) {
            const TCliResult result = RunCli(command + project);
            EXPECT_EQ(result.ExitCode, 2) << refusal.toStdString();
            EXPECT_TRUE(result.Err.startsWith("zandrel-cli: " + project + ": "));
            EXPECT_TRUE(result.Err.contains(refusal)) << result.Err.toStdString();
        }
        EXPECT_EQ(ReadWholeFile(project), file);
    }
    EXPECT_TRUE(server->ProtocolLog().isEmpty()) << server->ProtocolLog().join('\n').toStdString();
    EXPECT_TRUE(TreeOf(server->Root).isEmpty());
}

TEST_F(Cli, NamesWithOuterBlanksAreInStepAfterOneUpload)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    for (const char *name : {" lead.html", "trail.html ", "sub/ both "})
        WriteWholeFile(m_site + "/" + name, name);
    const QString project = NewProject(*server);
    const TCliResult first = RunCli("upload|" + project);
    ASSERT_EQ(first.ExitCode, 0) << first.Err.toStdString();
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines(),
              QStringList{"0 of 7 files need uploading (1 items are ignored)"});
    const qsizetype commandsBefore = server->ProtocolLog().size();
    const TCliResult second = RunCli("upload|" + project);
    EXPECT_EQ(second.ExitCode, 0);
    EXPECT_TRUE(second.Lines().contains("No files for uploading")) << second.Out.toStdString();
    EXPECT_EQ(server->ProtocolLog().size(), commandsBefore);
}
