// Commands sent together: RNFR with RNTO, a run of MKDs, a folder's CWD with the EPSV of its
// listing. Servers answer in order (RFC 959 section 4.2), so each reply is read and checked
// against the command it answers; one that cannot answer it shows a server or proxy that lost a
// command, and the session goes back to one command at a time.
#include "ftp/FtpSession.h"

namespace {

// Replies of one window fit easily in the socket buffers of both ends, so the server never
// waits for us to read while we write.
constexpr qsizetype MaxTogether = 32;

// A passive port's reply never answers another command.
bool NamesPort(const TFtpReply &reply)
{
    return reply.Code == 227 || reply.Code == 229;
}

} // namespace

bool TFtpSession::CompletesCommand(qsizetype, const TFtpReply &reply)
{
    return (reply.IsCompletion() && !NamesPort(reply)) || reply.IsError();
}

void TFtpSession::StopPipelining()
{
    m_owner.Pipelining = false;
    LoseControl();
}

void TFtpSession::OutOfStep()
{
    StopPipelining();
    ThrowFtpError(QStringLiteral("The server's replies are out of step with the commands sent "
                                 "together"));
}

std::vector<TFtpReply> TFtpSession::Batch(const QStringList &lines, const TFits &fits, bool passive)
{
    QStringList all = lines;
    const bool askPort = passive && m_passive && m_prefetchedPort == 0;
    if (askPort)
        all.append(m_epsvRefused ? QStringLiteral("PASV") : QStringLiteral("EPSV"));
    SendAll(all);
    std::vector<TFtpReply> replies;
    replies.reserve(size_t(all.size()));
    for (qsizetype i = 0; i < all.size(); ++i) {
        TFtpReply reply;
        try {
            reply = Reply();
        } catch (const EFtpError &) {
            // Broken or timed out with replies outstanding: a proxy may close on commands sent
            // together, or drop all but the first.
            if (all.size() > 1 && !m_canceller.Aborted())
                StopPipelining();
            throw;
        }
        const bool isPort = i == lines.size();
        if (!(isPort ? NamesPort(reply) || reply.IsError() : fits(i, reply)))
            OutOfStep();
        if (m_lost) { // 421: the server goes, and the replies after this one never come
            if (i + 1 < all.size())
                StopPipelining();
            ThrowFtpError(reply.ErrorText());
        }
        replies.push_back(std::move(reply));
    }
    if (askPort) {
        const TFtpReply port = replies.back();
        replies.pop_back();
        KeepPortOf(port, all.constLast() == QLatin1String("EPSV"));
    }
    return replies;
}

void TFtpSession::RenameTogether(const QString &oldName, const QString &newName)
{
    const std::vector<TFtpReply> replies = Batch(
        {QStringLiteral("RNFR ") + oldName, QStringLiteral("RNTO ") + newName},
        [](qsizetype index, const TFtpReply &reply) {
            return index == 0 ? reply.IsIntermediate() || reply.IsError()
                              : CompletesCommand(index, reply);
        },
        m_owner.PrefetchPassive);
    if (!replies[0].IsIntermediate()) {
        // RNTO without a pending RNFR cannot succeed: a success answers something else.
        if (replies[1].IsCompletion())
            OutOfStep();
        Refused(replies[0]);
    }
    if (!replies[1].IsCompletion())
        Refused(replies[1]);
}

void TFtpSession::CreateDirs(const QStringList &names, QStringList &refusals)
{
    EnsureReady();
    refusals.clear();
    if (!Pipelined() || names.size() < 2) {
        for (const QString &name : names) {
            try {
                Simple(QStringLiteral("MKD ") + name);
                refusals.append(QString());
            } catch (const EFtpReplyError &error) {
                refusals.append(error.Message());
            }
        }
        return;
    }
    for (qsizetype first = 0; first < names.size(); first += MaxTogether) {
        QStringList lines;
        for (const QString &name : names.mid(first, MaxTogether))
            lines.append(QStringLiteral("MKD ") + name);
        const std::vector<TFtpReply> replies = Batch(lines, CompletesCommand, false);
        for (const TFtpReply &reply : replies)
            refusals.append(reply.IsCompletion() ? QString() : reply.ErrorText());
    }
}

void TFtpSession::ReleasePassive()
{
    const bool kept = m_prefetchedPort != 0;
    DropPort();
    if (!kept || !m_connected || m_lost || m_canceller.Aborted())
        return;
    // With no transfer running ABOR only closes the waiting port (RFC 959: one 226 reply; some
    // servers answer 225, or 426 and then 226).
    try {
        if (Command(QStringLiteral("ABOR")).Code == 426)
            Reply();
    } catch (const EFtpError &) {
    }
}
