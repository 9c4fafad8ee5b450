// Wire cost and wall time of the FTP client: uploads N small files to pyftpdlib on loopback and
// lists them. Usage: bench_ftp [N=300] [active]
#include "ftp/FtpWininet.h"
#include "tests/support/FtpServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Report(const char *what, const TFtp::TStats &before, const TFtp::TStats &after, int files,
            qint64 ms)
{
    const double n = files > 0 ? files : 1;
    std::printf("%-8s commands %6lld (%.2f/file)  round trips %6lld (%.2f/file)  "
                "connections %5lld (%.2f/file)  %6lld ms (%.3f ms/file)\n",
                what, after.Commands - before.Commands,
                double(after.Commands - before.Commands) / n, after.RoundTrips - before.RoundTrips,
                double(after.RoundTrips - before.RoundTrips) / n,
                after.Connections - before.Connections,
                double(after.Connections - before.Connections) / n, ms, double(ms) / n);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const bool passive = !(argc > 2 && std::strcmp(argv[2], "active") == 0);

    auto server = StartPyftpdlib();
    if (!server) {
        std::fprintf(stderr, "pyftpdlib did not start\n");
        return 1;
    }
    QTemporaryDir local;
    for (int i = 0; i < files; ++i) {
        QFile file(local.filePath(QStringLiteral("page%1.html").arg(i)));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(QByteArray(1024, char('a' + i % 26)));
    }

    TFtp ftp;
    ftp.ServerName = server->Host;
    ftp.ServerPort = server->Port;
    ftp.UserName = server->User;
    ftp.Password = server->Password;
    ftp.Passive = passive;
    ftp.Timeout = 30000;
    try {
        QElapsedTimer total;
        total.start();
        QElapsedTimer step;
        step.start();
        const TFtp::TStats start = ftp.Stats();
        ftp.Connect();
        ftp.CreateDir(QStringLiteral("/site"));
        const TFtp::TStats connected = ftp.Stats();
        const qint64 connectMs = step.restart();
        for (int i = 0; i < files; ++i) {
            const QString name = QStringLiteral("page%1.html").arg(i);
            ftp.PutFile(QStringLiteral("/site/") + name, local.filePath(name), false);
        }
        const TFtp::TStats uploaded = ftp.Stats();
        const qint64 uploadMs = step.restart();
        TFtpFileList list;
        ftp.FindFiles(QStringLiteral("/site"), list);
        const TFtp::TStats listed = ftp.Stats();
        const qint64 listMs = step.restart();
        ftp.Disconnect();

        std::printf("bench_ftp: %d files of 1 KiB, pyftpdlib on loopback, %s mode\n", files,
                    passive ? "passive" : "active");
        Report("setup", start, connected, 1, connectMs); // log-in, FEAT, OPTS, MKD
        Report("upload", connected, uploaded, files, uploadMs);
        Report("list", uploaded, listed, files, listMs);
        std::printf("listed %d entries; wall time %lld ms\n", list.Count(),
                    static_cast<long long>(total.elapsed()));
        return list.Count() == files ? 0 : 1;
    } catch (const EFtpError &error) {
        std::fprintf(stderr, "FTP error: %s\n", error.what());
        return 1;
    }
}
