// The desktop program: the main window, or with "PROJECT FTPWindow [PASSWORD]" only the FTP
// window for that project's server.
#include "ui/main/main.h"
#include "app/keyring/SecretServiceKeyring.h"
#include "store/PrjCls.h"
#include "store/ShellLib.h"
#include "ui/dialogs/AlertSound.h"
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

const char *const UsageText
    = "Usage: zandrel [PROJECT [1|2] [PASSWORD]]\n"
      "  or:  zandrel PROJECT FTPWindow [PASSWORD]\n"
      "  or:  zandrel --help | --version\n"
      "Publish a web site: keep a folder on an FTP server in step with the local folder in\n"
      "which the site is edited. zandrel is the desktop program; zandrel-cli publishes\n"
      "without a display.\n"
      "\n"
      "Arguments:\n"
      "  (none)                 open the project that was open last, or ask for a new one\n"
      "  PROJECT                open the project file (*.zdx) and refresh its file view\n"
      "  PROJECT 1 [PASSWORD]   open it and upload at once (the file manager's Upload)\n"
      "  PROJECT 2 [PASSWORD]   upload at once and end when the upload ends\n"
      "                         (exit status 1 when it had errors)\n"
      "  PROJECT FTPWindow [PASSWORD]\n"
      "                         only the FTP window, browsing the project's server\n"
      "\n"
      "Options:\n"
      "  -h, --help             print this help and exit\n"
      "      --version          print the version and exit\n"
      "\n"
      "Without PASSWORD the password stored with the project is used (or asked for).\n"
      "A display is needed (DISPLAY or WAYLAND_DISPLAY); without one zandrel exits with\n"
      "status 2.\n";

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
    // Answered before Qt looks for a display, so they work on any terminal.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(UsageText, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("zandrel " ZANDREL_VERSION "\n", stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
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
