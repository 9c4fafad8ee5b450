#pragma once

// Replies on the FTP control connection (RFC 959 section 4.2) and the error text taken from
// them.

#include <QByteArray>
#include <QList>
#include <QString>

class TFtpSocket;

struct TFtpReply
{
    int Code = 0;
    QList<QByteArray> Lines; // as received, without line ends (long lines cut)
    qint64 Bytes = 0;        // bytes of the whole reply on the wire

    int Class() const { return Code / 100; }
    bool IsPreliminary() const { return Class() == 1; }
    bool IsCompletion() const { return Class() == 2; }
    bool IsIntermediate() const { return Class() == 3; }
    bool IsError() const { return Class() == 4 || Class() == 5; }
    QByteArray LastLine() const { return Lines.isEmpty() ? QByteArray() : Lines.last(); }
    // The text an EFtpError carries for this reply.
    QString ErrorText() const;
    // The first line after the code, decoded.
    QString Text() const;
};

// Longest error text: the original's 256-character buffer left room for 255 characters.
constexpr int MaxErrorTextLength = 255;

// The error text of a reply as the server sent it (lines separated by line feeds): only the last
// line remains (a line feed that ends the text does not count), then the leading digits and blanks
// (the reply code), then anything from a NUL on and trailing line ends go; the result is cut to
// MaxErrorTextLength characters. An empty result gives "Unknown error".
QString ReplyErrorText(const QByteArray &replyText);

// Reads one complete reply; `buffer` keeps bytes received beyond it. Raises EFtpError on socket
// failures, time-outs and text that is not an FTP reply.
TFtpReply ReadFtpReply(TFtpSocket &socket, QByteArray &buffer, int timeoutMs);
