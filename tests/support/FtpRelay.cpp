#include "tests/support/FtpRelay.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(quint16 port)
{
    return sockaddr_in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

bool WriteAll(int fd, const char *data, size_t size)
{
    for (ssize_t written = 0; size > 0; data += written, size -= size_t(written)) {
        // A side that hung up is a failed write, not a SIGPIPE that ends the test program.
        if ((written = ::send(fd, data, size, MSG_NOSIGNAL)) <= 0)
            return false;
    }
    return true;
}

} // namespace

TFtpRelay::TFtpRelay(quint16 serverPort, bool stripTls)
    : StripTls(stripTls)
    , m_serverPort(serverPort)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(m_listener, 8) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0
        || ::pipe(m_stop) != 0)
        ADD_FAILURE() << "the relay cannot listen";
    Host.Kind = "relay";
    Host.Port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { Accept(); });
}

TFtpRelay::~TFtpRelay()
{
    [[maybe_unused]] const ssize_t written = ::write(m_stop[1], "x", 1);
    m_acceptor.join();
    for (std::thread &relay : m_relays)
        relay.join();
    for (int fd : {m_listener, m_stop[0], m_stop[1]})
        ::close(fd);
}

QByteArray TFtpRelay::Sent() const
{
    std::lock_guard lock(m_mutex);
    return m_sent;
}

int TFtpRelay::Connections() const
{
    std::lock_guard lock(m_mutex);
    return int(m_relays.size());
}

void TFtpRelay::Accept()
{
    for (;;) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        if (::poll(fds, 2, 60000) <= 0 || fds[1].revents)
            return;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        std::lock_guard lock(m_mutex);
        m_relays.emplace_back([this, client, strip = StripTls.load()] { Serve(client, strip); });
    }
}

void TFtpRelay::Serve(int client, bool stripTls)
{
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(m_serverPort);
    bool open
        = ::connect(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    QByteArray line; // with StripTls: the client's command being read
    char buffer[16384];
    while (open) {
        pollfd fds[3] = {{server, POLLIN, 0}, {client, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        if (::poll(fds, 3, 60000) <= 0 || fds[2].revents)
            break;
        const ssize_t got = ::read(fds[0].revents ? server : client, buffer, sizeof buffer);
        if (got <= 0 || fds[0].revents) {
            open = got > 0 && WriteAll(client, buffer, size_t(got));
            continue;
        }
        {
            std::lock_guard lock(m_mutex);
            m_sent.append(buffer, got);
        }
        line.append(buffer, got);
        // With StripTls whole command lines: AUTH never reaches the server, everything else does.
        for (qsizetype end; open && (end = stripTls ? line.indexOf('\n') : line.size() - 1) >= 0;) {
            const QByteArray command = line.left(end + 1);
            line.remove(0, end + 1);
            open = stripTls && command.toUpper().startsWith("AUTH")
                       ? WriteAll(client, "500 Unknown command.\r\n", 22)
                       : WriteAll(server, command.constData(), size_t(command.size()));
        }
    }
    ::close(client);
    ::close(server);
}
