#pragma once

// A TCP relay on loopback in front of an FTP server that keeps every byte clients send on the
// control connection: what a man in the middle sees. Data connections go to the server directly
// (EPSV names only a port). With StripTls it answers "500" to AUTH itself, as an attacker who
// removes TLS from the connection would.

#include "tests/support/FtpServers.h"

#include <QByteArray>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TFtpRelay
{
public:
    explicit TFtpRelay(quint16 serverPort, bool stripTls = false);
    ~TFtpRelay();
    TFtpRelay(const TFtpRelay &) = delete;
    TFtpRelay &operator=(const TFtpRelay &) = delete;

    QByteArray Sent() const; // every byte clients sent, all connections in order
    int Connections() const;
    TTestProcess Host;                 // where clients connect
    std::atomic<bool> StripTls{false}; // for connections accepted from now on

private:
    void Accept();
    void Serve(int client, bool stripTls);

    quint16 m_serverPort;
    int m_listener = -1;
    int m_stop[2] = {-1, -1};
    std::thread m_acceptor;
    std::vector<std::thread> m_relays;
    mutable std::mutex m_mutex;
    QByteArray m_sent;
};
