// The real zandrel-cli: new projects, finding them, usage errors, password sources, questions,
// output and exit statuses; a pseudo terminal for the prompt without echo, the answers and the
// live progress line. The operations are the engine's, proven on both servers by its own tests.
// The child inherits the test's private HOME and XDG folders, so it sees ProjectsFolder().
#include "store/PrjCls.h"
#include "tests/support/FtpRelay.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fcntl.h>
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
// unless it is the `terminal` (or stderr is, when `errorOnTerminal`).
class TCli
{
public:
    explicit TCli(const QString &args, const QString &password = {}, const QString &terminal = {},
                  bool errorOnTerminal = false)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("ZANDREL_PASSWORD");
        if (!password.isEmpty())
            environment.insert("ZANDREL_PASSWORD", password);
        m_process.setProcessEnvironment(environment);
        if (errorOnTerminal)
            m_process.setStandardErrorFile(terminal);
        else if (!terminal.isEmpty())
            m_process.setStandardInputFile(terminal);
        m_process.start(ZANDREL_BINARY_DIR "/app/zandrel-cli", args.split('|', Qt::SkipEmptyParts));
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
};

TCliResult RunCli(const QString &args, const QString &password = {})
{
    return TCli(args, password).Finish();
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
          QString("new|--connections|0"), QString("new|--connections|11"),
          QString("new|--connections|4x"), QString("new|--encryption|yes"),
          QString("new|--trust-certificate|AB:CD")}) {
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
