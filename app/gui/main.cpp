// The desktop program. "PROJECT FTPWindow [PASSWORD]" opens only the FTP window for that
// project's server; the main window is not part of this build yet.
#include "store/PrjCls.h"
#include "ui/ftpwindow/FtpWindow.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication::setOrganizationName(QStringLiteral("morvate"));
    QApplication::setApplicationName(QStringLiteral("Zandrel"));
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Zandrel"));

    const QStringList arguments = QApplication::arguments().mid(1);
    TProject::CommandLineArguments = arguments;
    if (arguments.size() < 2 || arguments[1] != QLatin1String("FTPWindow")) {
        std::fputs("zandrel: the main window is not built yet; use "
                   "\"zandrel PROJECT FTPWindow [PASSWORD]\"\n",
                   stderr);
        return 2;
    }
    auto window = std::make_unique<TfrmFtpWindow>(nullptr, arguments);
    window->show();
    const int result = QApplication::exec();
    window.reset();
    return result;
}
