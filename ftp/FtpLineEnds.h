#pragma once

// The bytes of a file as sent, and the line ends an ASCII transfer may convert: a server in
// ASCII mode may drop the CR of each CR LF or put one before each bare LF, so the size it stores
// lies anywhere between those two.
#include <QtGlobal>

struct TLineEnds
{
    qint64 Bytes = 0;
    qint64 CrLf = 0;
    qint64 BareLf = 0;
    bool LastWasCr = false;

    void Add(const char *data, qint64 size, bool countLineEnds)
    {
        for (qint64 i = 0; countLineEnds && i < size; ++i) {
            if (data[i] == '\n')
                ++(LastWasCr ? CrLf : BareLf);
            LastWasCr = data[i] == '\r';
        }
        Bytes += size;
    }
    qint64 Least(bool ascii) const { return ascii ? Bytes - CrLf : Bytes; }
    qint64 Most(bool ascii) const { return ascii ? Bytes + BareLf : Bytes; }
};
