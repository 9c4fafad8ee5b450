// What the companion file keeps of each uploaded file (size, exact time, content hash) and the
// decision that uses it: a file only rewritten with the same bytes is in step, a file changed
// within one two-second slot is not.
#include "engine/PublishVersions.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

namespace {

const QByteArray ContentHeader = QByteArrayLiteral("zandrel-content 1\n");
// With the server stamps; a reader of format 1 only takes it for a file it does not know.
const QByteArray StampedHeader = QByteArrayLiteral("zandrel-content 2\n");

template <typename T> bool Number(const char *&p, const char *end, T &value, int base = 10)
{
    const auto [next, error] = std::from_chars(p, end, value, base);
    if (error != std::errc() || next == end || *next != ' ')
        return false;
    p = next + 1;
    return true;
}

} // namespace

bool HashFile(const QString &fileName, quint64 &hash)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    XXH3_state_t *state = XXH3_createState();
    bool ok = state && XXH3_64bits_reset(state) == XXH_OK;
    static thread_local QByteArray buffer(1 << 18, Qt::Uninitialized);
    while (ok) {
        const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = XXH3_64bits_update(state, buffer.constData(), size_t(n)) == XXH_OK;
    }
    if (ok)
        hash = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    ::close(fd);
    return ok;
}

TRecordCheck CheckRecord(const TVersionItem &record, qint32 fileAge, qint64 size, qint64 modified,
                         const std::function<bool(quint64 &hash)> &hash)
{
    // An unreadable time (-1) never counts as recorded.
    if (fileAge == -1)
        return rcChanged;
    const bool sameAge = fileAge == record.Date;
    if (!record.HasContent())
        return sameAge ? rcInStep : rcChanged;
    if (size != record.ContentSize)
        return rcChanged;
    if (modified == record.ContentModified)
        return sameAge ? rcInStep : rcUpToDate; // the same instant read in another time zone
    // A write in the slot of the recorded one: the DOS time cannot tell, the exact one does.
    if (sameAge)
        return rcChanged;
    quint64 now = 0;
    return hash(now) && now == record.ContentHash ? rcUpToDate : rcChanged;
}

bool TPublishVersions::HoldsContent() const
{
    return std::any_of(m_items.cbegin(), m_items.cend(),
                       [](const TVersionItem *item) { return item->HasContent(); });
}

QByteArray TPublishVersions::SaveContent() const
{
    // Format 1 while no record has a stamp: a project without the guard writes what it did.
    const bool stamped
        = std::any_of(m_items.cbegin(), m_items.cend(),
                      [](const TVersionItem *item) { return item->HasServerStamp(); });
    QByteArray out = stamped ? StampedHeader : ContentHeader;
    char number[24];
    const auto append = [&](auto value, int base = 10) {
        const char *end = std::to_chars(number, number + sizeof number, value, base).ptr;
        out.append(number, end - number);
        out.append(' ');
    };
    for (const TVersionItem *item : m_items) {
        if (!item->HasContent() || !IsRecordName(item->FileName))
            continue;
        append(item->ContentDate);
        append(item->ContentSize);
        append(item->ContentModified);
        append(item->ContentHash, 16);
        if (stamped) {
            append(item->HasServerStamp() ? item->ServerSize : -1);
            append(item->ServerTime);
        }
        out.append(item->FileName.toUtf8());
        out.append('\n');
    }
    return out;
}

void TPublishVersions::LoadContent(const QByteArray &data)
{
    const bool stamped = data.startsWith(StampedHeader);
    if (!stamped && !data.startsWith(ContentHeader))
        return;
    const char *p = data.constData() + ContentHeader.size();
    const char *const end = data.constData() + data.size();
    while (p < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            break; // a cut line is no record
        qint32 date = 0;
        qint64 size = -1, modified = 0;
        quint64 hash = 0;
        qint64 serverSize = -1, serverTime = 0;
        const char *at = p;
        if (Number(at, lineEnd, date) && Number(at, lineEnd, size) && Number(at, lineEnd, modified)
            && Number(at, lineEnd, hash, 16)
            && (!stamped || (Number(at, lineEnd, serverSize) && Number(at, lineEnd, serverTime)))
            && at < lineEnd && size >= 0) {
            TVersionItem *record = Find(QString::fromUtf8(at, lineEnd - at));
            if (record && record->Date == date) {
                record->SetContent(size, modified, hash);
                record->ServerSize = serverSize;
                record->ServerTime = serverTime;
            }
        }
        p = lineEnd + 1;
    }
}
