// Main window benchmark: prints figures, asserts nothing.
//
//   bench_view [N]     (default N = 100000; QT_QPA_PLATFORM=offscreen is used when unset)
//
// Makes a site of N empty files (half in the root folder, the rest in folders of 100), opens it
// in the main window and prints: the refresh with the longest gap between 10 ms timer ticks
// while the window fills (the event-loop stall), the time to rebuild the views, the time to sort
// the list by each column both ways, the stall of marking every file synchronous and back, and
// the process's peak memory.
#include "engine/PublishList.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
#include "ui/main/FileViewModels.h"
#include "ui/main/main.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

qint64 PeakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void MakeSite(const QString &root, int files)
{
    const int inRoot = files / 2;
    QDir().mkpath(root);
    for (int i = 0; i < files; ++i) {
        QString folder = root;
        if (i >= inRoot) {
            folder += QStringLiteral("/folder%1").arg((i - inRoot) / 100, 4, 10, QChar(u'0'));
            if ((i - inRoot) % 100 == 0)
                QDir().mkpath(folder);
        }
        const QByteArray path = QFile::encodeName(folder + QStringLiteral("/page%1.html").arg(i));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            // A few sizes, so sorting by size has work to do.
            if (i % 7 != 0) [[maybe_unused]]
                const int truncated = ::ftruncate(fd, (i * 37) % 9000);
            ::close(fd);
        }
    }
}

QString MakeProject(const QString &site)
{
    TProject project;
    project.Clear();
    project.InitDefaults();
    TProjectOptions options;
    options.Load(project);
    options.Path = site;
    options.IncSubDirs = true;
    options.Host = QStringLiteral("127.0.0.1");
    options.User = QStringLiteral("bench");
    options.Save(project);
    QDir().mkpath(ProjectsFolder());
    project.FileName = ProjectsFolder() + QStringLiteral("bench.zdx");
    project.Save(false);
    return project.FileName;
}

} // namespace

int main(int argc, char **argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir home;
    ::setenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")).constData(),
             1);
    ::setenv("XDG_CONFIG_HOME",
             QFile::encodeName(home.path() + QStringLiteral("/config")).constData(), 1);
    QApplication::setOrganizationName(QStringLiteral("morvate"));
    QApplication::setApplicationName(QStringLiteral("Zandrel"));
    QApplication application(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;

    QElapsedTimer made;
    made.start();
    const QString site = home.path() + QStringLiteral("/site");
    MakeSite(site, files);
    std::printf("site of %d files made in %lld ms\n", files,
                static_cast<long long>(made.elapsed()));

    TfrmMain window({MakeProject(site)});
    bool finished = false;
    QObject::connect(&window, &TfrmMain::OperationFinished, [&finished] { finished = true; });
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticks;
    ticks.setInterval(10);
    QObject::connect(&ticks, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    QElapsedTimer refresh;
    refresh.start();
    window.show();
    sinceTick.start();
    ticks.start();
    while (!finished)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ticks.stop();
    std::printf("open and refresh:        %6lld ms, longest event-loop stall %lld ms\n",
                static_cast<long long>(refresh.elapsed()), static_cast<long long>(longestGap));

    QElapsedTimer timer;
    timer.start();
    window.RebuildViews();
    std::printf("rebuild the views:       %6lld ms (%d folders in the tree, %d rows in the list)\n",
                static_cast<long long>(timer.elapsed()),
                window.tvwFolders->model()->rowCount(window.tvwFolders->model()->index(0, 0)) + 1,
                window.lvwFiles->model()->rowCount());
    static const char *const names[] = {"name", "status", "size", "date"};
    for (int column = 0; column < TFileListModel::ColumnCount; ++column) {
        timer.start();
        window.lvwFilesColumnClick(column);
        const qint64 ascending = timer.restart();
        window.lvwFilesColumnClick(column);
        const qint64 descending = timer.elapsed();
        std::printf("sort by %-6s            %6lld ms ascending, %lld ms descending\n",
                    names[column], static_cast<long long>(ascending),
                    static_cast<long long>(descending));
    }
    // Marking blocks the window for as long as it runs, the events it queues (the repaint)
    // included; the record file is saved each time.
    for (const bool synchronous : {true, false}) {
        timer.start();
        window.MarkFolder(&window.FileList().Items(0)[0], synchronous);
        QApplication::processEvents();
        std::printf(
            "mark everything %-12s %6lld ms event-loop stall (records written, project "
            "saved)\n",
            synchronous ? "synchronous:" : "for upload:", static_cast<long long>(timer.elapsed()));
    }
    std::printf("peak memory:             %6lld MB\n", static_cast<long long>(PeakKb() / 1024));
    window.close();
    return 0;
}
