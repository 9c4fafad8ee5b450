// The entries of uploads to go on with: a header line, then per upload its size, exact time,
// hash and the server path of the live file.
#include "engine/ResumeRecords.h"

#include "store/XMLStore.h"

#include <QFile>

#include <exception>

namespace {

const QByteArray ResumeHeader = QByteArrayLiteral("zandrel-resume 1\n");

} // namespace

void TResumeRecords::Open(const QString &fileName)
{
    const QMutexLocker lock(&m_mutex);
    m_fileName = fileName;
    m_entries.clear();
    QFile file(fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = file.readAll();
    if (!data.startsWith(ResumeHeader))
        return;
    // A line cut short is no entry: the file is replaced whole, so only a foreign one has such.
    for (const QByteArray &line : data.mid(ResumeHeader.size()).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        bool sizeOk = false, modifiedOk = false, hashOk = false;
        TEntry entry;
        entry.Size = fields[0].toLongLong(&sizeOk);
        entry.Modified = fields[1].toLongLong(&modifiedOk);
        entry.Hash = fields[2].toULongLong(&hashOk, 16);
        entry.Temporary = QString::fromUtf8(fields[3]); // a name of ours, without blanks
        qsizetype nameAt = 4;
        for (int i = 0; i < 4; ++i)
            nameAt += fields[i].size();
        if (sizeOk && modifiedOk && hashOk && entry.Size >= 0)
            m_entries.insert(QString::fromUtf8(line.mid(nameAt)), entry);
    }
}

bool TResumeRecords::Matches(const QString &remote, const TEntry &entry) const
{
    const QMutexLocker lock(&m_mutex);
    const auto found = m_entries.constFind(remote);
    return found != m_entries.cend() && *found == entry;
}

QByteArray TResumeRecords::Serialized() const
{
    QByteArray out = ResumeHeader;
    for (auto i = m_entries.cbegin(); i != m_entries.cend(); ++i) {
        out += QByteArray::number(i->Size) + ' ' + QByteArray::number(i->Modified) + ' '
               + QByteArray::number(i->Hash, 16) + ' ' + i->Temporary.toUtf8() + ' '
               + i.key().toUtf8() + '\n';
    }
    return out;
}

bool TResumeRecords::Put(const QString &remote, const TEntry &entry)
{
    const QMutexLocker lock(&m_mutex);
    if (m_fileName.isEmpty() || remote.contains(QLatin1Char('\n'))
        || entry.Temporary.contains(QLatin1Char(' '))
        || entry.Temporary.contains(QLatin1Char('\n')))
        return false;
    m_entries.insert(remote, entry);
    try {
        WriteFileSafely(m_fileName, Serialized());
        return true;
    } catch (const std::exception &) {
        // Not on disk: the upload goes on, and a cut one starts over next time.
        m_entries.remove(remote);
        return false;
    }
}

void TResumeRecords::Remove(const QString &remote)
{
    const QMutexLocker lock(&m_mutex);
    if (!m_entries.remove(remote))
        return;
    try {
        if (m_entries.isEmpty())
            QFile::remove(m_fileName);
        else
            WriteFileSafely(m_fileName, Serialized());
    } catch (const std::exception &) {
        // A stale entry misleads no one: it matches only while its file is unchanged, and the
        // size of the temporary copy is checked before the copy goes live.
    }
}

bool TResumeRecords::HoldsTemporary(const QString &temporary) const
{
    const QMutexLocker lock(&m_mutex);
    for (auto i = m_entries.cbegin(); i != m_entries.cend(); ++i) {
        if (i.key().left(i.key().lastIndexOf(QLatin1Char('/')) + 1) + i->Temporary == temporary)
            return true;
    }
    return false;
}
