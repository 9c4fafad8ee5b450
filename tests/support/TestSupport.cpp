#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

QByteArray ReadWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteWholeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

QString TestDataPath(const QString &name)
{
    return QStringLiteral(ZANDREL_TESTDATA_DIR "/") + name;
}

QMap<QString, QByteArray> TreeOf(const QString &root, const QStringList &leaveOut)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (!leaveOut.contains(relative))
            tree.insert(relative + (it.fileInfo().isDir() ? "/" : ""),
                        it.fileInfo().isDir() ? QByteArray() : ReadWholeFile(path));
    }
    return tree;
}

void SetFileAge(const QString &path, qint64 secondsAgo)
{
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                         QFileDevice::FileModificationTime);
}

QString TinyDisk()
{
    return qEnvironmentVariable("ZANDREL_TEST_TINY_DISK");
}

QString RunTestOnTinyDisk()
{
    if (::geteuid() != 0)
        return "mounting a small tmpfs needs root";
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    QTemporaryDir mountPoint;
    QProcess inner;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZANDREL_TEST_TINY_DISK", mountPoint.path());
    inner.setProcessEnvironment(environment);
    inner.setProcessChannelMode(QProcess::MergedChannels);
    inner.start("unshare",
                {"--mount", "--propagation", "private", "sh", "-c",
                 "mount -t tmpfs -o size=64k,mode=0755 zandrel-tiny \"$0\" && exec \"$@\"",
                 mountPoint.path(), QFileInfo("/proc/self/exe").symLinkTarget(),
                 QString("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    if (!inner.waitForStarted())
        return "unshare is not installed";
    if (!inner.waitForFinished(240000))
        inner.kill();
    const QString output = QString::fromLocal8Bit(inner.readAll());
    if (output.contains("unshare failed") || output.contains("mount: "))
        return "no private mount namespace here: " + output.trimmed();
    EXPECT_TRUE(inner.exitStatus() == QProcess::NormalExit && inner.exitCode() == 0
                && output.contains("[  PASSED  ] 1 test"))
        << output.toStdString();
    return {};
}

void FillDisk(const QString &folder)
{
    QFile filler(folder + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    while (filler.write(block) > 0)
        ;
    // Full to the last page: one more byte has nowhere to go.
    ASSERT_EQ(filler.write("f", 1), -1);
}
