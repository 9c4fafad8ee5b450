#include "app/cli/CliTerminal.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_signalCount = 0;
volatile sig_atomic_t g_hangups = 0;
// Each aborts the running operation: Ctrl+C, a polite kill, a closed terminal.
constexpr int AbortSignals[] = {SIGINT, SIGTERM, SIGHUP};
int g_exitStatusOnSecond = 3;
// The terminal state a password prompt changed, restored when a second signal ends the process
// in the middle of the prompt (otherwise the shell would be left without echo).
struct termios g_savedTermios;
volatile sig_atomic_t g_termiosChanged = 0;

void OnSignal(int signal)
{
    // A closed terminal often sends two hang-ups (the shell passes its own on, then the
    // kernel sends one when the shell ends): only the first counts.
    if (signal == SIGHUP) {
        if (g_hangups)
            return;
        g_hangups = 1;
    }
    const int savedErrno = errno;
    g_signalCount = g_signalCount + 1;
    if (g_signalCount >= 2) {
        if (g_termiosChanged)
            ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
        ::_exit(g_exitStatusOnSecond);
    }
    const char byte = 1;
    const ssize_t written = ::write(g_pipe[1], &byte, 1);
    (void)written;
    errno = savedErrno;
}

void WriteAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += n;
        left -= n;
    }
}

} // namespace

TCliInterrupts::TCliInterrupts(int exitStatusOnSecond, QObject *parent)
    : QObject(parent)
{
    g_exitStatusOnSecond = exitStatusOnSecond;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : AbortSignals)
        sigaddset(&action.sa_mask, signal);
    // No SA_RESTART: a prompt blocked in read() must wake up on Ctrl+C.
    action.sa_flags = 0;
    for (const int signal : AbortSignals)
        ::sigaction(signal, &action, nullptr);
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TCliInterrupts::PipeReadable);
}

TCliInterrupts::~TCliInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : AbortSignals)
        ::sigaction(signal, &action, nullptr);
    delete m_notifier;
    for (int &fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool TCliInterrupts::Requested()
{
    return g_signalCount > 0;
}

void TCliInterrupts::WithSignalsBlocked(const std::function<void()> &start)
{
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    for (const int signal : AbortSignals)
        sigaddset(&blocked, signal);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    start();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void TCliInterrupts::PipeReadable()
{
    char buffer[16];
    int received = 0;
    for (;;) {
        const ssize_t n = ::read(g_pipe[0], buffer, sizeof buffer);
        if (n > 0) {
            received += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    for (int i = 0; i < received; ++i) {
        if (OnInterrupt)
            OnInterrupt();
    }
}

namespace CliTerminal {

bool StdinIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool StderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int StderrColumns()
{
    struct winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

TReadResult ReadLine(QString &line)
{
    QByteArray bytes;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0) {
            if (errno == EINTR) {
                if (TCliInterrupts::Requested())
                    return rrInterrupted;
                continue;
            }
            return rrEof;
        }
        if (n == 0) {
            if (bytes.isEmpty())
                return rrEof;
            break;
        }
        if (c == '\n')
            break;
        bytes.append(c);
    }
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    line = QString::fromUtf8(bytes);
    return rrLine;
}

TReadResult ReadPassword(const QString &prompt, QString &password)
{
    const bool changed = ::tcgetattr(STDIN_FILENO, &g_savedTermios) == 0;
    if (changed) {
        struct termios silent = g_savedTermios;
        silent.c_lflag &= tcflag_t(~ECHO);
        silent.c_lflag |= ECHONL;
        g_termiosChanged = 1;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
    // Only now: whatever is typed after the prompt appears must not be echoed.
    WriteErr(prompt);
    const TReadResult result = ReadLine(password);
    if (changed) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
        g_termiosChanged = 0;
    }
    if (result != rrLine)
        WriteErr(QStringLiteral("\n"));
    return result;
}

QString Quoted(const QString &word)
{
    const bool plain = !word.isEmpty() && std::all_of(word.cbegin(), word.cend(), [](QChar c) {
        return c.isLetterOrNumber() || QStringView(u"./_-@").contains(c);
    });
    if (plain)
        return word;
    return QLatin1Char('\'') + QString(word).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
           + QLatin1Char('\'');
}

void WriteErr(const QString &text)
{
    WriteAll(STDERR_FILENO, text.toUtf8());
}

void WriteOut(const QString &text)
{
    WriteAll(STDOUT_FILENO, text.toUtf8());
}

} // namespace CliTerminal
