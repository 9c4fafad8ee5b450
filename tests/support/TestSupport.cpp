#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

QByteArray ReadWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
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
