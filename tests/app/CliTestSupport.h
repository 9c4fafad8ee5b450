#pragma once

// Running the real zandrel-cli from tests: the child inherits the test's private HOME and
// XDG folders, so it sees the same projects folder as ProjectsFolder() in the test.

#include "store/PrjCls.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

inline QString CliProgram()
{
    return QStringLiteral(ZANDREL_BINARY_DIR "/app/zandrel-cli");
}

struct TCliResult
{
    int ExitCode = -1;
    QString Out;
    QString Err;

    QStringList Lines() const { return Out.split(u'\n', Qt::SkipEmptyParts); }
    QString Last() const { return Lines().value(Lines().size() - 1); }
};

inline QProcessEnvironment CliEnvironment(const QMap<QString, QString> &extra = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"ZANDREL_PASSWORD"_s);
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        env.insert(it.key(), it.value());
    return env;
}

// Runs zandrel-cli to its end with stdin at end of file (not a terminal).
inline TCliResult RunCli(const QStringList &args, const QMap<QString, QString> &env = {})
{
    QProcess process;
    process.setProcessEnvironment(CliEnvironment(env));
    process.start(CliProgram(), args);
    process.closeWriteChannel();
    TCliResult result;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        result.ExitCode = process.exitCode();
    result.Out = QString::fromUtf8(process.readAllStandardOutput());
    result.Err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// DOS times have a 2-second grain: test files get times far apart.
inline void SetFileTime(const QString &path, int minutes)
{
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(QDateTime(QDate(2020, 1, 2), QTime(12, 0)).addSecs(minutes * 60),
                         QFileDevice::FileModificationTime);
}

// Relative paths of every file and folder below root ("img/", "img/logo.png"), sorted.
inline QStringList TreeOf(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries.append(QDir(root).relativeFilePath(path) + (it.fileInfo().isDir() ? "/" : ""));
    }
    entries.sort();
    return entries;
}

// Each test starts with an empty projects folder and a small site: pages, a style sheet, a
// binary image, a sub folder, an empty folder and an ignored "*.bak" file.
class CliTestBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ProjectsFolder()).removeRecursively();
        ASSERT_TRUE(m_temp.isValid());
        m_site = m_temp.path() + u"/site"_s;
        WriteWholeFile(m_site + u"/index.html"_s, "<html>index</html>\n");
        WriteWholeFile(m_site + u"/style.css"_s, "body { margin: 0 }\n");
        QByteArray image;
        for (int i = 0; i < 3000; ++i)
            image.append(char(i * 7 % 256));
        WriteWholeFile(m_site + u"/img/logo.png"_s, image);
        WriteWholeFile(m_site + u"/sub/page.html"_s, "<html>page</html>\n");
        WriteWholeFile(m_site + u"/old.bak"_s, "backup\n");
        QDir().mkpath(m_site + u"/empty"_s);
        for (const QString &file : TreeOf(m_site))
            SetFileTime(m_site + u'/' + file, 0);
    }

    QString TempPath(const QString &name) const { return m_temp.path() + u'/' + name; }

    QString WritePasswordFile(const QString &password)
    {
        const QString file = TempPath(u"password-%1"_s.arg(++m_passwordFiles));
        WriteWholeFile(file, password.toUtf8() + "\nsecond line ignored\n");
        return file;
    }

    // A project for the server, its password stored unless told otherwise.
    QString NewProject(const TFtpTestServer &server, bool storePassword = true)
    {
        QStringList args = {u"new"_s,
                            u"--path"_s,
                            m_site,
                            u"--host"_s,
                            server.Host,
                            u"--port"_s,
                            QString::number(server.Port),
                            u"--user"_s,
                            server.User};
        if (storePassword)
            args << u"--password-file"_s << WritePasswordFile(server.Password);
        const TCliResult result = RunCli(args);
        EXPECT_EQ(result.ExitCode, 0) << result.Err.toStdString();
        return result.Last();
    }

    QStringList SiteTree() const
    {
        QStringList tree = TreeOf(m_site);
        tree.removeAll(u"old.bak"_s);
        return tree;
    }

    QTemporaryDir m_temp;
    QString m_site;
    int m_passwordFiles = 0;
};
