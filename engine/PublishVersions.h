#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <deque>
#include <functional>
#include <vector>

// Per relative name, the local file's DOS date/time at its last upload.
// 0: needs upload; 1: a folder known on the server.
class TVersionItem
{
public:
    QString FileName;
    qint32 Date = 0;
    bool Seen = false; // met by the running local scan (its purge skips what is there)
    // The uploaded version as the companion file keeps it: its size, exact time and content
    // hash. It speaks for the file only while ContentDate equals Date: whatever else sets the
    // date (marking, a compare, another program) leaves it behind.
    qint32 ContentDate = 0;
    qint64 ContentSize = -1;
    qint64 ContentModified = 0; // nanoseconds since 1970, UTC
    quint64 ContentHash = 0;
    // The file as the server listed it just after that upload: its size (-1 unknown) and its
    // listed time in seconds. It speaks for the file only with the content fields.
    qint64 ServerSize = -1;
    qint64 ServerTime = 0;
    bool HasContent() const { return ContentSize >= 0 && ContentDate == Date && Date > 1; }
    bool HasServerStamp() const { return HasContent() && ServerSize >= 0; }
    // A date the user sets by marking: what is kept of the uploaded version no longer holds.
    void SetMarkedDate(qint32 date)
    {
        Date = date;
        ContentSize = -1;
        ServerSize = -1;
    }
    void SetContent(qint64 size, qint64 modified, quint64 hash)
    {
        ContentDate = Date;
        ContentSize = size;
        ContentModified = modified;
        ContentHash = hash;
    }
};

// What a local file's status says against its record.
enum TRecordCheck : quint8 {
    rcChanged,
    rcInStep,
    // In step by its size and content; only its time moved (a rebuild, another time zone):
    // the record takes the new time without an upload.
    rcUpToDate
};

// The one decision of every pass: `fileAge` is the file's DOS time (-1 unreadable),
// `modified` its exact time in nanoseconds; `hash` is asked only when the time moved and the
// size matches, and returns false when the file cannot be read.
TRecordCheck CheckRecord(const TVersionItem &record, qint32 fileAge, qint64 size, qint64 modified,
                         const std::function<bool(quint64 &hash)> &hash);

// XXH3-64 of a file's bytes; false when it cannot be read.
bool HashFile(const QString &fileName, quint64 &hash);

// False for a name the records cannot hold: one with CR, LF or NUL.
bool IsRecordName(const QString &fileName);

class TPublishVersions
{
public:
    TPublishVersions() = default;
    // The index and the order point into the store: a copy would point into the original.
    TPublishVersions(const TPublishVersions &) = delete;
    TPublishVersions &operator=(const TPublishVersions &) = delete;
    TPublishVersions(TPublishVersions &&) = default;
    TPublishVersions &operator=(TPublishVersions &&) = default;
    int Count() const { return int(m_items.size()); }
    TVersionItem *Items(int index) const { return m_items[size_t(index)]; }
    void Clear();
    void Remove(TVersionItem *item);
    // Removes and frees many records in one pass (the purge of stale records).
    void RemoveItems(const std::vector<TVersionItem *> &items);
    // Exact, case-sensitive lookup; null when absent.
    TVersionItem *Find(const QString &fileName) const { return m_index.value(fileName); }
    // Exact, case-sensitive lookup; appends a record with Date 0 when absent.
    TVersionItem *FindOrAdd(const QString &fileName);
    void LoadFromText(const QString &text);
    // The versions section: "<date> <name>\r\n" per record; records whose name fails
    // IsRecordName are left out.
    QString SaveToText() const;
    // The same section in UTF-8 at the end of `out`: a project's save of 100,000 records holds
    // no second copy of them as text.
    void AppendUtf8(QByteArray &out) const;
    // The companion file: one line per record that has content, "<date> <size> <time>
    // <hash> <name>"; once any record has a server stamp, format 2 puts "<server size>
    // <server time>" before the name. Loaded after the records; lines of names without a
    // record, or that cannot be read, are dropped.
    QByteArray SaveContent() const;
    void LoadContent(const QByteArray &data);
    bool HoldsContent() const;

private:
    std::vector<TVersionItem *> m_items; // in file order
    // The records themselves, in blocks (a refresh of 100,000 files adds as many): a removed
    // one is reused by the next one added.
    std::deque<TVersionItem> m_store;
    std::vector<TVersionItem *> m_free;
    QHash<QString, TVersionItem *> m_index; // first record of each name
    void Reindex();
    TVersionItem *NewItem();
    void Release(TVersionItem *item);
};
