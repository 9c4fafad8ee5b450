#pragma once

#include <QString>

// The figures of a run of transfers that every front end shows: the percentage, the time left
// and the speed. Time left comes from both bytes and files: a cost per file and one per byte are
// learned from the run (a least-squares fit of the elapsed time), so many small files after the
// big ones still count. Until the estimate is steady it reads "calculating...". Times are given
// in milliseconds since the start of the run, so the figures follow from what is fed alone.
class TTransferProgress
{
public:
    // The counts so far (bytes the server has taken, or that arrived; files ended) and the totals.
    void Update(qint64 ms, qint64 bytesDone, qint64 totalBytes, qint32 filesDone,
                qint32 filesTotal);

    // Of the work: bytes, and files too once their cost is known (it may then go back a little);
    // 100 only when everything is done.
    int Percent() const { return m_percent; }
    bool Steady() const { return m_steady; }
    double SecondsLeft() const;    // < 0 while calculating
    double BytesPerSecond() const; // < 0 while unknown
    // "Estimated time left: 5 seconds (3 of 8 files uploaded).  Transfer speed 120.5 KB/s"
    QString StatusText(const QString &verb) const;

private:
    struct TFit
    {
        double PerFile = 0; // seconds
        double PerByte = 0; // seconds
    };
    TFit Fit() const;
    double ProjectedTotal() const; // seconds from the first sample to the end
    int WorkPercent() const;

    qint64 m_ms = 0, m_bytes = 0, m_totalBytes = 0;
    qint32 m_files = 0, m_totalFiles = 0;
    // Sums of the samples (files f, megabytes b, seconds t) for the fit.
    double m_n = 0, m_f = 0, m_b = 0, m_t = 0;
    double m_ff = 0, m_fb = 0, m_bb = 0, m_ft = 0, m_bt = 0;
    qint64 m_lastSampleMs = -1, m_firstMs = 0, m_firstBytes = 0;
    int m_percent = 0;
    qint64 m_checkMs = 0;    // when the steadiness was last checked
    double m_checkTotal = 0; // the projected total then
    bool m_steady = false;
};

// "2 hours", "3 minutes", "7 seconds": the remaining-time text of the progress report
// (whole days are dropped).
QString DurationText(double seconds);
