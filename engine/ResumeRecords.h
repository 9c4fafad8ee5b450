#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

// Safe uploads of large files cut off part way (a lost connection, an abort, a killed run): for
// each, the local file as it was being sent. While the file is still exactly that, the next
// upload goes on from what the server holds of its temporary copy. Kept in a file beside the
// project (ResumeFileOf); the sessions of a run share one object.
class TResumeRecords
{
public:
    struct TEntry
    {
        qint64 Size = -1;
        qint64 Modified = 0; // nanoseconds since 1970, UTC
        quint64 Hash = 0;    // of the whole file
        QString Temporary;   // the copy's name, in the live file's folder
        bool operator==(const TEntry &) const = default;
    };
    // Smaller files start over: going on would save less than the entry costs.
    static constexpr qint64 FromBytes = 1 << 20;

    // Loads the entries of `fileName`; an empty name keeps none (Put fails).
    void Open(const QString &fileName);
    bool Matches(const QString &remote, const TEntry &entry) const;
    // On disk before it returns; false when it could not be saved.
    bool Put(const QString &remote, const TEntry &entry);
    void Remove(const QString &remote);
    // A copy an entry speaks for: no stale one to remove.
    bool HoldsTemporary(const QString &temporary) const;

private:
    QByteArray Serialized() const;
    mutable QMutex m_mutex;
    QString m_fileName;
    QHash<QString, TEntry> m_entries; // by the live file's server path
};
