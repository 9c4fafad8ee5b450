#pragma once

// A tiny FTP server on loopback for the faults a real server does not show (silence, cut
// connections, odd replies). It runs on a thread of its own; the test scripts every reply. One
// connection at a time; the script gets the connection's number (0, 1, ...).

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class TScriptedFtpServer;

class TScriptedConnection
{
public:
    TScriptedConnection(TScriptedFtpServer &server, int fd)
        : m_server(server)
        , m_fd(fd)
    {
    }
    ~TScriptedConnection();

    void Send(const QByteArray &bytes);
    void Reply(const QByteArray &line) { Send(line + "\r\n"); }
    // The next command line; empty once the client has gone.
    QByteArray Command();
    // Greeting, USER, PASS and FEAT (no features).
    void Login();
    // A passive data port on loopback; the reply names it.
    QByteArray Epsv();
    int AcceptData();
    void CloseData(int fd);
    // Blocks until the client closes the connection (or the server stops).
    void WaitForClose()
    {
        while (!Command().isEmpty()) {
        }
    }
    static QByteArray ReadAll(int fd, qint64 limit = -1);

private:
    TScriptedFtpServer &m_server;
    int m_fd;
    int m_listener = -1;
    QByteArray m_buffer;
};

class TScriptedFtpServer
{
public:
    using TScript = std::function<void(TScriptedConnection &connection, int number)>;

    explicit TScriptedFtpServer(TScript script, bool ipv6 = false)
        : m_script(std::move(script))
        , m_ipv6(ipv6)
    {
        m_listener = Listen(&m_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~TScriptedFtpServer()
    {
        m_stopping = true;
        {
            std::lock_guard lock(m_mutex);
            for (int fd : m_fds)
                ::shutdown(fd, SHUT_RDWR);
        }
        m_thread.join();
    }
    quint16 Port() const { return m_port; }
    // Every command the server read, in order.
    QList<QByteArray> Commands() const
    {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }

    // A listening socket on 127.0.0.1 (or ::1) with a free port; the server shuts it down when
    // it stops.
    int Listen(quint16 *port)
    {
        const int fd = ::socket(m_ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        sockaddr *address
            = m_ipv6 ? reinterpret_cast<sockaddr *>(&v6) : reinterpret_cast<sockaddr *>(&v4);
        socklen_t length = m_ipv6 ? sizeof v6 : sizeof v4;
        ::bind(fd, address, length);
        ::listen(fd, 4);
        ::getsockname(fd, address, &length);
        *port = ntohs(m_ipv6 ? v6.sin6_port : v4.sin_port);
        Track(fd);
        return fd;
    }
    void Track(int fd)
    {
        std::lock_guard lock(m_mutex);
        m_fds.push_back(fd);
        if (m_stopping)
            ::shutdown(fd, SHUT_RDWR);
    }
    void Close(int fd)
    {
        {
            std::lock_guard lock(m_mutex);
            m_fds.erase(std::remove(m_fds.begin(), m_fds.end(), fd), m_fds.end());
        }
        ::close(fd);
    }
    void Record(const QByteArray &command)
    {
        std::lock_guard lock(m_mutex);
        m_commands.append(command);
    }

private:
    void Run()
    {
        for (int number = 0; !m_stopping; ++number) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            Track(fd);
            TScriptedConnection connection(*this, fd);
            m_script(connection, number);
        }
        Close(m_listener);
    }

    TScript m_script;
    bool m_ipv6 = false;
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::vector<int> m_fds;
    QList<QByteArray> m_commands;
};

inline TScriptedConnection::~TScriptedConnection()
{
    if (m_listener >= 0)
        m_server.Close(m_listener);
    m_server.Close(m_fd);
}

inline void TScriptedConnection::Send(const QByteArray &bytes)
{
    ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
}

inline QByteArray TScriptedConnection::Command()
{
    for (;;) {
        const qsizetype end = m_buffer.indexOf("\r\n");
        if (end >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 2);
            m_server.Record(line);
            return line;
        }
        char chunk[4096];
        const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return {};
        m_buffer.append(chunk, got);
    }
}

inline void TScriptedConnection::Login()
{
    Reply("220 Scripted server");
    Command(); // USER
    Reply("331 Password please");
    Command(); // PASS
    Reply("230 Logged in");
    Command(); // FEAT
    Reply("211-Features:\r\n EPSV\r\n211 End");
}

inline QByteArray TScriptedConnection::Epsv()
{
    if (m_listener >= 0)
        m_server.Close(m_listener);
    quint16 port = 0;
    m_listener = m_server.Listen(&port);
    return "229 Entering Extended Passive Mode (|||" + QByteArray::number(port) + "|)";
}

inline int TScriptedConnection::AcceptData()
{
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0)
        m_server.Track(fd);
    return fd;
}

inline void TScriptedConnection::CloseData(int fd)
{
    if (fd >= 0)
        m_server.Close(fd);
}

inline QByteArray TScriptedConnection::ReadAll(int fd, qint64 limit)
{
    QByteArray data;
    char chunk[65536];
    while (limit < 0 || data.size() < limit) {
        const qint64 want = limit < 0 ? qint64(sizeof chunk)
                                      : std::min<qint64>(sizeof chunk, limit - data.size());
        const ssize_t got = ::recv(fd, chunk, size_t(want), 0);
        if (got <= 0)
            break;
        data.append(chunk, got);
    }
    return data;
}
