// Interrupted operations: Abort while a slow transfer blocks the worker, a server that dies
// in the middle of an upload, and a connection dropped while the user answers questions.
#include "engine/FileLib.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTimer>

namespace {

class Interrupted : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString site;
    TFileList list;
    TTestFrontEnd frontEnd;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        site = dir.path() + QStringLiteral("/site/");
        QDir().mkpath(site);
    }
    void Write(const QString &relative, const QByteArray &data)
    {
        WriteWholeFile(site + relative, data);
    }
    QStringList Uploaded() const
    {
        QStringList files = frontEnd.TextsStartingWith(QStringLiteral("uploading "));
        for (QString &file : files)
            file.remove(0, 10 + site.size());
        return files;
    }
};

TEST_F(Interrupted, AbortReturnsControlAtOnce)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 64 * 1024;
    auto server = StartPyftpdlib(QString(), options);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get());
    Write(QStringLiteral("big.bin"), QByteArray(4 * 1024 * 1024, 'b')); // about a minute
    Write(QStringLiteral("small.txt"), "small");

    QElapsedTimer sinceAbort;
    qint64 endAfterMs = -1;
    frontEnd.OnLogLine = [&](const QString &text) {
        if (text != QStringLiteral("uploading ") + site + QStringLiteral("big.bin"))
            return;
        QTimer::singleShot(400, &frontEnd, [&] {
            ASSERT_NE(frontEnd.Current, nullptr);
            sinceAbort.start();
            frontEnd.Current->Abort();
        });
    };
    frontEnd.OnEnd = [&] {
        if (sinceAbort.isValid())
            endAfterMs = sinceAbort.elapsed();
    };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));

    ASSERT_TRUE(sinceAbort.isValid());
    EXPECT_EQ(frontEnd.Ends, 1);
    EXPECT_TRUE(frontEnd.Aborted);
    ASSERT_GE(endAfterMs, 0);
    EXPECT_LT(endAfterMs, 1000); // about 500 ms by design
    RecordProperty("EndAfterMs", int(endAfterMs));
    EXPECT_EQ(Uploaded(), QStringList{QStringLiteral("big.bin")});

    // The abandoned worker says nothing more and has left the list and records alone.
    TTestFrontEnd::Idle(1000);
    EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);
    EXPECT_EQ(project->Versions.FindOrAdd(QStringLiteral("big.bin"))->Date, 0);
    const TFileListItem *big = FindItem(list, QStringLiteral("big.bin"));
    ASSERT_NE(big, nullptr);
    EXPECT_FALSE(big->Synchronous);

    // The list belongs to the front end again: the next operation runs normally.
    ASSERT_TRUE(frontEnd.Run(list, pkRefresh, *project));
    EXPECT_FALSE(FindItem(list, QStringLiteral("big.bin"))->Synchronous);
    EXPECT_FALSE(FindItem(list, QStringLiteral("small.txt"))->Synchronous);
}

TEST_F(Interrupted, AbortBetweenFilesEndsWithoutAbandoning)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get());
    for (int i = 0; i < 20; ++i)
        Write(QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "data");
    // Abort while the first item is reported: the worker waits in that hand-over and stops
    // before the next file.
    bool aborted = false;
    frontEnd.OnLogLine = [&](const QString &text) {
        if (!aborted && text.startsWith(QStringLiteral("uploading "))) {
            aborted = true;
            frontEnd.Current->Abort();
        }
    };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_TRUE(frontEnd.Aborted);
    EXPECT_LT(Uploaded().size(), 20);
    EXPECT_EQ(frontEnd.LastLine(), QStringLiteral("0 folder(s) have been created and %1 file(s) "
                                                  "have been uploaded")
                                       .arg(frontEnd.FilesCount));
    EXPECT_EQ(list.CountOutdated(true), 20 - frontEnd.FilesCount);
}

TEST_F(Interrupted, LostConnectionLeavesUnsentFilesOutdated)
{
    QTemporaryDir serverRoot;
    ASSERT_TRUE(serverRoot.isValid());
    TPyftpdlibOptions slow;
    slow.BandwidthLimit = 128 * 1024;
    auto server = StartPyftpdlib(serverRoot.path(), slow);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get());
    Write(QStringLiteral("a.txt"), "first");
    Write(QStringLiteral("b.bin"), QByteArray(3 * 1024 * 1024, 'x')); // about 25 s
    Write(QStringLiteral("c.txt"), "third");
    Write(QStringLiteral("d/e.txt"), "fourth");

    frontEnd.OnLogLine = [&](const QString &text) {
        if (text == QStringLiteral("uploading ") + site + QStringLiteral("b.bin"))
            QTimer::singleShot(700, &frontEnd, [&] { server->Stop(); });
    };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_TRUE(frontEnd.HadErrors);
    EXPECT_FALSE(frontEnd.Aborted);
    // Every later file fails on its own.
    EXPECT_EQ(frontEnd.Texts(1).size(), 3)
        << frontEnd.Texts(1).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Uploaded(), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.bin"),
                                       QStringLiteral("c.txt"), QStringLiteral("d/e.txt")}));
    EXPECT_EQ(project->Versions.FindOrAdd(QStringLiteral("a.txt"))->Date,
              GetFileAge(site + QStringLiteral("a.txt")));
    for (const char *name : {"b.bin", "c.txt", "d\\e.txt"})
        EXPECT_EQ(project->Versions.FindOrAdd(QString::fromLatin1(name))->Date, 0) << name;

    // The server comes back on the same folder: exactly the unsent files go.
    server.reset();
    auto again = StartPyftpdlib(serverRoot.path());
    ASSERT_TRUE(again);
    SetText(*project, "Port", QString::number(again->Port));
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Texts(1).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Uploaded(), (QStringList{QStringLiteral("b.bin"), QStringLiteral("c.txt"),
                                       QStringLiteral("d/e.txt")}));
    EXPECT_EQ(TreeOf(serverRoot.path()), TreeOf(site));
}

TEST_F(Interrupted, RemovalReconnectsAfterTheQuestions)
{
    QTemporaryDir serverRoot;
    ASSERT_TRUE(serverRoot.isValid());
    auto server = StartPyftpdlib(serverRoot.path());
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get());
    Write(QStringLiteral("keep.txt"), "keep");
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    WriteWholeFile(serverRoot.path() + QStringLiteral("/gone.txt"), "gone");
    const quint16 firstPort = server->Port;

    // While the question is open the server restarts elsewhere: the connection is dead.
    frontEnd.Answers = {mrYes};
    frontEnd.OnAsk = [&] {
        server.reset();
        server = StartPyftpdlib(serverRoot.path());
        ASSERT_TRUE(server);
        SetText(*project, "Port", QString::number(server->Port));
    };
    ASSERT_TRUE(frontEnd.Run(list, pkRemove, *project));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Texts(1).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(frontEnd.TextsStartingWith(QStringLiteral("connecting to ")),
              (QStringList{QStringLiteral("connecting to 127.0.0.1 port %1").arg(firstPort),
                           QStringLiteral("connecting to 127.0.0.1 port %1").arg(server->Port)}));
    EXPECT_EQ(frontEnd.LastLine(), QStringLiteral("0 folder(s) and 1 file(s) have been removed"));
    EXPECT_FALSE(QFileInfo::exists(serverRoot.path() + QStringLiteral("/gone.txt")));
}

} // namespace
