#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <deque>
#include <vector>

// Per relative name, the local file's DOS date/time at its last upload.
// 0: needs upload; 1: a folder known on the server.
class TVersionItem
{
public:
    QString FileName;
    qint32 Date = 0;
    bool Seen = false; // met by the running local scan (its purge skips what is there)
};

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
