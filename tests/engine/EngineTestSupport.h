#pragma once

// A front end for publishing tests: records everything the operator reports, answers its
// questions from a script and runs the event loop until the operator has ended and gone.

#include "engine/FileLib.h"
#include "engine/PublishOperator.h"
#include "engine/PublishVersions.h"
#include "store/PrjCls.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TTestFrontEnd : public QObject, public IPublishFrontEnd
{
public:
    QStringList Lines, Errors; // every log line; those of level 1
    QStringList StatusTexts, Appended, Questions;
    QList<int> Progress;
    QList<int> Answers; // scripted answers, in order; Cancel when they run out
    int FillViews = 0;
    QList<TFileListItem *> ChangedItems;
    int Ends = 0;
    int ReportsAfterEnd = 0; // anything that arrived after OperationEnd
    bool Aborted = false;    // the operator's flags as OperationEnd saw them
    bool HadErrors = false;
    qint32 RecordSaves = 0;
    TFtp::TStats FtpStats;
    bool SaveRecordsAsItGoes = false; // given to the operators, as the window does
    std::function<void(const QString &text)> OnLogLine; // test hooks (abort, stop a server)
    std::function<void()> OnEnd;
    TPublishOperator *Current = nullptr;

    void LogLine(int level, const QString &text) override
    {
        Lines << Note(text);
        if (level == 1)
            Errors << text;
        if (OnLogLine)
            OnLogLine(text);
    }
    void SetProgress(int percent) override { Progress << Note(percent); }
    void SetStatusText(const QString &text) override { StatusTexts << Note(text); }
    void AppendLogText(const QString &text) override { Appended << Note(text); }
    void ClearView(TPublishOperator *) override { Note(0); }
    void FillView(TPublishOperator *) override { FillViews += Note(1); }
    void ItemChanged(TFileListItem *item) override { ChangedItems << Note(item); }
    QList<TCertificateInfo> Certificates; // the ones the operator asked about
    bool TrustThem = false;
    bool TrustCertificate(const TCertificateInfo &certificate) override
    {
        Certificates << Note(certificate);
        return TrustThem;
    }
    QStringList PlainQuestions; // what AllowPlainLogin was told
    bool AllowPlain = false;
    bool AllowPlainLogin(const QString &text) override
    {
        PlainQuestions << Note(text);
        return AllowPlain;
    }
    int Ask(const QString &text) override
    {
        Questions << Note(text);
        return Answers.isEmpty() ? int(mrCancel) : Answers.takeFirst();
    }
    void OperationEnd(TPublishOperator *sender) override
    {
        ++Ends;
        Aborted = sender->Aborted;
        HadErrors = sender->HadErrors;
        RecordSaves = sender->RecordSaves;
        FtpStats = sender->FtpStats;
        Current = nullptr;
        if (OnEnd)
            OnEnd();
    }

    // Starts one operation and waits until OperationEnd has run and the operator is gone.
    bool Run(TFileList &list, quint8 kind, TProject &project,
             const std::function<void(TPublishOperator *)> &started = {})
    {
        for (QStringList *texts : {&Lines, &Errors, &StatusTexts, &Appended, &Questions})
            texts->clear();
        Progress.clear();
        ChangedItems.clear();
        FillViews = Ends = ReportsAfterEnd = 0;
        auto *op = new TPublishOperator(&list, kind, &project, this);
        op->SaveRecordsAsItGoes = SaveRecordsAsItGoes;
        bool destroyed = false;
        QEventLoop loop;
        QObject::connect(op, &QObject::destroyed, &loop, [&] {
            destroyed = true;
            loop.quit();
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        Current = op;
        op->start();
        if (started)
            started(op);
        if (!destroyed)
            loop.exec();
        return Ends == 1 && destroyed;
    }

    // Keeps the event loop running for a while (late reports would show up here).
    static void Idle(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QStringList StartingWith(const QString &prefix) const
    {
        QStringList texts;
        for (const QString &line : Lines) {
            if (line.startsWith(prefix))
                texts << line.mid(prefix.size());
        }
        return texts;
    }
    QString LastLine() const { return Lines.value(Lines.size() - 1); }

private:
    template <class T> T Note(T value)
    {
        ReportsAfterEnd += Ends > 0;
        return value;
    }
};

// A new project as the options dialog leaves it, for `local` (and `server` when given). One
// connection unless asked: most tests pin down what one session says and sends, in order.
inline std::unique_ptr<TProject>
MakeTestProject(const QString &local, const TFtpTestServer *server = nullptr, int connections = 1)
{
    auto project = std::make_unique<TProject>();
    project->Clear();
    project->InitDefaults();
    project->Nodes(QStringLiteral("Connections"))->SetAsInteger(connections);
    project->Nodes(QStringLiteral("Path"))->SetAsString(local);
    project->Nodes(QStringLiteral("Timeout"))->SetAsString(QStringLiteral("20"));
    if (server) {
        project->Nodes(QStringLiteral("Host"))->SetAsString(server->Host);
        project->Nodes(QStringLiteral("Port"))->SetAsString(QString::number(server->Port));
        project->Nodes(QStringLiteral("User"))->SetAsString(server->User);
        project->Nodes(QStringLiteral("RemotePath"))->SetAsString(server->RemoteBase);
        project->SetPassword(server->Password);
    }
    return project;
}

inline void Set(TProject &project, const char *key, const QString &value)
{
    project.Nodes(QString::fromLatin1(key))->SetAsString(value);
}

inline const TFileListItem *FindItem(const TFileList &list, const QString &relativeName)
{
    for (int i = 0; i < list.Count(); ++i) {
        if (list.Items(i)->RelativeName == relativeName)
            return list.Items(i);
    }
    return nullptr;
}

// Whether the item is in step with the server; false (and a failure) when it is not listed.
inline bool Sync(const TFileList &list, const char *relative)
{
    const TFileListItem *item = FindItem(list, QString::fromUtf8(relative));
    EXPECT_NE(item, nullptr) << relative;
    return item && item->Synchronous;
}

// A local site, its file list and a front end.
class SiteTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString site = dir.path() + "/site/";
    TFileList list;
    TTestFrontEnd frontEnd;

    void Write(const QString &relative, const QByteArray &data)
    {
        WriteWholeFile(site + relative, data);
    }
    QStringList Uploaded() const { return frontEnd.StartingWith("uploading " + site); }
};

// A file under a path given as bytes (a name that is not UTF-8, or holds a line break), its
// folders made as needed: POSIX calls only.
inline bool WriteRawName(const QByteArray &path, const QByteArray &data)
{
    for (qsizetype slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1))
        ::mkdir(path.left(slash).constData(), 0755);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool written
        = fd >= 0 && ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return fd >= 0 && ::close(fd) == 0 && written;
}

// The same bytes for the same seed.
inline QByteArray RandomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (char &c : data)
        c = char(generator.generate() & 0xff);
    return data;
}

// How many commands the server received that start with `prefix`.
inline int ProtocolCount(const TFtpTestServer &server, const QString &prefix)
{
    return int(server.ProtocolLog()
                   .filter(QRegularExpression("^" + QRegularExpression::escape(prefix)))
                   .size());
}

// A site, the server the test is instantiated with ("pyftpdlib" or "vsftpd") and a project
// that joins them over `connections` sessions.
class ServerSiteTest : public SiteTest, public ::testing::WithParamInterface<const char *>
{
protected:
    std::unique_ptr<TFtpTestServer> server;
    std::unique_ptr<TProject> project;
    int connections = 1;

    void SetUp() override
    {
        server = QString::fromLatin1(GetParam()) == "vsftpd" ? StartVsftpd() : StartPyftpdlib();
        ASSERT_TRUE(server);
        QDir().mkpath(site);
        project = MakeTestProject(site, server.get(), connections);
    }
    QString OnServer(const QString &relative) const { return server->LocalPath("/" + relative); }
    void Run(quint8 kind)
    {
        ASSERT_TRUE(frontEnd.Run(list, kind, *project));
        EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);
    }
    void RunWithoutErrors(quint8 kind)
    {
        Run(kind);
        EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    }
    int CommandCount(const QString &prefix) const { return ProtocolCount(*server, prefix); }
};

// Checks that every file the records call uploaded is whole on the server (its copy equals the
// local file, whose time is the recorded one); returns how many files are recorded.
inline int RecordsMatchServer(const TProject &project, const QString &site,
                              const TFtpTestServer &server)
{
    int files = 0;
    for (int i = 0; i < project.Versions.Count(); ++i) {
        const TVersionItem *record = project.Versions.Items(i);
        if (record->Date <= 1) // needs upload, or a folder
            continue;
        const QString relative = QString(record->FileName).replace('\\', '/');
        const QString local = QDir(site).filePath(relative);
        EXPECT_EQ(ReadWholeFile(server.LocalPath("/" + relative)), ReadWholeFile(local))
            << relative.toStdString();
        EXPECT_EQ(record->Date, GetFileAge(local)) << relative.toStdString();
        ++files;
    }
    return files;
}
