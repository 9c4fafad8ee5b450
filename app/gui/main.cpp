// The desktop program: the main window, or with "PROJECT FTPWindow [PASSWORD]" only the FTP
// window for that project's server.
#include "ui/main/main.h"
#include "app/keyring/SecretServiceKeyring.h"
#include "engine/AlertSound.h"
#include "store/PrjCls.h"
#include "store/ShellLib.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/ftpwindow/FtpWindow.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
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
    // Qt's own words for this suggest reinstalling the program; the real cause is simpler.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("zandrel: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not "
                   "set); zandrel-cli publishes without one\n",
                   stderr);
        return 2;
    }
    // The main window hands the FTP window its password on standard input.
    const std::optional<QString> handedPassword = ReadSecretFromStdin();
    QApplication::setOrganizationName(QStringLiteral("morvate"));
    QApplication::setApplicationName(QStringLiteral("Zandrel"));
    QApplication application(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("zandrel"));

    QStringList arguments = QApplication::arguments().mid(1);
    const bool ftpWindowMode = arguments.size() >= 2 && arguments[1] == QLatin1String("FTPWindow");
    if (ftpWindowMode && arguments.size() == 2 && handedPassword)
        arguments.append(*handedPassword);
    TProject::CommandLineArguments = arguments;
    AlertBeep = [] { QApplication::beep(); };
    TProject::PasswordPrompt = [](TProject &project, QString &password) {
        return AskForPassword(password, QApplication::activeWindow(), &project);
    };
    TSecretServiceKeyring keyring;
    TProject::Keyring = &keyring;
    // The main window shows these in its log; the FTP window has none.
    TProject::Notice = [](const QString &line) {
        std::fprintf(stderr, "zandrel: %s\n", line.toLocal8Bit().constData());
    };

    int result = 0;
    if (ftpWindowMode) {
        auto window = std::make_unique<TfrmFtpWindow>(nullptr, arguments);
        CloseOnTerminationSignals([&window] { window->AbortAndClose(); });
        window->show();
        result = QApplication::exec();
    } else {
        auto window = std::make_unique<TfrmMain>(arguments);
        CloseOnTerminationSignals([&window] { window->AbortAndClose(); });
        window->show();
        result = QApplication::exec();
        if (result == 0)
            result = window->ExitCode();
    }
    return result;
}
