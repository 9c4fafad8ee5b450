#pragma once

// Proxies: the proxy text ("socks=host:port", "ftp=ftp://host:port") and the SOCKS 5 (RFC 1928)
// and SOCKS 4 handshakes on a socket that is connected to the proxy.

#include "ftp/FtpWininet.h"

#include <QString>

class TFtpCanceller;
class TFtpSocket;

struct TFtpProxy
{
    enum TKind { None, Socks, Ftp };
    TKind Kind = None;
    QString Host;
    quint16 Port = 0;
};

// The proxy does not speak SOCKS 5 or refuses requests in it: worth trying SOCKS 4.
class ESocksVersionRefused : public EFtpError
{
public:
    using EFtpError::EFtpError;
};

// Reads the proxy text; raises EFtpError for text it cannot use.
TFtpProxy ParseProxy(const QString &text);

// Asks the SOCKS 5 proxy on `socket` for a connection to host:port (a name is passed on for the
// proxy to resolve). Raises ESocksVersionRefused when the proxy does not speak version 5 or
// refuses the request as such, EFtpError for other failures.
void Socks5Connect(TFtpSocket &socket, const QString &host, quint16 port, int timeoutMs);
// The same with SOCKS 4, which needs an IPv4 address: names are resolved here.
void Socks4Connect(TFtpSocket &socket, TFtpCanceller &canceller, const QString &host, quint16 port,
                   int timeoutMs);
