// Publishing benchmark: prints figures, asserts nothing.
//
//   bench_publish [--big N] [--check-size]  the whole run (default N = 100000); --check-size
//                                    turns the projects' CheckSize on (stored sizes asked)
//   bench_publish --refresh-only DIR one refresh of DIR, for a clean peak-memory figure
//   bench_publish --save N           only the save of a project with N records
//
// The whole run generates a site of 3000 files in 150 folders, measures a refresh of it and
// of N empty files (each in a process of its own, so the peak memory is the refresh's; the
// latter beside `find -printf` of the same tree, which stats every entry too), then the shared
// benchmark's scenarios (first upload, no change, 30 edited and 10 new files, compare) against
// pyftpdlib and vsftpd over loopback with 1, 4 and 8 connections, with the FTP sessions' own
// wire figures. The save of a project with N records is what a running upload
// pays each time it saves its records (at most every few seconds).
#include "engine/FileLib.h"
#include "engine/PublishList.h"
#include "engine/PublishOperator.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
#include "tests/support/FtpServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

// Runs operators to their end and keeps what the benchmark prints.
class TBenchFrontEnd : public IPublishFrontEnd
{
public:
    int Errors = 0;
    TFtp::TStats Stats;
    qint32 FilesCount = 0;
    qint32 FoldersCount = 0;
    bool Aborted = false;
    qint64 EndMs = 0;

    void LogLine(int level, const QString &text) override
    {
        if (level == 1) {
            ++Errors;
            if (Errors <= 5)
                std::fprintf(stderr, "  error: %s\n", qPrintable(text));
        }
    }
    void SetProgress(int) override {}
    void SetStatusText(const QString &) override {}
    void AppendLogText(const QString &) override {}
    void ClearView(TPublishOperator *) override {}
    void FillView(TPublishOperator *) override {}
    void ItemChanged(TFileListItem *) override {}
    int Ask(const QString &) override { return mrNoToAll; }
    void OperationEnd(TPublishOperator *sender) override
    {
        EndMs = m_timer.elapsed();
        Stats = sender->FtpStats;
        FilesCount = sender->FilesCount;
        FoldersCount = sender->FoldersCount;
        Aborted = sender->Aborted;
    }

    // Wall time in milliseconds from start to OperationEnd.
    qint64 Run(TFileList &list, quint8 kind, TProject &project)
    {
        Errors = 0;
        Stats = {};
        QEventLoop loop;
        auto *op = new TPublishOperator(&list, kind, &project, this);
        QObject::connect(op, &QObject::destroyed, &loop, &QEventLoop::quit);
        m_timer.start();
        op->start();
        loop.exec();
        return EndMs;
    }

private:
    QElapsedTimer m_timer;
};

qint64 StatusKb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void SetAge(const QByteArray &path, time_t when)
{
    struct utimbuf times = {when, when};
    ::utime(path.constData(), &times);
}

void WriteFile(const QByteArray &path, qsizetype size, time_t when)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (size > 0) {
        QByteArray data(size, 'a');
        for (qsizetype i = 0; i < size; i += 61)
            data[i] = char('a' + (i / 61 + size) % 26);
        const ssize_t written = ::write(fd, data.constData(), size_t(size));
        (void)written;
    }
    ::close(fd);
    SetAge(path, when);
}

// `folders` folders (10 at the top, the rest spread below them), `files` files spread evenly.
// Returns the files' paths.
QStringList MakeSite(const QString &root, int folders, int files, bool empty, time_t when)
{
    QStringList folderPaths;
    const int top = qMin(10, folders);
    for (int i = 0; i < top; ++i)
        folderPaths.append(root + QStringLiteral("/d%1").arg(i, 2, 10, QLatin1Char('0')));
    for (int i = top; i < folders; ++i)
        folderPaths.append(folderPaths.at(i % top)
                           + QStringLiteral("/s%1").arg(i, 4, 10, QLatin1Char('0')));
    for (const QString &folder : folderPaths)
        QDir().mkpath(folder);
    static const char *const extensions[] = {".html", ".css", ".png", ".js", ".htm"};
    QStringList filePaths;
    filePaths.reserve(files);
    for (int i = 0; i < files; ++i) {
        const QString path = folderPaths.at(i % folders)
                             + QStringLiteral("/f%1").arg(i, 6, 10, QLatin1Char('0'))
                             + QLatin1String(extensions[i % 5]);
        WriteFile(QFile::encodeName(path), empty ? 0 : 300 + (i * 37) % 4000, when);
        filePaths.append(path);
    }
    return filePaths;
}

void NewProject(TProject &project, const QString &path)
{
    project.Clear();
    project.InitDefaults();
    project.Nodes(QStringLiteral("Path"))->SetAsString(path);
}

int RefreshOnly(const QString &path)
{
    TProject project;
    NewProject(project, path);
    TFileList list;
    TBenchFrontEnd frontEnd;
    const qint64 baseline = StatusKb("VmRSS");
    const qint64 ms = frontEnd.Run(list, pkRefresh, project);
    struct rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    // The source folder itself is an item too.
    std::printf("  refresh of %d files in %d folders: %lld ms; peak memory VmHWM %.1f MB "
                "(maxrss %.1f MB, %.1f MB before the refresh)\n",
                list.CountFiles(), list.Count() - list.CountFiles() - 1, static_cast<long long>(ms),
                double(StatusKb("VmHWM")) / 1024.0, double(usage.ru_maxrss) / 1024.0,
                double(baseline) / 1024.0);
    return 0;
}

// The project file of a site of `records` files, saved as a running operation saves it.
int SaveOnly(int records)
{
    QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/zandrel-bench-XXXXXX"));
    if (!temp.isValid())
        return 1;
    TProject project;
    NewProject(project, temp.path());
    const qint32 age = DateTimeToFileDate(QDateTime::currentDateTime());
    for (int i = 0; i < records; ++i)
        project.Versions
            .FindOrAdd(QStringLiteral("d%1\\s%2\\f%3.html")
                           .arg(i % 10)
                           .arg(i % 1000, 4, 10, QLatin1Char('0'))
                           .arg(i, 6, 10, QLatin1Char('0')))
            ->Date
            = age;
    project.FileName = temp.path() + QStringLiteral("/bench.zdx");
    project.Save(false); // the file a running operation saves exists already
    constexpr int Rounds = 5;
    qint64 best = -1;
    qint64 total = 0;
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        project.Save(true);
        const qint64 ms = timer.elapsed();
        total += ms;
        best = best < 0 ? ms : qMin(best, ms);
    }
    std::printf("  save of a project with %d records (%.1f MB): %lld ms on average, %lld ms at "
                "best (%d rounds)\n",
                records, double(QFileInfo(project.FileName).size()) / 1048576.0,
                static_cast<long long>(total / Rounds), static_cast<long long>(best), Rounds);
    return 0;
}

void Connect(TProject &project, const TFtpTestServer &server, int connections, bool checkSize,
             bool tls)
{
    project.Nodes(QStringLiteral("Host"))->SetAsString(server.Host);
    project.Nodes(QStringLiteral("Port"))->SetAsString(QString::number(server.Port));
    project.Nodes(QStringLiteral("User"))->SetAsString(server.User);
    project.Nodes(QStringLiteral("RemotePath"))->SetAsString(server.RemoteBase);
    project.Nodes(QStringLiteral("Connections"))->SetAsInteger(connections);
    project.Nodes(QStringLiteral("CheckSize"))->SetAsBoolean(checkSize);
    project.Nodes(QStringLiteral("Encryption"))
        ->SetAsString(tls ? QStringLiteral("require") : QStringLiteral("off"));
    project.Nodes(QStringLiteral("TrustedCertificate"))->SetAsString(server.CertificateFingerprint);
    project.SetPassword(server.Password);
}

// One refresh of `path` in a child process; returns its wall time in ms (-1 when it failed)
// and its printed line in `line`.
qint64 RefreshInChild(const QString &path, QByteArray &line)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--refresh-only"), path});
    child.waitForFinished(-1);
    line = child.readAllStandardOutput();
    const qsizetype at = line.indexOf(" folders: ");
    return at < 0 ? -1 : line.mid(at + 10).split(' ').first().toLongLong();
}

void RefreshInChild(const QString &path)
{
    QByteArray line;
    RefreshInChild(path, line);
    std::fputs(line.constData(), stdout);
}

// The best of `rounds` runs of `find path -printf '%T@ %s %p\n'` (it stats every entry as the
// refresh does), in ms.
qint64 FindPrintf(const QString &path, int rounds)
{
    qint64 best = -1;
    for (int round = 0; round < rounds; ++round) {
        QProcess find;
        find.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        find.start(QStringLiteral("find"),
                   {path, QStringLiteral("-printf"), QStringLiteral("%T@ %s %p\\n")});
        if (!find.waitForFinished(-1) || find.exitCode() != 0)
            return -1;
        const qint64 ms = timer.elapsed();
        best = best < 0 ? ms : qMin(best, ms);
    }
    return best;
}

// The refresh of a big site beside `find -printf` of the same tree, both with a warm cache:
// the best of a few alternating runs of each, so a busy machine disturbs both alike.
void RefreshBesideFind(const QString &path)
{
    constexpr int Rounds = 3;
    FindPrintf(path, 1); // warms the cache
    qint64 best = -1;
    qint64 findBest = -1;
    QByteArray bestLine;
    for (int round = 0; round < Rounds; ++round) {
        QByteArray line;
        const qint64 ms = RefreshInChild(path, line);
        if (ms >= 0 && (best < 0 || ms < best)) {
            best = ms;
            bestLine = line;
        }
        const qint64 findMs = FindPrintf(path, 1);
        if (findMs >= 0 && (findBest < 0 || findMs < findBest))
            findBest = findMs;
    }
    std::fputs(bestLine.constData(), stdout);
    if (best < 0 || findBest <= 0) {
        std::printf("  find -printf of the same tree: not measured\n");
        return;
    }
    std::printf("  find -printf of the same tree: %lld ms; the refresh takes %.2fx its time (best "
                "of %d each, warm cache)\n",
                static_cast<long long>(findBest), double(best) / double(findBest), Rounds);
}

// `compared`: for a compare, the files it compared, which the figures are per.
void PrintUpload(const char *what, const TBenchFrontEnd &frontEnd, qint64 ms, int expectedFiles,
                 int compared = 0)
{
    const double perFile = compared > 0              ? double(compared)
                           : frontEnd.FilesCount > 0 ? double(frontEnd.FilesCount)
                                                     : 1.0;
    std::printf("  %s: %lld ms wall, %d file(s) and %d folder(s) sent (expected %d files), "
                "%lld commands (%.2f per file), %lld round trips (%.2f per file), "
                "%lld connections, %d error line(s)\n",
                what, static_cast<long long>(ms), frontEnd.FilesCount, frontEnd.FoldersCount,
                expectedFiles, static_cast<long long>(frontEnd.Stats.Commands),
                double(frontEnd.Stats.Commands) / perFile,
                static_cast<long long>(frontEnd.Stats.RoundTrips),
                double(frontEnd.Stats.RoundTrips) / perFile,
                static_cast<long long>(frontEnd.Stats.Connections), frontEnd.Errors);
}

int FullRun(int bigFiles, bool checkSize)
{
    QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/zandrel-bench-XXXXXX"));
    if (!temp.isValid())
        return 1;
    const time_t past = ::time(nullptr) - 86400;

    std::printf("Refresh\n");
    const QString site = temp.path() + QStringLiteral("/site");
    const QStringList files = MakeSite(site, 150, 3000, false, past);
    RefreshInChild(site);
    {
        const QString big = temp.path() + QStringLiteral("/big");
        QElapsedTimer made;
        made.start();
        MakeSite(big, qMax(1, bigFiles / 100), bigFiles, true, past);
        std::printf("  (%d empty files generated in %lld ms)\n", bigFiles,
                    static_cast<long long>(made.elapsed()));
        RefreshBesideFind(big);
        QDir(big).removeRecursively();
    }
    std::printf("Records\n");
    SaveOnly(bigFiles);

    // The shared benchmark's scenarios on loopback, where time is mostly the servers' own:
    // the round trips per file are what a real link multiplies by its round-trip time.
    std::printf("Scenarios on loopback: A first upload, B nothing changed, C 30 edited and 10 "
                "new, D compare\n");
    TBenchFrontEnd frontEnd;
    int added = 0;
    for (const char *kind : {"pyftpdlib", "vsftpd"}) {
        for (const int connections : {1, NewProjectConnections, 8}) {
            const std::unique_ptr<TFtpTestServer> server
                = QByteArray(kind) == "vsftpd" ? StartVsftpd() : StartPyftpdlib();
            if (!server) {
                std::printf("  %s did not start\n", kind);
                continue;
            }
            TProject project;
            TFileList list;
            NewProject(project, site);
            Connect(project, *server, connections, checkSize, false);
            const QByteArray what = QStringLiteral("%1, %2 connection(s)")
                                        .arg(QLatin1String(kind))
                                        .arg(connections)
                                        .toUtf8();
            qint64 ms = frontEnd.Run(list, pkUpload, project);
            PrintUpload(("A " + what).constData(), frontEnd, ms, int(files.size()) + added);
            ms = frontEnd.Run(list, pkUpload, project);
            PrintUpload(("B " + what).constData(), frontEnd, ms, 0);
            const time_t changed = ::time(nullptr) - 60;
            for (int i = 0; i < 30; ++i)
                WriteFile(QFile::encodeName(files.at((i * 97 + added) % files.size())),
                          1000 + i + added, changed);
            for (int i = 0; i < 10; ++i, ++added)
                WriteFile(QFile::encodeName(site + QStringLiteral("/d00/new%1.html").arg(added)),
                          700 + added, changed);
            ms = frontEnd.Run(list, pkUpload, project);
            PrintUpload(("C " + what).constData(), frontEnd, ms, 40);
            ms = frontEnd.Run(list, pkCompare, project);
            PrintUpload(("D " + what).constData(), frontEnd, ms, 0, int(files.size()) + added);
        }
    }
    // TLS: a first upload over a new project's sessions.
    TPyftpdlibOptions tls;
    tls.Tls = true;
    const std::unique_ptr<TFtpTestServer> server = StartPyftpdlib({}, tls);
    if (server) {
        TProject project;
        TFileList list;
        NewProject(project, site);
        Connect(project, *server, NewProjectConnections, checkSize, true);
        const qint64 ms = frontEnd.Run(list, pkUpload, project);
        PrintUpload("A pyftpdlib, 4 connection(s), TLS", frontEnd, ms, int(files.size()) + added);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Settings and projects of the benchmark stay in a folder of its own.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/zandrel-bench-home-XXXXXX"));
    const QByteArray root = home.path().toUtf8();
    if (qEnvironmentVariable("ZANDREL_BENCH_HOME").isEmpty()) {
        ::setenv("ZANDREL_BENCH_HOME", root.constData(), 1);
        ::setenv("HOME", root.constData(), 1);
        ::setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
        ::setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    }
    QCoreApplication::setOrganizationName(QStringLiteral("morvate"));
    QCoreApplication::setApplicationName(QStringLiteral("Zandrel"));
    QCoreApplication app(argc, argv);
    // The refresh runs in child processes that write to the same output.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QStringList args = QCoreApplication::arguments();

    if (args.size() >= 3 && args.at(1) == QLatin1String("--refresh-only"))
        return RefreshOnly(args.at(2));
    if (args.size() >= 3 && args.at(1) == QLatin1String("--save"))
        return SaveOnly(qMax(1, args.at(2).toInt()));
    int big = 100000;
    const qsizetype bigAt = args.indexOf(QLatin1String("--big"));
    if (bigAt > 0 && bigAt + 1 < args.size())
        big = qMax(1, args.at(bigAt + 1).toInt());
    return FullRun(big, args.contains(QLatin1String("--check-size")));
}
