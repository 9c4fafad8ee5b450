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
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Server options are written as designated initializers; the members left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

class TTestFrontEnd : public QObject, public IPublishFrontEnd
{
public:
    QStringList Lines, Errors, Questions, PlainQuestions; // Errors: the log lines of level 1
    QList<int> Answers; // scripted answers, in order; Cancel when they run out
    int FillViews = 0, Ends = 0, ReportsAfterEnd = 0, AskDelayMs = 0; // delays the next answer
    bool Aborted = false, HadErrors = false, SaveRecordsAsItGoes = false;
    bool TrustThem = false, AllowPlain = false;
    qint32 RecordSaves = 0;
    TFtp::TStats FtpStats;
    QList<TCertificateInfo> Certificates;
    std::function<void(const QString &text)> OnLogLine; // test hooks (abort, stop a server)
    std::function<void()> OnEnd;
    TPublishOperator *Current = nullptr;
    // The server's own path of the site's folder (sshd's), noted as "" so texts read as for the
    // other servers: "/docs/".
    QString ServerBase;

    void LogLine(int level, const QString &line) override
    {
        const QString text = Shown(line);
        Lines << Note(text);
        if (level == 1)
            Errors << text;
        if (OnLogLine)
            OnLogLine(text);
    }
    std::function<void(int percent)> OnProgress;
    void SetProgress(int percent) override
    {
        if (OnProgress)
            OnProgress(Note(percent));
    }
    void SetStatusText(const QString &) override { Note(0); }
    void AppendLogText(const QString &) override { Note(0); }
    void ClearView(TPublishOperator *) override { Note(0); }
    void FillView(TPublishOperator *) override { FillViews += Note(1); }
    void ItemChanged(TFileListItem *) override { Note(0); }
    QString Passphrase; // the answer to a key's passphrase question
    int PassphraseQuestions = 0;
    bool AskPassphrase(const QString &, QString &passphrase) override
    {
        ++PassphraseQuestions;
        passphrase = Passphrase;
        return !passphrase.isEmpty();
    }
    bool TrustCertificate(const TCertificateInfo &c) override
    {
        Certificates << Note(c);
        return TrustThem;
    }
    bool AllowPlainLogin(const QString &text) override
    {
        PlainQuestions << Note(text);
        return AllowPlain;
    }
    int Ask(const QString &text) override
    {
        Questions << Note(Shown(text));
        Idle(std::exchange(AskDelayMs, 0));
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
        for (QStringList *texts : {&Lines, &Errors, &Questions})
            texts->clear();
        FillViews = Ends = ReportsAfterEnd = 0;
        Current = new TPublishOperator(&list, kind, &project, this);
        Current->SaveRecordsAsItGoes = SaveRecordsAsItGoes;
        QEventLoop loop;
        QPointer<TPublishOperator> op = Current;
        QObject::connect(op, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        op->start();
        if (started)
            started(op);
        if (op)
            loop.exec();
        return Ends == 1 && !op;
    }
    static void Idle(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QStringList StartingWith(const QString &prefix) const
    {
        const QRegularExpression start("^" + QRegularExpression::escape(prefix));
        return Lines.filter(start).replaceInStrings(start, {});
    }
    QString LastLine() const { return Lines.value(Lines.size() - 1); }
    std::string Dump() const { return Lines.join('\n').toStdString(); }
    std::string ErrorDump() const { return Errors.join('\n').toStdString(); }

private:
    QString Shown(const QString &text) const
    {
        return ServerBase.isEmpty() ? text : QString(text).replace(ServerBase + '/', "/");
    }
    template <class T> T Note(T value) // counts reports that arrive after OperationEnd
    {
        ReportsAfterEnd += Ends > 0;
        return value;
    }
};

inline void Set(TProject &project, const char *key, const QString &value)
{
    project.Nodes(QString::fromLatin1(key))->SetAsString(value);
}

// A new project as the options dialog leaves it, for `local` (and `server`).
inline std::unique_ptr<TProject>
MakeTestProject(const QString &local, const TFtpTestServer *server = nullptr, int connections = 1)
{
    auto project = std::make_unique<TProject>();
    project->Clear();
    project->InitDefaults();
    Set(*project, "Connections", QString::number(connections));
    Set(*project, "Path", local);
    Set(*project, "Timeout", "20");
    if (server) {
        Set(*project, "Host", server->Host);
        Set(*project, "Port", QString::number(server->Port));
        Set(*project, "User", server->User);
        Set(*project, "RemotePath", server->RemoteBase);
        project->SetPassword(server->Password);
    }
    return project;
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
inline bool Sync(const TFileList &list, const QString &relative)
{
    const TFileListItem *item = FindItem(list, relative);
    EXPECT_NE(item, nullptr) << relative.toStdString();
    return item && item->Synchronous;
}

// A file under a name Qt cannot write (not UTF-8, or with a line break), its folders made.
inline bool WriteRawName(const QByteArray &path, const QByteArray &data)
{
    for (qsizetype slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1))
        ::mkdir(path.left(slash).constData(), 0755);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool written
        = fd >= 0 && ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return fd >= 0 && ::close(fd) == 0 && written;
}

inline QByteArray RandomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (char &c : data)
        c = char(generator.generate() & 0xff);
    return data;
}

// A local site, a server folder served by "pyftpdlib", "vsftpd", "sshd" or the scripted "sftpd"
// (SFTP, password log-in), and a project joining them.
class SiteTest : public ::testing::Test
{
protected:
    QTemporaryDir dir, serverRoot;
    QString site = dir.path() + "/site/";
    TFileList list;
    TTestFrontEnd frontEnd;
    std::unique_ptr<TFtpTestServer> server;
    std::unique_ptr<TProject> project;

    void Write(const QString &relative, const QByteArray &data)
    {
        WriteWholeFile(site + relative, data);
    }
    QStringList Uploaded() const { return frontEnd.StartingWith("uploading " + site); }
    // (Re)starts the server on the same folder; the project follows it to its new port. Of the
    // options vsftpd takes the bandwidth limit.
    void Serve(const QString &kind, const TPyftpdlibOptions &options = {}, int connections = 1)
    {
        server.reset();
        server = kind == "vsftpd"
                     ? StartVsftpd(serverRoot.path(), {.MaxRate = int(options.BandwidthLimit)})
                 : kind == "sshd"  ? StartSshd(serverRoot.path())
                 : kind == "sftpd" ? StartScriptedSftp("password", serverRoot.path(), options)
                                   : StartPyftpdlib(serverRoot.path(), options);
        ASSERT_TRUE(server);
        QDir().mkpath(site);
        if (!project)
            project = MakeTestProject(site, server.get(), connections);
        frontEnd.ServerBase = server->RemoteBase == "/" ? QString() : server->RemoteBase;
        if (Sftp()) {
            UseSshdKeys(*server);
            Set(*project, "Protocol", "sftp");
        }
        Set(*project, "Port", QString::number(server->Port));
    }
    bool Sftp() const { return server && (server->Kind == "sshd" || server->Kind == "asyncssh"); }
    QString OnServer(const QString &relative) const { return server->LocalPath("/" + relative); }
    void Run(quint8 kind)
    {
        ASSERT_TRUE(frontEnd.Run(list, kind, *project));
        EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);
    }
    void RunClean(quint8 kind)
    {
        Run(kind);
        EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.ErrorDump();
    }
    void Upload() { RunClean(pkUpload); }
    // The commands the server received. vsftpd's session processes may still be writing their
    // log after the client has gone: read it until it stays the same for a moment.
    QStringList Commands() const
    {
        QStringList log = server->ProtocolLog();
        for (int i = 0; i < 30; ++i) {
            QThread::msleep(100);
            QStringList again = server->ProtocolLog();
            if (again == log)
                break;
            log = std::move(again);
        }
        return log;
    }
    int CommandCount(const QString &prefix) const
    {
        return int(
            Commands().filter(QRegularExpression("^" + QRegularExpression::escape(prefix))).size());
    }
};

// Checks every recorded file is whole on the server with its time; returns how many there are.
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
