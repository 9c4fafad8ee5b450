#include "engine/SessionPool.h"

#include <chrono>
#include <utility>

namespace {

QString NotTried()
{
    return QStringLiteral("not tried: no connection to the server is left");
}

QString FailureText(const std::exception &error)
{
    return QString::fromUtf8(error.what());
}

} // namespace

TSessionPool::TSessionPool(TFtp &primary, int size)
    : m_primary(primary)
    , m_limit(qMax(1, size))
    , m_pipeliningOff(!primary.Pipelining)
{
}

TSessionPool::~TSessionPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        // Normally every job has ended by now; a session still logging in or still at work
        // (the caller unwinds) must not hold the close up.
        for (const auto &session : m_sessions) {
            if (session->Job != 0 || (session->Own && !session->Ready))
                session->Ftp->Abort();
        }
        FailQueued(QString(), true);
    }
    m_jobsChanged.notify_all();
    for (const auto &session : m_sessions) {
        if (session->Thread.joinable())
            session->Thread.join();
    }
    m_primary.OnProgress = nullptr;
    // A port the primary asked for ahead stays for its next transfer or goes with its QUIT.
    m_primary.PrefetchPassive = false;
}

int TSessionPool::Capacity() const
{
    std::lock_guard lock(m_mutex);
    return m_limit;
}

quint64 TSessionPool::Submit(TBody body)
{
    std::lock_guard lock(m_mutex);
    const quint64 id = ++m_lastId;
    if (m_aborted) {
        Post({TEvent::Done, id, QString(), true});
        return id;
    }
    if (m_limit <= 0) {
        Post({TEvent::Done, id, NotTried(), false});
        return id;
    }
    m_queue.push_back({id, std::move(body)});
    if (m_sessions.empty()) {
        Spawn(nullptr, &m_primary);
    } else if (qsizetype(m_queue.size()) > m_free && m_alive < m_limit) {
        SpawnExtra();
    }
    m_jobsChanged.notify_one();
    return id;
}

void TSessionPool::Open(int sessions)
{
    std::lock_guard lock(m_mutex);
    if (m_aborted || m_closing)
        return;
    if (m_sessions.empty())
        Spawn(nullptr, &m_primary);
    while (m_alive < qMin(sessions, m_limit))
        SpawnExtra();
}

void TSessionPool::SpawnExtra()
{
    auto own = std::make_unique<TFtp>();
    own->Protocol = m_primary.Protocol;
    own->ServerName = m_primary.ServerName;
    own->ServerPort = m_primary.ServerPort;
    own->UserName = m_primary.UserName;
    own->Password = m_primary.Password;
    own->KeyPassphrase = m_primary.KeyPassphrase;
    own->Passive = m_primary.Passive;
    own->Timeout = m_primary.Timeout;
    own->Proxy = m_primary.Proxy;
    own->Encryption = m_primary.Encryption;
    own->TrustedFingerprint = m_primary.TrustedFingerprint;
    own->RememberHostKey = m_primary.RememberHostKey;
    own->ExpectTls = m_primary.ExpectTls;
    own->VerifyStoredSize = m_primary.VerifyStoredSize;
    own->Pipelining = !m_pipeliningOff;
    own->OnCommand = m_primary.OnCommand;
    own->OnReply = m_primary.OnReply;
    TFtp *ftp = own.get();
    Spawn(std::move(own), ftp);
}

void TSessionPool::Spawn(std::unique_ptr<TFtp> own, TFtp *ftp)
{
    auto session = std::make_unique<TSession>();
    TSession *s = session.get();
    s->Ready = !own;
    s->Own = std::move(own);
    s->Ftp = ftp;
    // The pool's sessions have transfers to come; an idle one gives its port back (Serve).
    ftp->PrefetchPassive = true;
    ftp->OnProgress = [this, s](TFtp *, qint64 bytes) {
        m_bytes += bytes;
        s->JobBytes += bytes;
    };
    ++m_alive;
    ++m_free;
    if (s->Own)
        ++m_loggingIn;
    m_sessions.push_back(std::move(session));
    s->Thread = std::thread([this, s] { Serve(*s); });
}

bool TSessionPool::NextEvent(TEvent &event, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    if (!m_eventsChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return !m_events.empty(); }))
        return false;
    event = std::move(m_events.front());
    m_events.pop_front();
    return true;
}

void TSessionPool::Abort()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_aborted)
            return;
        m_aborted = true;
        for (const auto &session : m_sessions)
            session->Ftp->Abort();
        FailQueued(QString(), true);
    }
    m_jobsChanged.notify_all();
}

qint64 TSessionPool::JobBytes(quint64 job) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &session : m_sessions) {
        if (session->Job == job)
            return session->JobBytes;
    }
    return 0;
}

TFtp::TStats TSessionPool::ExtraStats() const
{
    std::lock_guard lock(m_mutex);
    TFtp::TStats total;
    for (const auto &session : m_sessions) {
        if (!session->Own)
            continue;
        const TFtp::TStats stats = session->Own->Stats();
        total.Commands += stats.Commands;
        total.RoundTrips += stats.RoundTrips;
        total.Connections += stats.Connections;
    }
    return total;
}

// ---- session threads ----

void TSessionPool::Serve(TSession &session)
{
    if (session.Own && !LogIn(session))
        return;
    std::unique_lock lock(m_mutex);
    const auto hasWork = [this] { return m_closing || m_aborted || !m_queue.empty(); };
    for (;;) {
        // Servers give up a waiting data port after a while with a reply of their own
        // (pyftpdlib after 30 s), which would answer the next command in its place.
        if (session.Ftp->HasPrefetchedPassive()) {
            if (!m_jobsChanged.wait_for(lock, std::chrono::seconds(3), hasWork)) {
                lock.unlock();
                session.Ftp->ReleasePassive();
                lock.lock();
                continue;
            }
        }
        m_jobsChanged.wait(lock, hasWork);
        if (m_queue.empty())
            break;
        TJob job = std::move(m_queue.front());
        m_queue.pop_front();
        --m_free;
        session.Job = job.Id;
        session.JobBytes = 0;
        lock.unlock();
        bool lost = false;
        const QString failure = RunJob(session, job, lost);
        lock.lock();
        session.Job = 0;
        session.JobBytes = 0;
        Post({TEvent::Done, job.Id, failure, !failure.isEmpty() && m_aborted});
        if (lost) {
            Retire();
            break;
        }
        ++m_free;
    }
    lock.unlock();
    if (session.Own)
        session.Ftp->Disconnect();
}

bool TSessionPool::LogIn(TSession &session)
{
    QString failure;
    try {
        session.Ftp->Connect();
    } catch (const std::exception &error) {
        failure = FailureText(error);
    }
    std::lock_guard lock(m_mutex);
    --m_loggingIn;
    if (failure.isEmpty()) {
        session.Ready = true;
    } else {
        --m_free;
        if (!m_aborted && m_refusal.isEmpty())
            m_refusal = failure;
        Retire();
    }
    AnnounceRefusal();
    return failure.isEmpty();
}

QString TSessionPool::Attempt(TSession &session, const TJob &job)
{
    try {
        job.Body(*session.Ftp);
        return {};
    } catch (const std::exception &error) {
        return FailureText(error);
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

bool TSessionPool::Reopen(TSession &session, bool &lost, const std::function<QString()> &notice)
{
    session.Ftp->Disconnect();
    // Disconnect made the session usable again, also after an Abort that came just now.
    if (m_aborted)
        return false;
    try {
        session.Ftp->Connect();
    } catch (const std::exception &) {
        lost = true;
        return false;
    }
    std::lock_guard lock(m_mutex);
    const QString text = notice();
    if (!text.isEmpty())
        Post({TEvent::Notice, 0, text, false});
    return true;
}

QString TSessionPool::RunJob(TSession &session, const TJob &job, bool &lost)
{
    const bool pipelined = session.Ftp->Pipelining;
    QString failure = Attempt(session, job);
    if (failure.isEmpty() || m_aborted || !session.Ftp->Lost())
        return failure;
    // A server that mishandles commands sent together costs one new login per session, which
    // then sends one command at a time; that is said once, and later sessions start that way.
    if (pipelined && !session.Ftp->Pipelining) {
        const auto notice = [&] {
            return std::exchange(m_pipeliningOff, true)
                       ? QString()
                       : QStringLiteral("the server mishandles commands sent together (%1): the "
                                        "sessions send one command at a time from now on")
                             .arg(failure);
        };
        if (!Reopen(session, lost, notice))
            return failure;
        failure = Attempt(session, job);
        if (failure.isEmpty() || m_aborted || !session.Ftp->Lost())
            return failure;
    }
    // Servers drop idle connections, and links break: one new login per session, then the
    // same job again.
    if (session.Reopened) {
        lost = true;
        return failure;
    }
    session.Reopened = true;
    if (!Reopen(session, lost, [] {
            return QStringLiteral(
                "the connection to the server was lost and has been opened again");
        }))
        return failure;
    failure = Attempt(session, job);
    lost = !failure.isEmpty() && session.Ftp->Lost();
    return failure;
}

void TSessionPool::Retire()
{
    --m_alive;
    // No new session replaces it: a server that refused or dropped one will do it again.
    m_limit = m_alive;
    // The failure belongs to the job that met it; the jobs still waiting were never tried.
    if (m_limit <= 0)
        FailQueued(NotTried(), false);
}

void TSessionPool::AnnounceRefusal()
{
    // Once every session has tried, so the line can say how many there are.
    if (m_refusal.isEmpty() || m_refusalAnnounced || m_loggingIn > 0 || m_aborted)
        return;
    m_refusalAnnounced = true;
    Post({TEvent::Notice, 0,
          QStringLiteral("the server refused another connection (%1): going on with %2 "
                         "connection(s)")
              .arg(m_refusal)
              .arg(m_alive),
          false});
}

void TSessionPool::FailQueued(const QString &failure, bool aborted)
{
    while (!m_queue.empty()) {
        Post({TEvent::Done, m_queue.front().Id, failure, aborted});
        m_queue.pop_front();
    }
}

void TSessionPool::Post(TEvent event)
{
    m_events.push_back(std::move(event));
    m_eventsChanged.notify_all();
}
