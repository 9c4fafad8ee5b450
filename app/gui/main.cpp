// The desktop program. "PROJECT FTPWindow [PASSWORD]" opens only the FTP window for that
// project's server; the main window is not part of this build yet.
#include "engine/AlertSound.h"
#include "store/PrjCls.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/ftpwindow/FtpWindow.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
}

// SIGTERM (log-out, kill), SIGINT and SIGHUP close the windows the normal way, so placement is
// saved and temporary files are removed; a running action is aborted without asking.
void CloseOnTerminationSignals(const std::function<void()> &close)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [close] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(SignalPipe[0], &byte, 1);
        close();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    // Checked before the display is opened, so the message shows without one too.
    if (argc < 3 || std::strcmp(argv[2], "FTPWindow") != 0) {
        std::fputs("zandrel: the main window is not built yet; use "
                   "\"zandrel PROJECT FTPWindow [PASSWORD]\"\n",
                   stderr);
        return 2;
    }
    QApplication::setOrganizationName(QStringLiteral("morvate"));
    QApplication::setApplicationName(QStringLiteral("Zandrel"));
    QApplication application(argc, argv);

    const QStringList arguments = QApplication::arguments().mid(1);
    TProject::CommandLineArguments = arguments;
    AlertBeep = [] { QApplication::beep(); };
    TProject::PasswordPrompt = [](QString &password) { return AskForPassword(password); };
    auto window = std::make_unique<TfrmFtpWindow>(nullptr, arguments);
    CloseOnTerminationSignals([&window] { window->AbortAndClose(); });
    window->show();
    const int result = QApplication::exec();
    window.reset();
    return result;
}
