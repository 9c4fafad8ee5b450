#pragma once

#include "ftp/FtpWininet.h"

// Reports `bytes` moved by a transfer that has `remaining` bytes left to move (negative: not
// counted): what lies beyond the transfer's size is never reported.
inline void ReportTransferProgress(TFtp &owner, qint64 &remaining, qint64 bytes)
{
    if (remaining < 0)
        return;
    remaining -= bytes;
    const qint64 reported = remaining < 0 ? bytes + remaining : bytes;
    if (owner.OnProgress)
        owner.OnProgress(&owner, reported);
}
