// Host names to addresses with getaddrinfo_a, so that a look-up obeys the time-out and Abort().
#include "ftp/FtpSocket.h"

#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>

namespace {

// One asynchronous look-up. A request glibc is still working on cannot be cancelled or freed:
// it is left to glibc (a few bytes, only when a look-up is aborted or times out mid-way).
struct TLookup
{
    gaicb Request{};
    addrinfo Hints{};
    QByteArray Host;
    QByteArray Service;
};

bool IsNameError(int code)
{
    return code == EAI_NONAME || code == EAI_NODATA || code == EAI_FAIL || code == EAI_AGAIN
           || code == EAI_ADDRFAMILY || code == EAI_SERVICE || code == EAI_FAMILY;
}

} // namespace

std::vector<TSockAddr> ResolveHost(const QString &host, quint16 port, int family, int timeoutMs,
                                   TFtpCanceller &canceller)
{
    canceller.ThrowIfAborted();
    const QString name = StripBrackets(host.trimmed());
    const TSockAddr numeric = TSockAddr::FromNumeric(name, port);
    if (numeric.IsValid()) {
        if (family != AF_UNSPEC && numeric.Family() != family)
            ThrowFtpError(FtpText::HostNotFound());
        return {numeric};
    }
    if (name.isEmpty())
        ThrowFtpError(FtpText::HostNotFound());

    auto *lookup = new TLookup;
    lookup->Host = QUrl::toAce(name);
    if (lookup->Host.isEmpty())
        lookup->Host = name.toUtf8();
    lookup->Service = QByteArray::number(port);
    lookup->Hints.ai_family = family;
    lookup->Hints.ai_socktype = SOCK_STREAM;
    lookup->Hints.ai_flags = AI_NUMERICSERV;
    lookup->Request.ar_name = lookup->Host.constData();
    lookup->Request.ar_service = lookup->Service.constData();
    lookup->Request.ar_request = &lookup->Hints;
    gaicb *requests[1] = {&lookup->Request};
    if (::getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr) != 0) {
        delete lookup;
        ThrowFtpError(FtpText::HostNotFound());
    }

    const bool limited = timeoutMs > 0;
    const FtpClock::time_point deadline = FtpClock::now() + std::chrono::milliseconds(timeoutMs);
    int code = EAI_INPROGRESS;
    QString failure;
    for (;;) {
        code = ::gai_error(&lookup->Request);
        if (code != EAI_INPROGRESS)
            break;
        if (canceller.Aborted()) {
            failure = FtpText::Aborted();
            break;
        }
        int slice = RemainingMs(limited, deadline);
        if (slice == 0) {
            failure = FtpText::TimedOut();
            break;
        }
        // Short slices: Abort() cannot interrupt gai_suspend().
        slice = slice < 0 ? 20 : std::min(slice, 20);
        const timespec wait{0, long(slice) * 1000000L};
        ::gai_suspend(requests, 1, &wait);
    }
    if (!failure.isEmpty()) {
        const int cancelled = ::gai_cancel(&lookup->Request);
        if (cancelled == EAI_CANCELED)
            delete lookup;
        else if (cancelled == EAI_ALLDONE) {
            if (::gai_error(&lookup->Request) == 0)
                ::freeaddrinfo(lookup->Request.ar_result);
            delete lookup;
        }
        ThrowFtpError(failure);
    }

    std::vector<TSockAddr> result;
    if (code == 0) {
        for (addrinfo *ai = lookup->Request.ar_result; ai; ai = ai->ai_next) {
            if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6)
                continue;
            TSockAddr address;
            std::memcpy(&address.Storage, ai->ai_addr, ai->ai_addrlen);
            address.Length = ai->ai_addrlen;
            result.push_back(address);
        }
        ::freeaddrinfo(lookup->Request.ar_result);
    }
    const int savedErrno = errno;
    delete lookup;
    if (code == EAI_SYSTEM)
        ThrowFtpError(SocketErrorText(savedErrno));
    if (code != 0 && !IsNameError(code))
        ThrowFtpError(FtpText::HostNotFound());
    if (result.empty())
        ThrowFtpError(FtpText::HostNotFound());
    return result;
}
