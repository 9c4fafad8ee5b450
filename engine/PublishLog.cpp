// The publish log: one block per operation appended to a file per project, trimmed from the
// top at block boundaries.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/XMLStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <stdexcept>

namespace {

// The user's short date and long time, without the time-zone name that Qt's long time
// format carries ("14:03:10 UTC"): a log's times are local times.
QString LogTime(const QDateTime &time)
{
    const QLocale locale;
    static const QRegularExpression zone(QStringLiteral("\\s*(?<![A-Za-z'])t+(?![A-Za-z'])\\s*"));
    const QString timeFormat
        = locale.timeFormat(QLocale::LongFormat).replace(zone, QStringLiteral(" ")).trimmed();
    return locale.toString(time,
                           locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') + timeFormat);
}

// The project file's name with its extension replaced.
QString ChangeFileExt(const QString &fileName, const QString &extension)
{
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return (dot > slash ? fileName.left(dot) : fileName) + extension;
}

// Lines ended by CR LF, CR or LF; a final line break adds no empty line.
std::vector<QByteArray> SplitLines(const QByteArray &data)
{
    std::vector<QByteArray> lines;
    qsizetype pos = 0;
    const qsizetype n = data.size();
    while (pos < n) {
        qsizetype end = pos;
        while (end < n && data[end] != '\r' && data[end] != '\n')
            ++end;
        lines.push_back(data.mid(pos, end - pos));
        pos = end;
        if (pos < n && data[pos] == '\r')
            ++pos;
        if (pos < n && data[pos] == '\n')
            ++pos;
    }
    return lines;
}

} // namespace

void TrimLog(const QString &fileName, qint64 maxBytes)
{
    const qint64 size = GetFileSize(fileName);
    if (maxBytes > size)
        return;
    // The overflow plus a quarter of the limit: a trimmed file ends near three quarters of it.
    qint64 excess = maxBytes / 4 + (size - maxBytes);
    QFile in(fileName);
    if (!in.open(QIODevice::ReadOnly))
        throw std::runtime_error("Cannot open file " + fileName.toStdString());
    const std::vector<QByteArray> lines = SplitLines(in.readAll());
    in.close();

    // Lengths are counted in bytes, the unit of the limit.
    size_t first = 0;
    while (first < lines.size()) {
        if (excess > 0)
            excess -= lines[first].size();
        else if (lines[first].isEmpty())
            break;
        ++first;
    }
    QByteArray rest;
    for (size_t i = first; i < lines.size(); ++i)
        rest += lines[i] + "\r\n";
    WriteFileSafely(fileName, rest);
}

void TPublishOperator::ReadLogSettings()
{
    if (Kind == pkRefresh)
        return;
    // The keys are read in the order of the log writer.
    try {
        m_log.SaveLog = Project->Nodes(QStringLiteral("SaveLog"))->AsBoolean();
        if (!m_log.SaveLog)
            return;
        QString fileName = Project->Nodes(QStringLiteral("LogFile"))->AsString().trimmed();
        if (fileName.isEmpty() && !Project->FileName.isEmpty())
            fileName = ChangeFileExt(Project->FileName, QStringLiteral(".log"));
        m_log.FileName = fileName;
        m_log.CheckLogSize = Project->Nodes(QStringLiteral("CheckLogSize"))->AsBoolean();
        if (m_log.CheckLogSize)
            m_log.MaxBytes
                = qint64(Project->Nodes(QStringLiteral("MaxLogSize"))->AsInteger()) * 1024;
    } catch (const std::exception &error) {
        m_log.Error = ErrorText(error);
    }
}

void TPublishOperator::WriteLog()
{
    if (!m_log.SaveLog || m_log.FileName.isEmpty())
        return;
    QString failure;
    try {
        const QString &fileName = m_log.FileName;
        if (!QFileInfo::exists(fileName))
            QDir().mkpath(QFileInfo(fileName).absolutePath());
        QByteArray block = "\r\nStart: " + LogTime(StartTime).toUtf8()
                           + " Finish: " + LogTime(QDateTime::currentDateTime()).toUtf8() + "\r\n";
        for (const QString &line : std::as_const(LogLines))
            block += line.toUtf8() + "\r\n";
        AppendFileSafely(fileName, block);
        if (m_log.CheckLogSize) {
            if (!m_log.Error.isEmpty())
                failure = m_log.Error;
            else
                TrimLog(fileName, m_log.MaxBytes);
        }
    } catch (const EStoreError &error) {
        failure = error.Message();
    } catch (const std::exception &error) {
        failure = QStringLiteral("Cannot write the log file ") + m_log.FileName
                  + QStringLiteral(": ") + ErrorText(error);
    } catch (...) {
        failure = QStringLiteral("Cannot write the log file ") + m_log.FileName;
    }
    // The operation has ended already: the failure is only shown, if anyone still listens.
    if (failure.isEmpty() || m_abandoned || (m_frontEndIsObject && !m_frontEndObject))
        return;
    m_frontEnd->LogLine(1, failure);
}
