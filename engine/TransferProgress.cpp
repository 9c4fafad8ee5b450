#include "engine/TransferProgress.h"

#include <QLocale>

#include <cmath>

namespace {

// Samples closer together than this are one: a burst of small files would weigh too much.
constexpr qint64 SampleIntervalMs = 200;
// The estimate is shown once the run is this old and its projected end has moved by less than
// SteadyChange over the last SteadyCheckMs.
constexpr qint64 SteadyMinimumMs = 3000;
constexpr qint64 SteadyCheckMs = 1000;
constexpr double SteadyChange = 0.2;
// A bursty link may never settle: the estimate is shown from then on whatever it does.
constexpr qint64 SteadyLatestMs = 10000;
// Speeds are averages over at least this long.
constexpr qint64 SpeedMinimumMs = 2000;

// Delphi's "0.##": at most two decimals, no trailing zeros, no grouping.
QString FormatFloat2(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(value, 'f', 2);
    const QString point = locale.decimalPoint();
    if (text.contains(point)) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(point))
            text.chop(point.size());
    }
    return text;
}

} // namespace

QString DurationText(double seconds)
{
    if (!(seconds > 0))
        seconds = 0;
    // Only the time of day counts; large values are clamped before the conversion.
    seconds = qMin(seconds, 1e12);
    qint64 ms = qint64(seconds * 1000.0 + 0.5) % (qint64(24) * 3600 * 1000);
    const qint64 hours = ms / 3600000;
    const qint64 minutes = ms / 60000 % 60;
    const qint64 secs = ms / 1000 % 60;
    if (hours > 0)
        return QString::number(hours + (minutes > 30 ? 1 : 0)) + QStringLiteral(" hours");
    if (minutes > 0)
        return QString::number(minutes + (secs > 30 ? 1 : 0)) + QStringLiteral(" minutes");
    return QString::number(secs) + QStringLiteral(" seconds");
}

void TTransferProgress::Update(qint64 ms, qint64 bytesDone, qint64 totalBytes, qint32 filesDone,
                               qint32 filesTotal)
{
    m_ms = ms;
    m_bytes = qMax<qint64>(bytesDone, 0);
    m_totalBytes = qMax(totalBytes, m_bytes);
    m_files = qMax(filesDone, 0);
    m_totalFiles = qMax(filesTotal, m_files);
    if (m_lastSampleMs < 0) {
        m_firstMs = ms;
        m_firstBytes = m_bytes;
    } else if (ms - m_lastSampleMs < SampleIntervalMs) {
        m_percent = WorkPercent();
        return;
    }
    m_lastSampleMs = ms;
    const double f = m_files, b = double(m_bytes) / 1e6, t = double(ms) / 1000.0;
    m_n += 1;
    m_f += f;
    m_b += b;
    m_t += t;
    m_ff += f * f;
    m_fb += f * b;
    m_bb += b * b;
    m_ft += f * t;
    m_bt += b * t;

    const double total = ProjectedTotal();
    if (ms - m_checkMs >= SteadyCheckMs) {
        if (ms >= m_firstMs + SteadyMinimumMs
            && ((m_checkTotal > 0 && std::abs(total - m_checkTotal) <= SteadyChange * total)
                || ms >= m_firstMs + SteadyLatestMs))
            m_steady = true;
        m_checkMs = ms;
        m_checkTotal = total;
    }
    m_percent = WorkPercent();
}

TTransferProgress::TFit TTransferProgress::Fit() const
{
    // Elapsed time = start-up + PerFile * files + PerByte * bytes, by least squares; the
    // centred sums take the start-up out.
    TFit fit;
    if (m_n < 2)
        return fit;
    const double ff = m_ff - m_f * m_f / m_n, fb = m_fb - m_f * m_b / m_n;
    const double bb = m_bb - m_b * m_b / m_n, ft = m_ft - m_f * m_t / m_n;
    const double bt = m_bt - m_b * m_t / m_n;
    const bool files = ff > 1e-9, bytes = bb > 1e-12;
    // Files and bytes that went up in step cannot be told apart: the bytes carry it all then.
    const bool apart = files && bytes && fb * fb < 0.999 * ff * bb;
    if (apart) {
        const double det = ff * bb - fb * fb;
        fit.PerFile = (ft * bb - bt * fb) / det;
        fit.PerByte = (bt * ff - ft * fb) / det;
    }
    if (!apart || fit.PerFile < 0 || fit.PerByte < 0) {
        fit.PerByte = bytes ? qMax(0.0, bt / bb) : 0;
        fit.PerFile = 0;
        if (fit.PerByte == 0 && files)
            fit.PerFile = qMax(0.0, ft / ff);
    }
    fit.PerByte /= 1e6;
    return fit;
}

double TTransferProgress::ProjectedTotal() const
{
    const TFit fit = Fit();
    const double left
        = fit.PerFile * (m_totalFiles - m_files) + fit.PerByte * double(m_totalBytes - m_bytes);
    return double(m_ms - m_firstMs) / 1000.0 + left;
}

int TTransferProgress::WorkPercent() const
{
    if (m_bytes >= m_totalBytes && m_files >= m_totalFiles)
        return 100;
    // Once the costs are known, files count with theirs; bytes alone until then.
    const TFit fit = Fit();
    double done = double(m_bytes), total = double(m_totalBytes);
    if (m_totalBytes == 0) {
        done = m_files;
        total = m_totalFiles;
    } else if (m_steady && fit.PerFile > 0) {
        done = fit.PerFile * m_files + fit.PerByte * done;
        total = fit.PerFile * m_totalFiles + fit.PerByte * total;
    }
    return total > 0 ? qMin(99, int(100.0 * done / total)) : 0;
}

double TTransferProgress::SecondsLeft() const
{
    if (!m_steady)
        return -1;
    return qMax(0.0, ProjectedTotal() - double(m_ms - m_firstMs) / 1000.0);
}

double TTransferProgress::BytesPerSecond() const
{
    if (m_lastSampleMs < 0 || m_ms - m_firstMs < SpeedMinimumMs || m_bytes <= m_firstBytes)
        return -1;
    return double(m_bytes - m_firstBytes) * 1000.0 / double(m_ms - m_firstMs);
}

QString TTransferProgress::StatusText(const QString &verb) const
{
    const double left = SecondsLeft();
    QString text
        = QStringLiteral("Estimated time left: ")
          + (left < 0 ? QStringLiteral("calculating...") : DurationText(left))
          + QStringLiteral(" (%1 of %2 files %3).").arg(m_files).arg(m_totalFiles).arg(verb);
    const double speed = BytesPerSecond();
    if (speed > 0)
        text += QStringLiteral("  Transfer speed ") + FormatFloat2(speed / 1024.0)
                + QStringLiteral(" KB/s");
    return text;
}
