#include "engine/PublishVersions.h"

#include "store/StringLib.h"

#include <QSet>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

namespace {

// A signed decimal number that fits 32 bits, else 0.
qint32 DecimalOrZero(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return 0;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        value = value * 10 + (c - u'0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return 0;
    return qint32(value);
}

bool IsRecordBreak(char16_t unit)
{
    return unit == u'\r' || unit == u'\n' || unit == 0;
}

} // namespace

bool IsRecordName(const QString &fileName)
{
    return std::none_of(fileName.cbegin(), fileName.cend(),
                        [](QChar c) { return IsRecordBreak(c.unicode()); });
}

void TPublishVersions::Clear()
{
    m_index.clear();
    m_items.clear();
    m_free.clear();
    m_store.clear();
}

TVersionItem *TPublishVersions::NewItem()
{
    if (m_free.empty())
        return &m_store.emplace_back();
    TVersionItem *item = m_free.back();
    m_free.pop_back();
    return item;
}

void TPublishVersions::Release(TVersionItem *item)
{
    *item = TVersionItem();
    m_free.push_back(item);
}

void TPublishVersions::Remove(TVersionItem *item)
{
    auto it = std::find_if(m_items.begin(), m_items.end(),
                           [item](const TVersionItem *p) { return p == item; });
    if (it == m_items.end())
        return;
    const QString name = item->FileName;
    const bool indexed = m_index.value(name) == item;
    m_items.erase(it);
    Release(item);
    if (indexed) {
        m_index.remove(name);
        // A loaded file may hold the name twice; the next record of that name takes over.
        for (TVersionItem *p : m_items) {
            if (p->FileName == name) {
                m_index.insert(name, p);
                break;
            }
        }
    }
}

void TPublishVersions::RemoveItems(const std::vector<TVersionItem *> &items)
{
    if (items.empty())
        return;
    const QSet<const TVersionItem *> doomed(items.begin(), items.end());
    for (TVersionItem *&item : m_items) {
        if (doomed.contains(item)) {
            Release(item);
            item = nullptr;
        }
    }
    std::erase(m_items, nullptr);
    Reindex();
}

TVersionItem *TPublishVersions::FindOrAdd(const QString &fileName)
{
    const auto it = m_index.constFind(fileName);
    if (it != m_index.cend())
        return it.value();
    TVersionItem *item = NewItem();
    m_items.push_back(item);
    item->FileName = fileName;
    m_index.insert(fileName, item);
    return item;
}

void TPublishVersions::LoadFromText(const QString &text)
{
    Clear();
    const QStringView all(text);
    qsizetype pos = 0;
    const qsizetype n = all.size();
    while (pos < n) {
        qsizetype end = pos;
        while (end < n && all[end] != u'\r' && all[end] != u'\n')
            ++end;
        const QStringView line = all.sliced(pos, end - pos);
        // CR LF, CR and LF each end one line.
        pos = end;
        if (pos < n && all[pos] == u'\r')
            ++pos;
        if (pos < n && all[pos] == u'\n')
            ++pos;
        if (TrimBlanks(line).isEmpty())
            continue;
        // The date is everything up to and including the first space of the raw line; the
        // name is the rest exactly, so " a.html" and "a.html " keep their blanks and are in
        // step after one upload. A line without a space is a name alone.
        const qsizetype space = line.indexOf(u' ');
        TVersionItem *item = NewItem();
        if (space < 0) {
            item->FileName = TrimBlanks(line).toString();
        } else {
            item->Date = DecimalOrZero(TrimBlanks(line.first(space + 1)));
            item->FileName = line.sliced(space + 1).toString();
        }
        m_items.push_back(item);
    }
    Reindex();
}

QString TPublishVersions::SaveToText() const
{
    QByteArray bytes;
    AppendUtf8(bytes);
    return QString::fromUtf8(bytes);
}

void TPublishVersions::AppendUtf8(QByteArray &out) const
{
    // Every save of the records runs this (the window's marking of a whole site included), so
    // it writes straight into the array: sized for the worst case, three bytes a code unit,
    // and cut to what was written (pages past that are never touched).
    constexpr qsizetype RecordExtra = 14; // "-2147483648" ' ' CR LF
    const qsizetype start = out.size();
    qsizetype bound = start;
    for (const auto &item : m_items)
        bound += item->FileName.size() * 3 + RecordExtra;
    out.resize(bound);
    char *const begin = out.data();
    char *p = begin + start;
    for (const auto &item : m_items) {
        const QString &name = item->FileName;
        char *const record = p;
        p = std::to_chars(p, p + 11, item->Date).ptr;
        *p++ = ' ';
        char *const text = p;
        bool ascii = true;
        bool breaks = false;
        for (const QChar c : name) {
            const char16_t unit = c.unicode();
            if (unit >= 0x80 || IsRecordBreak(unit)) {
                ascii = unit < 0x80;
                breaks = ascii;
                break;
            }
            *p++ = char(unit);
        }
        // A name holding a line break would end the record early and start a forged one; such
        // a name cannot be a record (it is never uploaded either).
        if (breaks || (!ascii && !IsRecordName(name))) {
            p = record;
            continue;
        }
        if (!ascii) {
            const QByteArray utf8 = name.toUtf8();
            std::memcpy(text, utf8.constData(), size_t(utf8.size()));
            p = text + utf8.size();
        }
        *p++ = '\r';
        *p++ = '\n';
    }
    out.truncate(p - begin);
}

void TPublishVersions::Reindex()
{
    m_index.clear();
    m_index.reserve(qsizetype(m_items.size()));
    // Backwards, so the first record of a name is the one that stays indexed.
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it)
        m_index.insert((*it)->FileName, *it);
}
