#pragma once

#include "ftp/FtpWininet.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Several FTP sessions of one server, each on a thread of its own, taking queued jobs in order.
// The first session is the caller's own, already logged in; the others log in when there is
// work waiting for them, so a small job opens no more connections than it can use. A server
// that refuses another connection leaves the work on the sessions it has; a session that loses
// its connection opens it again once. A caller that knows the work to come may open them all
// at once (Open).
//
// Job bodies run on the session threads: they get the session's TFtp and must touch nothing
// else of the caller's but what they were given. Their failures come back as text.
class TSessionPool
{
public:
    struct TEvent
    {
        enum TKind { Done, Notice };
        TKind Kind = Done;
        quint64 Job = 0;
        QString Text;         // Done: the failure, empty on success; Notice: the line to log
        bool Aborted = false; // Done: ended by Abort, not by the server
    };
    using TBody = std::function<void(TFtp &ftp)>;

    TSessionPool(TFtp &primary, int size);
    // Closes the extra sessions and waits for their threads; the primary stays connected.
    ~TSessionPool();
    TSessionPool(const TSessionPool &) = delete;
    TSessionPool &operator=(const TSessionPool &) = delete;

    // Sessions that can take jobs now or once logged in; at least one job may always be queued
    // (with no session left it ends at once as not tried).
    int Capacity() const;
    quint64 Submit(TBody body);
    // Logs in up to `sessions` sessions now, before their work is queued, so their logins
    // overlap the work that has to come first.
    void Open(int sessions);
    // Waits up to timeoutMs for the next event; false when none came.
    bool NextEvent(TEvent &event, int timeoutMs);
    // Any thread: every running call fails at once and every queued job ends as aborted. The
    // pool takes no more work afterwards.
    void Abort();

    qint64 BytesMoved() const { return m_bytes.load(); }
    // Bytes the job has moved so far; 0 before it starts and after it ends.
    qint64 JobBytes(quint64 job) const;
    // Wire figures of the sessions the pool opened itself.
    TFtp::TStats ExtraStats() const;

private:
    struct TJob
    {
        quint64 Id = 0;
        TBody Body;
    };
    struct TSession
    {
        std::unique_ptr<TFtp> Own; // empty for the primary
        TFtp *Ftp = nullptr;
        std::thread Thread;
        bool Ready = false; // logged in
        bool Reopened = false;
        quint64 Job = 0; // the running job
        std::atomic<qint64> JobBytes{0};
    };

    void Spawn(std::unique_ptr<TFtp> own, TFtp *ftp); // with m_mutex held
    void SpawnExtra();                                // with m_mutex held
    void Serve(TSession &session);
    bool LogIn(TSession &session);
    QString Attempt(TSession &session, const TJob &job);
    // The job's failure, empty on success; `lost` tells that the session cannot go on.
    QString RunJob(TSession &session, const TJob &job, bool &lost);
    // Logs the session in again, then posts what `notice` says (under m_mutex; nothing when
    // empty). False when the pool was aborted or the login failed (then `lost`).
    bool Reopen(TSession &session, bool &lost, const std::function<QString()> &notice);
    void Retire();           // a session ends for good; with m_mutex held
    void Post(TEvent event); // with m_mutex held
    void FailQueued(const QString &failure, bool aborted); // with m_mutex held
    void AnnounceRefusal();                                // with m_mutex held

    TFtp &m_primary;

    mutable std::mutex m_mutex;
    std::condition_variable m_jobsChanged;
    std::condition_variable m_eventsChanged;
    std::deque<TJob> m_queue;
    std::deque<TEvent> m_events;
    std::vector<std::unique_ptr<TSession>> m_sessions;
    quint64 m_lastId = 0;
    int m_limit;         // sessions that may exist: the size, or those left after a retirement
    int m_alive = 0;     // sessions not retired
    int m_free = 0;      // sessions logging in or waiting for a job
    int m_loggingIn = 0; // extra sessions not logged in yet
    bool m_closing = false;
    std::atomic<bool> m_aborted{false};
    QString m_refusal; // the first refused connection, until announced
    bool m_refusalAnnounced = false;
    bool m_pipeliningOff; // a session found the server mishandles commands sent together
    std::atomic<qint64> m_bytes{0};
};
