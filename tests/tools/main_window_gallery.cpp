// Pictures of the main window as the X server draws it: the file view after a refresh, the
// window during an upload, the log view after it, and an upload on save. main_window_gallery
// OUTPUT_FOLDER PROJECT_FILE; run on a private display by scripts/main-window-screenshots.sh.
#include "tests/tools/Gallery.h"
#include "ui/main/main.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>

int main(int argc, char **argv)
{
    QApplication::setOrganizationName("morvate");
    QApplication::setApplicationName("Zandrel");
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: main_window_gallery OUTPUT_FOLDER PROJECT_FILE\n");
        return 2;
    }
    TfrmMain window({QString::fromLocal8Bit(argv[2])});
    int finished = 0;
    QObject::connect(&window, &TfrmMain::OperationFinished, [&finished] { ++finished; });
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const auto finish = [&](int operations) {
        return WaitUntil([&] { return finished >= operations && !window.Running(); }, 60000);
    };
    window.show();
    bool ok = finish(1);
    // A folder with changes inside, so the tree shows both kinds of folder.
    window.tvwFolders->expandAll();
    window.splFiles->setSizes({250, 570});
    ok = ok && SaveShot(&window, folder, "main-file-view");
    QTest::mouseClick(window.sbUpload, Qt::LeftButton);
    // Half way, once the estimate has settled.
    ok = ok
         && WaitUntil(
             [&] {
                 return window.pgbUpload->value() >= 50
                        && window.pnlStat->text().contains("seconds");
             },
             60000)
         && SaveShot(&window, folder, "main-upload");
    ok = ok && finish(2) && SaveShot(&window, folder, "main-log-view");
    // Upload on save pressed, and the upload a saved page started.
    window.miUploadOnSave->trigger();
    QFile page(window.Project().GetLocalPath() + "about.html");
    ok = ok && page.open(QIODevice::Append) && page.write("<p>Saved</p>\n") > 0;
    page.close();
    ok = ok && finish(3) && SaveShot(&window, folder, "main-upload-on-save");
    window.close();
    return ok ? 0 : 1;
}
