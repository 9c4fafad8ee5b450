// zandrel-cli on a terminal (a pseudo terminal): the password prompt without echo, the answers
// to the questions of remove and download, and the live progress line.
#include "tests/app/CliTestSupport.h"

#include <QElapsedTimer>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

class TTerminal
{
public:
    TTerminal()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
            ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
            Device = QString::fromLocal8Bit(::ptsname(m_master));
        }
    }
    ~TTerminal() { ::close(m_master); }

    QString Device;

    void Type(const QByteArray &keys)
    {
        EXPECT_EQ(::write(m_master, keys.data(), size_t(keys.size())), keys.size());
    }
    bool Echoes() const
    {
        struct termios settings = {};
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

private:
    int m_master = -1;
    QByteArray m_shown;
};

// zandrel-cli with standard input (or standard error) on the terminal.
class TTerminalRun
{
public:
    TTerminalRun(const TTerminal &terminal, const QStringList &args, bool errorToTerminal = false)
    {
        m_process.setProcessEnvironment(CliEnvironment());
        if (errorToTerminal)
            m_process.setStandardErrorFile(terminal.Device);
        else
            m_process.setStandardInputFile(terminal.Device);
        m_process.start(CliProgram(), args);
    }
    ~TTerminalRun()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Waits until stderr has shown `text` `count` times.
    bool WaitForErr(const QString &text, int count = 1)
    {
        QElapsedTimer timer;
        timer.start();
        while (Err.count(text) < count && timer.elapsed() < 30000
               && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(100);
            Err += QString::fromUtf8(m_process.readAllStandardError());
        }
        return Err.count(text) >= count;
    }
    void Signal(int signal) { ::kill(pid_t(m_process.processId()), signal); }
    int Finish()
    {
        const bool finished = m_process.waitForFinished(60000);
        Err += QString::fromUtf8(m_process.readAllStandardError());
        Out += QString::fromUtf8(m_process.readAllStandardOutput());
        return finished && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode()
                                                                          : -1;
    }

    QString Out, Err;

private:
    QProcess m_process;
};

using CliTerminalTest = CliTestBase;

TEST_F(CliTerminalTest, PasswordIsAskedOnTheTerminalWithoutEcho)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server, false);
    const QString prompt = u"Enter password for connecting to FTP server: "_s;
    {
        // Ctrl+C at the prompt: aborted, and the terminal echoes again.
        TTerminal terminal;
        TTerminalRun run(terminal, {u"upload"_s, project});
        ASSERT_TRUE(run.WaitForErr(prompt)) << run.Err.toStdString();
        EXPECT_FALSE(terminal.Echoes());
        run.Signal(SIGINT);
        EXPECT_EQ(run.Finish(), 3);
        EXPECT_TRUE(terminal.Echoes());
    }
    {
        TTerminal terminal;
        TTerminalRun run(terminal, {u"upload"_s, project});
        ASSERT_TRUE(run.WaitForErr(prompt)) << run.Err.toStdString();
        terminal.Type("\x04"); // end of input
        EXPECT_EQ(run.Finish(), 2);
        EXPECT_TRUE(run.Err.contains(u"no password entered"_s)) << run.Err.toStdString();
    }
    EXPECT_TRUE(server->ProtocolLog().isEmpty());

    TTerminal terminal;
    TTerminalRun run(terminal, {u"upload"_s, project});
    ASSERT_TRUE(run.WaitForErr(prompt)) << run.Err.toStdString();
    terminal.Type(server->Password.toUtf8() + "\n");
    EXPECT_EQ(run.Finish(), 0) << run.Err.toStdString();
    EXPECT_FALSE(terminal.Shown().contains(server->Password.toUtf8()));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    // A typed password is never written to the project.
    TProject saved;
    saved.Load(project);
    EXPECT_TRUE(saved.Nodes(u"Pass"_s)->Value.isEmpty());
}

TEST_F(CliTerminalTest, QuestionsTakeTheirAnswersFromTheTerminal)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    ASSERT_EQ(RunCli({u"upload"_s, project}).ExitCode, 0);
    const QString extra = server->Root + u"/extra.txt"_s;
    const QString answers = u"[y] Yes, [n] No, [a] Yes to All, [N/o] No to All, [c] Cancel: "_s;
    // Each command meets one server-only file and gets these keys.
    const struct
    {
        QString Command;
        QByteArray Keys;
        int Status;
        QString Line;
        bool ServerKeeps, LocalGets;
    } cases[] = {
        {u"download"_s, "\x04", 3, u"Operation was aborted by user"_s, true, false}, // end of input
        {u"download"_s, "o\n", 0, u"0 file(s) have been downloaded"_s, true, false},
        {u"remove"_s, "n\n", 0, u"0 folder(s) and 0 file(s) have been removed"_s, true, false},
        {u"remove"_s, "c\n", 3, u"Operation was aborted by user"_s, true, false},
        {u"remove"_s, "y\n", 0, u"0 folder(s) and 1 file(s) have been removed"_s, false, false},
    };
    for (const auto &test : cases) {
        WriteWholeFile(extra, "extra");
        TTerminal terminal;
        TTerminalRun run(terminal, {test.Command, project});
        ASSERT_TRUE(run.WaitForErr(answers)) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.startsWith(u"The file \"/extra.txt\" exists on the server but does not "
                                       "exist in the local system. Do you want to "_s));
        terminal.Type("Y\n"); // not an answer: asked again
        ASSERT_TRUE(run.WaitForErr(answers, 2)) << run.Err.toStdString();
        terminal.Type(test.Keys);
        EXPECT_EQ(run.Finish(), test.Status) << test.Keys.toStdString() << run.Err.toStdString();
        EXPECT_TRUE((run.Out + run.Err).contains(test.Line)) << test.Keys.toStdString();
        EXPECT_EQ(QFile::exists(extra), test.ServerKeeps) << test.Keys.toStdString();
        EXPECT_EQ(QFile::exists(m_site + u"/extra.txt"_s), test.LocalGets);
    }
}

TEST_F(CliTerminalTest, ProgressIsRedrawnOnATerminalOnly)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 100 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    WriteWholeFile(m_site + u"/movie.bin"_s, QByteArray(300 * 1024, 'p'));
    const QString project = NewProject(*server);

    TTerminal terminal;
    TTerminalRun run(terminal, {u"upload"_s, project}, true);
    EXPECT_EQ(run.Finish(), 0);
    const QByteArray shown = terminal.Shown();
    EXPECT_TRUE(shown.contains("\r  0% Estimated time left: ")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("\r\x1b[K")) << shown.toStdString(); // nothing left behind
    // Log lines stay on standard output, free of the live line.
    EXPECT_TRUE(run.Out.contains(u"movie.bin\n"_s));
    EXPECT_FALSE(run.Out.contains(u'\r'));
    EXPECT_FALSE(run.Out.contains(u"Estimated"_s));
}

} // namespace
