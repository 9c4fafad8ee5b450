// Pictures of the main window as the X server draws it: the file view after a refresh, and the
// log view after an upload. main_window_gallery OUTPUT_FOLDER PROJECT_FILE; run on a private
// display by scripts/main-window-screenshots.sh.
#include "ui/main/main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>

#include <cstdio>

namespace {

bool Save(QWidget *window, const QString &file)
{
    QTest::qWait(600); // fonts and icons settle
    const QPixmap shot = window->screen()->grabWindow(window->winId());
    if (shot.isNull() || !shot.save(file)) {
        std::fprintf(stderr, "main_window_gallery: could not save %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

bool WaitFor(const std::function<bool()> &condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 60000)
            return false;
        QTest::qWait(20);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication::setOrganizationName(QStringLiteral("morvate"));
    QApplication::setApplicationName(QStringLiteral("Zandrel"));
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: main_window_gallery OUTPUT_FOLDER PROJECT_FILE\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    TfrmMain window({QString::fromLocal8Bit(argv[2])});
    int finished = 0;
    QObject::connect(&window, &TfrmMain::OperationFinished, [&finished] { ++finished; });
    window.resize(820, 480);
    window.show();
    bool ok = WaitFor([&] { return finished >= 1 && !window.Running(); });
    // A folder with changes inside, so the tree shows both kinds of folder.
    window.tvwFolders->expandAll();
    window.splFiles->setSizes({250, 570});
    ok = ok && Save(&window, out + QStringLiteral("/main-file-view.png"));
    QTest::mouseClick(window.sbUpload, Qt::LeftButton);
    ok = ok && WaitFor([&] { return finished >= 2 && !window.Running(); });
    ok = ok && Save(&window, out + QStringLiteral("/main-log-view.png"));
    window.close();
    return ok ? 0 : 1;
}
