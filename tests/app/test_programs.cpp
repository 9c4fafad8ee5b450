// The real programs from their command lines: zandrel-cli (on a pseudo terminal where it matters)
// and the desktop zandrel under Xvfb. They see the test's HOME and ProjectsFolder().
#include "ftp/FtpTls.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/FtpRelay.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

struct TCliResult
{
    int ExitCode = -1;
    QString Out, Err;
    QStringList Lines() const { return Out.split('\n', Qt::SkipEmptyParts); }
    QString Last() const { return Lines().value(Lines().size() - 1); }
};

// Whether a run ended with `status` and showed `text` on either output.
::testing::AssertionResult Ended(const TCliResult &result, int status, const QString &text = {})
{
    const bool ended = result.ExitCode == status && (result.Out + result.Err).contains(text);
    return (ended ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
           << "status " << result.ExitCode << ", wanted " << status << ", " << text.toStdString()
           << ":\n" + (result.Out + result.Err).toStdString();
}

bool WaitUntil(const std::function<bool()> &condition)
{
    for (int tries = 0; tries < 3000 && !condition(); ++tries)
        QThread::msleep(10);
    return condition();
}

// zandrel-cli (or with "zandrel" or "xvfb-run" first, the desktop program) with `args` split at
// "|" (leading NAME=VALUE ones set the environment) and ZANDREL_PASSWORD `password`. Stdin is at
// end of file unless a pseudo terminal (tInput; stderr with tError) takes its place. With a `home`,
// it runs as the user nobody living there.
enum TTerminalUse { tNone, tInput, tError };
class TCli
{
public:
    explicit TCli(const QString &args, const QString &password = {}, TTerminalUse terminal = tNone,
                  const QString &home = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"ZANDREL_PASSWORD", "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(name);
        if (!password.isEmpty())
            environment.insert("ZANDREL_PASSWORD", password);
        environment.insert("LSAN_OPTIONS",
                           "suppressions=" ZANDREL_SOURCE_DIR "/tests/support/lsan.supp");
        QStringList arguments = args.split('|');
        arguments.removeAll(QString());
        while (arguments.value(0).contains(QRegularExpression("^[A-Z]+="))) {
            const QString setting = arguments.takeFirst();
            environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
        }
        if (arguments.value(0) == "xvfb-run")
            arguments.insert(1, "-a");
        const int program = arguments.value(0) == "xvfb-run" ? 2 : 0;
        if (arguments.value(program) == "zandrel")
            arguments[program] = ZANDREL_BINARY_DIR "/app/zandrel";
        else
            arguments.insert(program, ZANDREL_BINARY_DIR "/app/zandrel-cli");
        if (!home.isEmpty()) {
            for (const char *name :
                 {"HOME", "TMPDIR", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
                environment.insert(name, home);
            for (const char *wrapper :
                 {"--clear-groups", "--regid=nogroup", "--reuid=nobody", "setpriv"})
                arguments.prepend(wrapper);
        }
        m_process.setProcessEnvironment(environment);
        if (terminal != tNone) {
            m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
            EXPECT_TRUE(m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0);
            ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
            const QString device = QString::fromLocal8Bit(::ptsname(m_master));
            terminal == tInput ? m_process.setStandardInputFile(device)
                               : m_process.setStandardErrorFile(device);
        }
        m_process.start(arguments.takeFirst(), arguments);
        Pid = m_process.processId();
        if (terminal != tInput)
            m_process.closeWriteChannel();
    }
    ~TCli()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
        ::close(m_master);
    }
    // Waits until stderr (or stdout) has shown `text` `count` times.
    bool WaitFor(const QString &text, int count = 1, bool onOutput = false)
    {
        const QString &seen = onOutput ? m_result.Out : m_result.Err;
        WaitUntil([&] { return Read(), seen.count(text) >= count || !m_process.processId(); });
        return seen.count(text) >= count;
    }
    void Signal(int signal) { ::kill(pid_t(Pid), signal); }
    TCliResult Finish()
    {
        if (m_process.waitForFinished(120000) && m_process.exitStatus() == QProcess::NormalExit)
            m_result.ExitCode = m_process.exitCode();
        return Read(), m_result;
    }
    // The terminal: keys typed on it, and all it showed (echoed keys too).
    void Type(const QByteArray &keys)
    {
        EXPECT_EQ(::write(m_master, keys, keys.size()), keys.size());
    }
    QByteArray Shown()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_master, buffer, sizeof buffer)) > 0;)
            m_shown.append(buffer, n);
        return m_shown;
    }
    qint64 Pid = 0;

private:
    void Read()
    {
        m_process.waitForReadyRead(10);
        m_result.Err += QString::fromUtf8(m_process.readAllStandardError());
        m_result.Out += QString::fromUtf8(m_process.readAllStandardOutput());
    }
    QProcess m_process;
    TCliResult m_result;
    int m_master = -1;
    QByteArray m_shown;
};

TCliResult RunCli(const QString &args, const QString &password = {}, const QString &home = {})
{
    return TCli(args, password, tNone, home).Finish();
}

// Each test starts with no projects and a small site with a sub folder, an empty folder and an
// ignored "*.bak" file.
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
    // The password on the first of two CR LF lines.
    QString PasswordFile(const QString &password)
    {
        WriteWholeFile(m_temp.filePath(password),
                       password.toUtf8() + "\r\nsecond line ignored\r\n");
        return m_temp.filePath(password);
    }
    // `new` for the server (through `portGiven`) with `more` arguments, storing the server's
    // password unless `more` is "" or names a password file.
    QString NewProject(const TFtpTestServer &server, QString more = {}, int portGiven = 0,
                       const QString &home = {})
    {
        if (more.isNull() || (!more.isEmpty() && !more.contains("--password-file")))
            more += "|--password-file|" + PasswordFile(server.Password);
        const QString port = QString::number(portGiven ? portGiven : server.Port);
        m_made = RunCli(QStringList{"new|--path", m_site, "--host", server.Host, "--port", port,
                                    "--user", server.User, more}
                            .join('|'),
                        {}, home);
        EXPECT_TRUE(Ended(m_made, 0));
        return m_made.Last();
    }
    QMap<QString, QByteArray> SiteTree() const { return TreeOf(m_site, {"old.bak"}); }

    QTemporaryDir m_temp;
    QString m_site = m_temp.filePath("site");
    TCliResult m_made;
};

TEST_F(Cli, NewWritesTheProjectListFindsItAndUsageErrorsExitWithTwo)
{
    // What the options dialog's OK refuses, with its messages in its order, and usage errors.
    WriteWholeFile(m_temp.filePath("plain-file"), "x");
    const QString site = "new|--path|" + m_site;
    std::vector<std::pair<QString, QString>> refused = {
        {"new|--host=h|--user=u|--path|  ", "Source path must be defined"},
        {"new|--path|" + m_temp.filePath("plain-file") + "|--host=h", "Source path must be exists"},
        {site + "|--host| \t ", "Ftp host must be defined"},
        {site + "|--host=h|--port|99999", "Port must be a number from 1 to 65535"},
        {site + "|--host=h|--port|0|--user=u", "Port must be a number from 1 to 65535"},
        {site + "|--host=h|--user= ", "Ftp login must be defined"},
        {"upload|nobody@h", "zandrel-cli: File \"nobody@h\" not found"}};
    refused.emplace_back("upload|--bogus|-n|x",
                         "unknown option '--bogus'\nTry 'zandrel-cli --help'.");
    refused.emplace_back("upload|-n|-l|x",
                         "option '-l' does not apply to 'upload'\nTry 'zandrel-cli --help'.");
    refused.emplace_back("refresh|--|-n", "zandrel-cli: File \"-n\" not found");
    for (const char *args :
         {"", "publish|x", "upload|a|b", "upload|--yes-to-all|a", "remove|--max-delete|2x|a",
          "upload|-q|-v|a", "set|a|port", "remove|--yes-to-all|--no-to-all|a", "new|--port|21a",
          "new|--port|1e10", "new|--connections|0", "new|--connections|11", "new|--connections|4x",
          "new|--encryption|yes", "new|--trust-certificate|AB:CD"})
        refused.emplace_back(args, "Try 'zandrel-cli --help'.");
    for (const auto &[args, message] : refused) {
        const TCliResult result = RunCli(args);
        EXPECT_TRUE(Ended(result, 2) && result.Out.isEmpty()) << args.toStdString();
        EXPECT_TRUE(result.Err.endsWith(message + '\n')) << result.Err.toStdString();
    }
    EXPECT_FALSE(QDir(ProjectsFolder()).exists());

    const TCliResult made = RunCli(
        site + "|--host|  127.0.0.1 |--user=me|--port|2121|--active|--remote-path|/www|--timeout|30"
        + "|--ignore|tmp\\*|--ignore|*.BAK|--ignore|a.log|--password-file|"
        + PasswordFile("secret"));
    ASSERT_TRUE(Ended(made, 0));
    EXPECT_EQ(made.Out, ProjectsFolder() + "me@127.0.0.1.zdx\n");
    // Defaults first, then the keys in the order the dialog first reads them; "*.BAK" is the
    // default row again and the rows are sorted; "secret" XOR 0x5A is ")?9(?.".
    EXPECT_EQ(
        ReadWholeFile(made.Last()),
        ReadWholeFile(TestDataPath("cli_new_project.zdx")).replace("@SITE@", m_site.toUtf8()));
    // The same login and host again: the first free suffix, set apart from the address.
    const QString second = RunCli(site + "|--host|127.0.0.1|--user|me|--connections|10").Last();
    EXPECT_EQ(second, ProjectsFolder() + "me@127.0.0.1 (2).zdx");
    EXPECT_TRUE(ReadWholeFile(second).contains("<Connections>\r\n10\r\n</Connections>"));

    // Found by file or title, exact first, then ignoring case; listed by title.
    QDir(ProjectsFolder()).removeRecursively();
    QStringList files;
    for (const char *title : {"Zed|--host|b", "ab|--host|h", "AB|--host|h", "alpha|--host|c"})
        files << RunCli(site + "|--user|" + title).Last();
    EXPECT_EQ(RunCli("list").Lines(), QStringList({"AB@h\t" + files[2], "ab@h\t" + files[1],
                                                   "alpha@c\t" + files[3], "Zed@b\t" + files[0]}));
    // A refresh needs no password and prints only the statistics line.
    for (const char *project : {"ab@h", "zed@B"})
        EXPECT_EQ(RunCli(QString("refresh|") + project).Lines().size(), 1) << project;
    EXPECT_TRUE(Ended(RunCli("refresh|Ab@H"), 2, "more than one project"));

    // Every option as `set` takes it, checked as the dialog checks it; `show` prints them back.
    const QString fingerprint = QString("ab").repeated(32);
    const std::pair<QString, QString> changes[]
        = {{"port|2121", ""},
           {"port|99999", "Port must be a number from 1 to 65535"},
           {"host| ", "Ftp host must be defined"},
           {"path|/no/such", "Source path must be exists"},
           {"path|" + QDir::current().relativeFilePath(m_temp.path()), ""},
           {"connections|7", ""},
           {"connections|11", "give a number from 1 to 10"},
           {"timeout|0", "give a number of seconds"},
           {"encryption|require", ""},
           {"encryption|yes", "give require, auto"},
           {"passive|no", ""},
           {"passive|maybe", "give yes or no"},
           {"max-log-size|1234567", "at most 6 digits"},
           {"add-ignore|*.tmp", ""},
           {"remove-ignore|*.BAK", ""},
           {"remove-ignore|*.bak", "holds no such mask"},
           {"trusted-certificate|" + fingerprint.toUpper(), ""},
           {"trusted-certificate|AB:CD", "SHA-256"},
           {"password|x", "zandrel-cli passwd"},
           {"colour|red", "unknown option \"colour\""}};
    for (const auto &[change, refusal] : changes) {
        const QByteArray before = ReadWholeFile(files[1]);
        const TCliResult result = RunCli("set|ab@h|" + change);
        EXPECT_TRUE(Ended(result, refusal.isEmpty() ? 0 : 2, refusal)) << change.toStdString();
        EXPECT_TRUE(refusal.isEmpty() || ReadWholeFile(files[1]) == before) << change.toStdString();
    }
    const QStringList shown = RunCli("show|ab@h").Lines();
    for (const char *line : {"port=2121", "connections=7", "encryption=require", "passive=no",
                             "ignore=*.tmp", "password=none", "host=h"})
        EXPECT_TRUE(shown.contains(line)) << line;
    EXPECT_TRUE(shown.contains("trusted-certificate=" + NormalizedFingerprint(fingerprint)));
    EXPECT_EQ(shown.filter(QRegularExpression("^ignore=")).size(), 1);
    EXPECT_TRUE(shown.contains("path=" + m_temp.path())) << shown.join('\n').toStdString();
}

TEST_F(Cli, OperationsRefuseABadProjectRecordEveryNameAndAskOnTheTerminal)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    // A blank or missing folder or a port that is no number: refused before connecting.
    const QByteArray good = ReadWholeFile(project);
    const QByteArray path = "<Path>\r\n" + m_site.toUtf8() + "\r\n</Path>";
    const QByteArray port = "<Port>\r\n" + QByteArray::number(server->Port) + "\r\n</Port>";
    const std::tuple<QByteArray, QByteArray, QString> cases[]
        = {{path, "<Path>\r\n</Path>", "\"Path\" is empty"},
           {path, "", "\"Path\" is empty"},
           {path, "<Path>\r\n/no/such\r\n</Path>", "The local folder /no/such/ does not exist"},
           {port, "<Port>\r\nabc\r\n</Port>", "\"Port\" holds \"abc\""},
           {port, "<Port>\r\n99999\r\n</Port>", "\"Port\" holds \"99999\""},
           {port, "<Port>\r\n1e10\r\n</Port>", "\"Port\" holds \"1e10\""}};
    for (const auto &[from, to, refusal] : cases) {
        const QByteArray file = QByteArray(good).replace(from, to);
        WriteWholeFile(project, file);
        const TCliResult result = RunCli("upload|" + project);
        EXPECT_TRUE(Ended(result, 2, refusal) && result.Err.startsWith("zandrel-cli: " + project));
        EXPECT_EQ(ReadWholeFile(project), file);
    }
    WriteWholeFile(project, good);
    EXPECT_TRUE(server->ProtocolLog().isEmpty());

    // Refresh lists the names that need upload, in scan order, after the statistics.
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines(),
              QStringList({"4 of 4 files (4.3 KB) need uploading (1 items are ignored)",
                           "index.html", "style.css", "img/logo.png", "sub/page.html"}));
    for (const char *name : {" lead.html", "trail.html ", "sub/ both "})
        WriteWholeFile(m_site + "/" + name, name);
    ASSERT_TRUE(Ended(RunCli("set|" + project + "|protect-server-changes|on"), 0));
    const TCliResult first = RunCli("upload|" + project);
    ASSERT_TRUE(Ended(first, 0));
    EXPECT_TRUE(first.Err.isEmpty()) << first.Err.toStdString(); // no progress line either
    EXPECT_EQ(first.Lines().mid(first.Lines().size() - 3),
              QStringList({"3 folder(s) have been created and 7 file(s) have been uploaded",
                           "Operation was successfully completed",
                           "0 of 7 files need uploading (1 items are ignored)"}));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    // The records reached the project file: nothing needs upload, and no connection is made;
    // nor for a question with no terminal to ask on and no answer given.
    const qsizetype commandsBefore = server->ProtocolLog().size();
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines().size(), 1);
    EXPECT_TRUE(Ended(RunCli("upload|" + project), 0, "No files for uploading"));
    WriteWholeFile(server->Root + "/olddir/x.txt", "x");
    EXPECT_TRUE(Ended(RunCli("remove|" + project), 2, "--yes-to-all"));
    EXPECT_TRUE(Ended(RunCli("download|" + project), 2, "--yes-to-all"));
    EXPECT_EQ(server->ProtocolLog().size(), commandsBefore);
    // Compare names what the server lacks, what changed here and what only the server has.
    ASSERT_TRUE(QFile::remove(server->Root + "/sub/page.html"));
    WriteWholeFile(m_site + "/index.html", "edited\n");
    SetFileAge(m_site + "/index.html", 3600);
    EXPECT_EQ(RunCli("compare|--list|" + project)
                  .Lines()
                  .filter(QRegularExpression("^(missing|changed|server-only) ")),
              QStringList({"missing sub/page.html", "changed index.html", "server-only olddir/",
                           "server-only olddir/x.txt"}));
    // A file changed on the server since its upload stays there, unless forced.
    WriteWholeFile(server->Root + "/style.css", "edited there");
    WriteWholeFile(m_site + "/style.css", "edited here");
    EXPECT_TRUE(Ended(RunCli("upload|" + project), 1,
                      "the file /style.css has not been replaced: it has been changed on the "
                      "server since its last upload: its size is 12 bytes, was "));
    EXPECT_EQ(ReadWholeFile(server->Root + "/style.css"), "edited there");
    EXPECT_TRUE(Ended(RunCli("upload|-n|" + project), 0,
                      "[dry run] the file /style.css has not been replaced: it has been changed"));
    EXPECT_TRUE(Ended(RunCli("upload|-f|" + project), 0, "0 folder(s) have been created and 1 "));
    EXPECT_EQ(ReadWholeFile(server->Root + "/style.css"), "edited here");
    EXPECT_TRUE(Ended(RunCli("remove|--no-to-all|" + project), 0, " 0 file(s) have been removed"));
    EXPECT_TRUE(
        Ended(RunCli("download|--yes-to-all|" + project), 0, "\n1 file(s) have been downloaded"));
    EXPECT_EQ(ReadWholeFile(m_site + "/olddir/x.txt"), "x");

    // On a terminal, three server-only files: a key that is no answer asks again, then n, y and n
    // remove the second only. Then Cancel, No to All, and end of input (Cancel) change nothing.
    for (const char *file : {"/a.txt", "/b.txt", "/c.txt"})
        WriteWholeFile(server->Root + file, "extra");
    const qsizetype onServer = TreeOf(server->Root).size();
    const std::tuple<const char *, QList<QByteArray>, int, const char *> runs[]
        = {{"remove|", {"Y\n", "n\n", "y\n", "n\n"}, 0, "and 1 file(s) have been removed"},
           {"remove|", {"c\n"}, 3, "Operation was aborted by user"},
           {"download|", {"o\n"}, 0, "\n0 file(s) have been downloaded"},
           {"download|", {"\x04"}, 3, "Operation was aborted by user"}};
    for (const auto &[command, keys, status, line] : runs) {
        TCli run(command + project, {}, tInput);
        for (int i = 0; i < keys.size(); ++i) {
            ASSERT_TRUE(run.WaitFor(
                "[y] Yes, [n] No, [a] Yes to All, [N/o] No to All, [c] Cancel: ", i + 1));
            run.Type(keys[i]);
        }
        EXPECT_TRUE(Ended(run.Finish(), status, line));
        EXPECT_EQ(TreeOf(server->Root).size(), onServer - 1) << command;
    }
}

// A dry run prints "[dry run] " and each step line of the real run, which then takes exactly those
// steps; the remote folder, missing at first, is made. Both runs as --json, parsed here. Removal
// stops before any DELE beyond --max-delete, and refuses to empty the site from an empty folder.
TEST_F(Cli, DryRunsChangeNothingAndListTheStepsTheRunThenTakes)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server, "--remote-path|/www/new");
    const auto steps = [](const TCliResult &run, bool dry) {
        QStringList found;
        QJsonObject summary;
        for (const QString &line : run.Lines()) {
            QJsonParseError error;
            const QJsonObject event = QJsonDocument::fromJson(line.toUtf8(), &error).object();
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            if (event["event"] == "summary")
                summary = event;
            if (event.contains("action") && event["dry_run"].toBool() == dry)
                found << event["action"].toString() + ' ' + event["path"].toString();
        }
        EXPECT_EQ(summary["status"], 0);
        EXPECT_EQ(summary["dry_run"], dry);
        found.sort();
        return found;
    };
    const QRegularExpression writes("^(STOR|APPE|DELE|MKD|RMD|RNFR|RNTO|SITE|MFMT)");
    const std::tuple<QString, QStringList, int> runs[]
        = {{"upload|", {}, 9}, // /www/, /www/new/, 3 folders, 4 files
           {"download|-y|", {"/extra/a.txt", "/b.txt"}, 3},
           {"remove|-y|", {"/c.txt", "/d/e.txt"}, 3}};
    for (const auto &[command, serverOnly, count] : runs) {
        for (const QString &file : serverOnly)
            WriteWholeFile(server->Root + "/www/new" + file, "only there");
        const auto serverTree = TreeOf(server->Root);
        const auto siteTree = TreeOf(m_site);
        const QByteArray records = ReadWholeFile(project);
        const qsizetype logFrom = server->ProtocolLog().size();
        const QStringList planned = steps(RunCli(command + "--dry-run|--json|" + project), true);
        EXPECT_EQ(TreeOf(server->Root), serverTree);
        EXPECT_EQ(TreeOf(m_site), siteTree);
        EXPECT_EQ(ReadWholeFile(project), records);
        EXPECT_TRUE(server->ProtocolLog().mid(logFrom).filter(writes).isEmpty());
        EXPECT_EQ(planned.size(), count) << planned.join('\n').toStdString();
        EXPECT_EQ(steps(RunCli(command + "--json|" + project), false), planned)
            << command.toStdString();
    }
    EXPECT_EQ(TreeOf(server->Root + "/www/new"), TreeOf(m_site, {"old.bak"}));

    for (const char *file : {"/x/1.txt", "/x/2.txt", "/x/3.txt"})
        WriteWholeFile(server->Root + "/www/new" + file, "only there");
    const auto serverTree = TreeOf(server->Root);
    const qsizetype logFrom = server->ProtocolLog().size();
    EXPECT_TRUE(Ended(RunCli("remove|-y|--max-delete|3|" + project), 1,
                      "4 entries would be removed from the server, more than the limit of 3: "
                      "nothing has been removed\n"));
    EXPECT_TRUE(server->ProtocolLog().mid(logFrom).filter(writes).isEmpty());
    // An emptied local folder with records of an upload: refused unless forced.
    QDir(m_site).removeRecursively();
    QDir().mkpath(m_site);
    EXPECT_TRUE(Ended(RunCli("remove|-y|" + project), 2, "give --force"));
    EXPECT_EQ(TreeOf(server->Root), serverTree);
    const TCliResult forced = RunCli("remove|-q|-f|-y|--max-delete=99|" + project);
    EXPECT_TRUE(Ended(forced, 0) && forced.Out.isEmpty()) << forced.Out.toStdString();
    EXPECT_EQ(TreeOf(server->Root).keys(), QStringList({"www/", "www/new/"}));
}

// An untrusted certificate is refused with its details until the project trusts it; a project
// that had TLS refuses to log in without it unless plain FTP is allowed for the run.
TEST_F(Cli, TlsIsTrustedOnlyAsToldAndNeverDroppedSilently)
{
    TPyftpdlibOptions options;
    options.Tls = true;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    TFtpRelay relay(server->Port);
    const QString fingerprint = server->CertificateFingerprint;
    const QString first = NewProject(*server, {}, relay.Host.Port);
    const TCliResult refused = RunCli("upload|" + first);
    for (const QString &detail :
         {"SHA-256 fingerprint: " + fingerprint, "Subject: " + QString(),
          "--trust-certificate " + fingerprint, "Valid from " + QString(),
          "  zandrel-cli set " + first + " trusted-certificate " + fingerprint + "\n"})
        EXPECT_TRUE(Ended(refused, 1, detail));
    EXPECT_TRUE(server->ProtocolLog().filter("USER").isEmpty()); // no login
    // As the refusal suggests: `set` trusts it, and the upload logs in over TLS.
    EXPECT_TRUE(Ended(RunCli("set|" + first + "|trusted-certificate|" + fingerprint), 0));
    EXPECT_TRUE(Ended(RunCli("upload|" + first), 0, "\nconnected with TLS 1."));

    // Trusted by the fingerprint typed without colons: the upload goes over TLS.
    const QString hex = QString(fingerprint).remove(':').toLower();
    const QString project = NewProject(*server, "--trust-certificate|" + hex, relay.Host.Port);
    const TCliResult upload = RunCli("upload|" + project);
    EXPECT_TRUE(Ended(upload, 0));
    EXPECT_EQ(upload.Lines().filter(QRegularExpression("^connected with TLS 1\\.[23]$")).size(), 1);
    EXPECT_EQ(TreeOf(server->Root), SiteTree());

    // The relay now strips AUTH TLS: no login, status 2, until plain FTP is allowed for a run.
    relay.StripTls = true;
    WriteWholeFile(m_site + "/index.html", "changed");
    const TCliResult stripped = RunCli("upload|" + project);
    EXPECT_TRUE(Ended(stripped, 2, "downgrade") && stripped.Err.contains("--allow-plain"));
    EXPECT_FALSE(relay.Sent().contains("USER") || relay.Sent().contains("PASS"));
    EXPECT_TRUE(Ended(RunCli("upload|--allow-plain|" + project), 0));
    EXPECT_TRUE(relay.Sent().contains("PASS " + server->Password.toUtf8()));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
}

// SFTP projects from --protocol or a URL. A host key known_hosts lacks is refused with its
// fingerprint until --trust-host-key (then kept in known_hosts) or --accept-host-key (this run
// only) names it; a changed one is refused whatever is given, naming both.
TEST_F(Cli, SftpProjectsAndHostKeysAsTheCommandLineSays)
{
    const QString site = "new|--path|" + m_site + "|";
    const std::pair<QString, QStringList> made[]
        = {{"--protocol|sftp|--host|h|--user|u", {"Protocol>\r\nsftp\r", "Port>\r\n22\r"}},
           {"--host|sftp://me@h:2222/~/www|--user|you",
            {"Protocol>\r\nsftp\r", "Port>\r\n2222\r", "User>\r\nyou\r", "RemotePath>\r\nwww\r"}},
           {"--host|ftps://me@h/www",
            {"Port>\r\n990\r", "Encryption>\r\nimplicit\r", "User>\r\nme\r",
             "RemotePath>\r\n/www\r"}}};
    for (const auto &[args, keys] : made) {
        const QString file = ReadWholeFile(RunCli(site + args).Last());
        for (const QString &key : keys)
            EXPECT_TRUE(file.contains("<" + key))
                << args.toStdString() << ": " << key.toStdString();
        EXPECT_EQ(file.contains("<Protocol>"), args.contains("sftp")) << args.toStdString();
    }
    // `set` takes a URL as well; the port follows the protocol when it was the old one's own.
    const QString changed = RunCli(site + "--host|h|--user|u").Last();
    EXPECT_TRUE(Ended(RunCli("set|" + changed + "|host|sftp://h2/~/w"), 0));
    for (const char *key :
         {"Protocol>\r\nsftp\r", "Port>\r\n22\r", "Host>\r\nh2\r", "RemotePath>\r\nw\r"})
        EXPECT_TRUE(ReadWholeFile(changed).contains(QByteArray("<") + key)) << key;
    for (const QString &args : QStringList{
             "--host|sftp://me:secret@h", "--host|gopher://h|--user|u", "--protocol|ssh|--host|h",
             "--protocol|ftp|--host|sftp://u@h", "--host|sftp://u@h|--active",
             "--host|h|--user|u|--trust-host-key|SHA256:" + QString(43, 'A'),
             "--host|sftp://u@h|--trust-host-key|SHA256:x"}) {
        const TCliResult refused = RunCli(site + args);
        EXPECT_TRUE(Ended(refused, 2, "Try 'zandrel-cli --help'.")
                    && !refused.Err.contains("secret"))
            << args.toStdString();
    }

    auto server = StartSshd();
    ASSERT_TRUE(server);
    UseSshdKeys(*server);
    const QString knownHosts = QDir::homePath() + "/.ssh/known_hosts";
    const QString key = server->HostKeyFingerprint;
    const auto newProject = [&](const QString &more) {
        return RunCli(site + "--host|sftp://" + server->User + "@" + server->Host + ":"
                      + QString::number(server->Port) + more);
    };
    const QString project = newProject({}).Last();
    WriteWholeFile(knownHosts, "");
    const TCliResult unknown = RunCli("upload|" + project);
    for (const QString &hint :
         {"fingerprint: " + key, "upload --trust-host-key " + key + " " + project,
          "upload --accept-host-key " + key + " " + project})
        EXPECT_TRUE(Ended(unknown, 1, hint));
    EXPECT_TRUE(Ended(RunCli("upload|--accept-host-key|SHA256:" + QString(43, 'A') + "|" + project),
                      1, "not SHA256:AAA"));
    EXPECT_TRUE(Ended(RunCli("upload|--accept-host-key|" + key + "|" + project), 0,
                      "/ to sftp://" + server->Host + "\n"));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    EXPECT_EQ(ReadWholeFile(knownHosts), "");
    EXPECT_TRUE(Ended(RunCli("compare|" + project), 1, "not in known_hosts")); // nor in the project
    // Trusted by `new` (the server must show that key), or by a run: then kept, and honoured.
    EXPECT_TRUE(
        Ended(newProject("|--trust-host-key|SHA256:" + QString(43, 'A')), 1, "not SHA256:AAA"));
    EXPECT_TRUE(Ended(newProject("|--trust-host-key|" + key), 0));
    EXPECT_TRUE(ReadWholeFile(knownHosts).contains(server->HostKey.section(' ', 1).toUtf8()));
    EXPECT_TRUE(Ended(RunCli("compare|" + project), 0));
    WriteWholeFile(knownHosts, "");
    EXPECT_TRUE(Ended(RunCli("compare|--trust-host-key|" + key.mid(7) + "|" + project), 0));
    EXPECT_TRUE(Ended(RunCli("compare|" + project), 0));

    // Changed: known_hosts holds another key for the server.
    const QString other = QCryptographicHash::hash(
                              QByteArray::fromBase64(server->OtherKey.section(' ', 1).toLatin1()),
                              QCryptographicHash::Sha256)
                              .toBase64(QByteArray::OmitTrailingEquals);
    WriteWholeFile(knownHosts, KnownHostsLine(*server, server->OtherKey).toUtf8());
    for (const QString &option :
         {QString(), "--trust-host-key|" + key, "--accept-host-key|" + key}) {
        const TCliResult changed = RunCli("compare|" + option + "|" + project);
        EXPECT_TRUE(Ended(changed, 1, other + " for ") && changed.Err.contains("shows " + key));
    }
    EXPECT_TRUE(Ended(newProject("|--trust-host-key|" + key), 1, "has changed"));
    EXPECT_EQ(ReadWholeFile(knownHosts), KnownHostsLine(*server, server->OtherKey).toUtf8());
}

// A password from a file, the environment or a prompt without echo. A stale stored password:
// the one given for the run wins, and passwd replaces the stored one without it.
TEST_F(Cli, PasswordComesFromAFileTheEnvironmentOrAPromptWithoutEcho)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server, "");
    EXPECT_TRUE(Ended(RunCli("upload|" + project), 2, "ZANDREL_PASSWORD"));
    // The file comes before the environment; a wrong password is an error of the operation.
    const QString wrong = "upload|--password-file|" + PasswordFile("wrong") + "|" + project;
    EXPECT_TRUE(Ended(RunCli(wrong, server->Password), 1, "Operation was completed with errors\n"));
    EXPECT_TRUE(Ended(RunCli("upload|" + project, server->Password), 0));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());

    // Ctrl+C at the prompt aborts, end of input is no password, a typed one is not echoed.
    WriteWholeFile(m_site + "/index.html", "edited again\n");
    SetFileAge(m_site + "/index.html", 3600);
    for (const auto &[keys, status, line] :
         {std::tuple<QByteArray, int, QString>{"", 3, ""},
          {"\x04", 2, "no password entered"},
          {server->Password.toUtf8() + "\n", 0, "and 1 file(s) have been uploaded"}}) {
        TCli run("upload|" + project, {}, tInput);
        ASSERT_TRUE(run.WaitFor("Enter password for connecting to FTP server: "));
        keys.isEmpty() ? run.Signal(SIGINT) : run.Type(keys);
        EXPECT_TRUE(Ended(run.Finish(), status, line));
        EXPECT_FALSE(run.Shown().contains(server->Password.toUtf8()));
    }
    const auto stored = [](const QString &fileName) {
        TProject saved;
        saved.Load(fileName);
        return saved.Nodes("Pass")->AsPassword();
    };
    EXPECT_EQ(stored(project), ""); // a typed password is never written

    const QString stale = NewProject(*server, "--password-file|" + PasswordFile("stale"));
    // Without a keyring (no session bus) one line says where the password is.
    EXPECT_TRUE(m_made.Err.endsWith("the FTP password is kept scrambled in the project file "
                                    + stale + "\n"));
    ASSERT_EQ(stored(stale), "stale");
    EXPECT_TRUE(Ended(RunCli("upload|" + stale), 1, "Authentication failed."));
    const TCliResult given = RunCli("upload|" + stale, server->Password);
    EXPECT_TRUE(Ended(given, 0) && given.Err.isEmpty() && stored(stale) == "stale");
    EXPECT_TRUE(Ended(RunCli("passwd|" + stale, server->Password), 0,
                      stale + ": the FTP password is kept scrambled in the project file\n"));
    EXPECT_EQ(stored(stale), server->Password);
}

// The live line goes to a terminal only; an interrupt aborts with status 3.
TEST_F(Cli, ProgressOnATerminalOnlyAndInterruptAbortsWithThree)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 100 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    WriteWholeFile(m_site + "/movie.bin", QByteArray(300 * 1024, 'p'));
    const QString project = NewProject(*server);
    TCli run("upload|" + project, {}, tError);
    const TCliResult result = run.Finish();
    EXPECT_TRUE(Ended(result, 0, "movie.bin\n"));
    const QByteArray shown = run.Shown();
    // Overwritten in place, and wiped at the end.
    EXPECT_TRUE(shown.contains("% Estimated time left: ") && shown.endsWith("\r\x1b[K"))
        << shown.toStdString();
    EXPECT_FALSE(result.Out.contains('\r') || result.Out.contains("Estimated"));
    // TERM=dumb: a plain line every few seconds; -v adds the figures, --debug the FTP dialogue.
    WriteWholeFile(m_site + "/movie.bin", QByteArray(500 * 1024, 'q'));
    TCli dumb("TERM=dumb|upload|-v|--debug|" + project, {}, tError);
    const TCliResult plain = dumb.Finish();
    const QByteArray lines = dumb.Shown();
    EXPECT_TRUE(Ended(plain, 0, " FTP command(s), "));
    EXPECT_TRUE(lines.contains("% Estimated time left: ") && lines.contains("---> PASS ****\r\n")
                && lines.contains("<--- 230 ") && !lines.contains("\x1b")
                && !lines.contains(server->Password.toUtf8()))
        << lines.toStdString();

    // A closing terminal's hang-up (the shell passes its own on, and the kernel sends another) in
    // a transfer aborts as Ctrl+C does: status 3, the records whole, the file still to upload.
    WriteWholeFile(m_site + "/big.bin", QByteArray(4 * 1024 * 1024, 'z'));
    TCli upload("upload|" + project);
    ASSERT_TRUE(upload.WaitFor("big.bin", 1, true));
    QThread::msleep(500); // well inside the 40-second transfer
    upload.Signal(SIGHUP);
    upload.Signal(SIGHUP);
    EXPECT_TRUE(Ended(upload.Finish(), 3, "Operation was aborted by user"));
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines().mid(1), QStringList{"big.bin"});

    // Ctrl+C in the local scan: nothing connects, the statistics so far are printed.
    for (int i = 0; i < 20000; ++i) {
        QFile file(m_site + QString("/many/%1/%2.html").arg(i % 100).arg(i));
        ASSERT_TRUE((i >= 100 || QDir().mkpath(QFileInfo(file).path()))
                    && file.open(QIODevice::WriteOnly));
    }
    const qsizetype logins = server->ProtocolLog().filter("USER").size();
    TCli scan("upload|" + project, {}, tError);
    WaitUntil([&] { return scan.Shown().contains("Scaning local folders"); });
    scan.Signal(SIGINT);
    const TCliResult stopped = scan.Finish();
    EXPECT_TRUE(Ended(stopped, 3) && scan.Shown().contains("Operation was aborted by user"));
    EXPECT_EQ(server->ProtocolLog().filter("USER").size(), logins);
    EXPECT_TRUE(stopped.Last().contains(QRegularExpression("^[1-9][0-9]* of [0-9]+ files")));
}

// Two runs of one project started together, as a scheduled job that outlasts its interval meets
// the next one: one runs, the other is refused at once naming it, and all ends in step every
// time. A killed run leaves whole records, and its lock is taken over.
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
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        for (int i = 0; i < 20; ++i)
            WriteWholeFile(m_site + QString("/pages/f%1.html").arg(i),
                           QByteArray::number(round * 100 + i).repeated(i + 1));
        WriteWholeFile(m_site + "/slow.bin", QByteArray(160 * 1024, char('a' + round)));
        for (const QString &file : SiteTree().keys())
            SetFileAge(m_site + '/' + file, 86400 - round * 60);
        TCli runs[2] = {TCli("upload|" + project), TCli("upload|" + project)};
        const TCliResult results[] = {runs[0].Finish(), runs[1].Finish()};
        const int ran = results[0].ExitCode == 0 ? 0 : 1;
        // The 21 rewritten files go; the 4 only touched are brought up to date.
        ASSERT_TRUE(Ended(results[ran], 0, round ? "and 21 file(s) have been uploaded" : ""));
        const QRegularExpressionMatch match = refusal.match(results[1 - ran].Err);
        ASSERT_TRUE(Ended(results[1 - ran], 2) && match.hasMatch()
                    && results[1 - ran].Out.isEmpty())
            << results[1 - ran].Err.toStdString();
        EXPECT_EQ(match.captured(1).toLongLong(), runs[ran].Pid);
        ASSERT_EQ(TreeOf(server->Root), SiteTree());
        ASSERT_EQ(RunCli("refresh|--list|" + project).Lines().size(), 1);
    }

    WriteWholeFile(m_site + "/big.bin", QByteArray(512 * 1024, 'k')); // about 7 s
    TCli killed("upload|" + project);
    ASSERT_TRUE(killed.WaitFor("big.bin", 1, true));
    QThread::msleep(500);
    const QString link = m_temp.filePath("link.zdx"); // another name of the project file
    ASSERT_TRUE(QFile::link(project, link));
    EXPECT_TRUE(Ended(RunCli("refresh|" + link), 2, QString("(process %1)").arg(killed.Pid)));
    killed.Signal(SIGKILL);
    killed.Finish();
    // The copy left on the server is removed by the next scan, not downloaded.
    EXPECT_TRUE(
        Ended(RunCli("download|--yes-to-all|" + project), 0, "\n0 file(s) have been downloaded"));
    EXPECT_TRUE(Ended(RunCli("upload|" + project), 0, " and 1 file(s) have been uploaded"));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
}

// watch: the site at once, then each save within seconds; a rebuild of many files is one upload,
// a folder made meanwhile is watched, an ignored file uploads nothing; the project stays locked.
// Ctrl+C in a transfer ends with status 0 and the unfinished file unrecorded.
TEST_F(Cli, WatchUploadsEachSaveOnceAndCtrlCEndsCleanly)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 256 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    // More folders than the watches allowed (a user namespace's limit of 3): refused at the start,
    // naming the limit and how to raise it.
    QProcess limited;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZANDREL_PASSWORD", server->Password);
    limited.setProcessEnvironment(environment);
    limited.start("unshare",
                  {"-U", "-r", "-p", "-f", "--mount-proc", "sh", "-c",
                   "echo 3 >/proc/sys/user/max_inotify_watches && exec \"$0\" watch \"$1\"",
                   ZANDREL_BINARY_DIR "/app/zandrel-cli", project});
    ASSERT_TRUE(limited.waitForFinished(60000));
    EXPECT_EQ(limited.exitCode(), 1);
    EXPECT_TRUE(limited.readAllStandardError().contains(
        "the limit of inotify watches (3, /proc/sys/user/max_inotify_watches) is reached; raise "
        "it with \"sysctl user.max_inotify_watches=6\""));
    TCli watch("watch|" + project);
    ASSERT_TRUE(watch.WaitFor("upload done: 4 file(s) and 3 folder(s) sent", 1, true));
    EXPECT_TRUE(Ended(RunCli("refresh|" + project), 2, "is in use by zandrel-cli"));
    WriteWholeFile(m_site + "/index.html", "saved");
    ASSERT_TRUE(watch.WaitFor("upload done: 1 file(s) and 0 folder(s) sent", 1, true));
    for (int i = 0; i < 30; ++i)
        WriteWholeFile(m_site + QString("/gen/%1/p%2.html").arg(i % 3).arg(i), "built");
    ASSERT_TRUE(watch.WaitFor("upload done: 30 file(s) and 4 folder(s) sent", 1, true));
    WriteWholeFile(m_site + "/old.bak", "ignored");
    QThread::msleep(3000);
    WriteWholeFile(m_site + "/gen/1/later.html", "in a folder made while watching");
    ASSERT_TRUE(watch.WaitFor("upload done: 1 file(s) and 0 folder(s) sent", 2, true));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());

    WriteWholeFile(m_site + "/big.bin", QByteArray(2 * 1024 * 1024, 'w')); // about 8 s
    ASSERT_TRUE(watch.WaitFor("big.bin", 1, true));
    QThread::msleep(500);
    watch.Signal(SIGINT);
    const TCliResult ended = watch.Finish();
    EXPECT_TRUE(Ended(ended, 0, "upload aborted") && ended.Out.endsWith("Watch ended\n"));
    EXPECT_EQ(ended.Out.count("] upload "), 5) << ended.Out.toStdString();
    EXPECT_EQ(RunCli("refresh|--list|" + project).Lines().mid(1), QStringList{"big.bin"});
    // The upload cut by Ctrl+C goes on in a run that is killed, and that one in the next.
    TCli killed("upload|" + project);
    QThread::msleep(2000);
    killed.Signal(SIGKILL);
    killed.Finish();
    const TCliResult resumed = RunCli("upload|" + project);
    EXPECT_TRUE(Ended(resumed, 0, "\nresumed at byte "));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
}

TEST_F(Cli, AFolderTheUserCannotReadIsAnErrorAndNothingBelowItOnTheServerIsTouched)
{
    // Root reads every folder: the program runs as nobody, in a home of its own, on a site it
    // can reach but for one folder.
    const passwd *nobody = ::getpwnam("nobody");
    const QString home = m_temp.filePath("nobody");
    ASSERT_TRUE(nobody && QDir().mkpath(home)
                && ::chmod(QFile::encodeName(m_temp.path()), 0755) == 0
                && ::chown(QFile::encodeName(home), nobody->pw_uid, nobody->pw_gid) == 0
                && ::chmod(QFile::encodeName(home), 0700) == 0);
    WriteWholeFile(m_site + "/locked/secret.html", QByteArray("secret").repeated(50));
    WriteWholeFile(m_site + "/locked/deeper/x.txt", "x");
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server, {}, 0, home);
    ASSERT_TRUE(Ended(RunCli("upload|" + project, {}, home), 0));
    ASSERT_EQ(TreeOf(server->Root), SiteTree());

    const QByteArray locked = QFile::encodeName(m_site + "/locked");
    ASSERT_EQ(::chmod(locked, 0), 0);
    const QString error = "the folder " + m_site
                          + "/locked/ cannot be read: Permission denied; "
                            "nothing below it on the server is removed or downloaded\n";
    const TCliResult upload = RunCli("upload|" + project, {}, home);
    EXPECT_TRUE(Ended(upload, 1));
    EXPECT_EQ(upload.Err, error + "Operation was completed with errors\n");
    const auto serverTree = TreeOf(server->Root);
    for (const char *command : {"remove|--yes-to-all|", "download|--yes-to-all|"}) {
        const TCliResult result = RunCli(command + project, {}, home);
        EXPECT_TRUE(Ended(result, 1,
                          "the server's entries below /locked are left alone: " + m_site
                              + "/locked cannot be read\n"));
        EXPECT_TRUE(result.Err.startsWith(error)) << result.Err.toStdString();
        EXPECT_EQ(TreeOf(server->Root), serverTree) << command;
    }
    // Readable again: the records were kept, and the server is the site.
    ASSERT_EQ(::chmod(locked, 0755), 0);
    EXPECT_TRUE(Ended(RunCli("upload|" + project, {}, home), 0, "No files for uploading"));
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
    for (const QString &file : {project, TinyDisk() + "/site.log"})
        EXPECT_TRUE(Ended(full, 1, "Cannot write file " + file + ": No space left on device\n"));
    EXPECT_TRUE(full.Err.contains("Operation was completed with errors\n"));
    EXPECT_EQ(TreeOf(TinyDisk(), {"filler", "site.zdx.lock"}),
              (QMap<QString, QByteArray>{{"site.zdx", before}}));
}

// The desktop program from its command line: without a display it points to the command line;
// on an X server of its own it refuses a project in use, and killed part-way through "upload at
// once" (1) it has kept the records of the files sent, so the next run ("upload and end", 2)
// sends the rest. The FTP window lists the project's remote folder and keeps its placement.
TEST_F(Cli, TheDesktopProgramUploadsAtOnceKeepsRecordsWhenKilledAndOpensTheFtpWindow)
{
    EXPECT_TRUE(Ended(RunCli("zandrel"), 2, "no display"));
    EXPECT_TRUE(Ended(RunCli("zandrel|--help"), 0, "Usage: zandrel [PROJECT"));
    EXPECT_TRUE(Ended(RunCli("zandrel|x.zdx|--version"), 0, "zandrel " ZANDREL_VERSION "\n"));
    // About two seconds a file over four connections (the server lets a transfer's first 64 KB
    // pass at once); plain STOR, so a file cut off keeps its name and the next run replaces it.
    TPyftpdlibOptions options;
    options.BandwidthLimit = 32 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    for (int i = 0; i < 12; ++i)
        WriteWholeFile(m_site + QString("/d%1/%2.bin").arg(i % 3).arg(i),
                       RandomBytes(96 * 1024, i));
    TProject project;
    project.Load(NewProject(*server));
    project.Nodes("SafeUpload")->SetAsBoolean(false);
    project.Save(false);
    const auto desktop = [&](const QString &mode) {
        return std::make_unique<TCli>("xvfb-run|zandrel|" + project.FileName + "|" + mode);
    };
    // Ends the program itself (below xvfb-run) with `signal`.
    const auto end = [](TCli &run, int signal) {
        for (qint64 pid : ProcessTree(run.Pid)) {
            if (ReadWholeFile(QString("/proc/%1/comm").arg(pid)).trimmed() == "zandrel")
                ::kill(pid_t(pid), signal);
        }
        return run.Finish();
    };
    {
        TProjectLock other;
        QString refusal;
        ASSERT_TRUE(other.Lock(project.FileName, refusal)) << refusal.toStdString();
        EXPECT_TRUE(Ended(desktop("2")->Finish(), 1,
                          "The project " + project.FileName + " is in use by test_programs"));
    }
    // What the project file on disk records as uploaded, each checked against the server.
    const auto recorded = [&] {
        TProject saved;
        saved.LoadFromBytes(ReadWholeFile(project.FileName));
        return RecordsMatchServer(saved, m_site, *server);
    };
    auto killed = desktop("1");
    ASSERT_TRUE(WaitUntil([&] { return recorded() > 0; })) << "no record in the project file";
    end(*killed, SIGKILL);
    const int kept = recorded();
    EXPECT_TRUE(kept >= 1 && kept < 16) << kept;
    const qsizetype commandsBefore = server->ProtocolLog().size();
    EXPECT_TRUE(Ended(desktop("2")->Finish(), 0));
    EXPECT_EQ(server->ProtocolLog().mid(commandsBefore).filter("STOR ").size(), 16 - kept);
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    EXPECT_EQ(recorded(), 16);

    TProject remote;
    remote.Load(project.FileName);
    remote.Nodes("RemotePath")->SetAsString("/d1");
    remote.Save(false);
    const qsizetype listedFrom = server->ProtocolLog().size();
    auto window = desktop("FTPWindow");
    EXPECT_TRUE(WaitUntil([&] {
        const QStringList log = server->ProtocolLog().mid(listedFrom);
        return log.contains("CWD /d1/") && log.contains("MLSD");
    })) << server->ProtocolLog().mid(listedFrom).join(' ').toStdString();
    EXPECT_TRUE(Ended(end(*window, SIGTERM), 0));
    EXPECT_TRUE(QSettings().contains("Forms/frmFtpWindow/Width")
                && QSettings().contains("Forms/frmFtpWindow/Details"));
}
