#include "engine/PublishFilter.h"

#include "engine/FileLib.h"
#include "store/XMLStore.h"

namespace {

constexpr int MaxStars = 30;

inline char16_t FoldAscii(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c;
}

inline char32_t LowerAscii(char32_t c)
{
    return (c >= U'A' && c <= U'Z') ? c + (U'a' - U'A') : c;
}

inline char32_t UpperAscii(char32_t c)
{
    return (c >= U'a' && c <= U'z') ? c - (U'a' - U'A') : c;
}

// The character at `at` and the number of code units it takes (a surrogate pair takes two).
inline char32_t CodePointAt(QStringView text, qsizetype at, qsizetype &length)
{
    const QChar c = text[at];
    if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
        length = 2;
        return QChar::surrogateToUcs4(c, text[at + 1]);
    }
    length = 1;
    return c.unicode();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TMask

TMask::TMask(const QString &mask)
{
    const QStringView m(mask);
    const qsizetype n = m.size();
    auto invalid = [&mask](qsizetype at) {
        throw EMaskError(QStringLiteral("'%1' is an invalid mask at (%2)").arg(mask).arg(at + 1));
    };
    int stars = 0;
    qsizetype i = 0;
    while (i < n) {
        const char16_t c = m[i].unicode();
        if (c == u'*') {
            if (++stars > MaxStars)
                invalid(i);
            // A run of stars matches what one star matches.
            if (m_elements.empty() || m_elements.back().Kind != Op::Star)
                m_elements.push_back(Element{Op::Star});
            ++i;
        } else if (c == u'?') {
            m_elements.push_back(Element{Op::AnyChar});
            ++i;
        } else if (c == u'[') {
            const qsizetype start = i++;
            Element set{Op::Set};
            set.First = quint32(m_ranges.size());
            if (i < n && m[i] == u'!') {
                set.Negate = true;
                ++i;
            }
            bool hasMembers = false;
            while (i < n && m[i] != u']') {
                qsizetype length = 0;
                const char32_t low = CodePointAt(m, i, length);
                i += length;
                char32_t high = low;
                // "a-z" is a range; a "-" first or last in the set stands for itself.
                if (i + 1 < n && m[i] == u'-' && m[i + 1] != u']') {
                    high = CodePointAt(m, i + 1, length);
                    i += 1 + length;
                }
                m_ranges.push_back(Range{low, high});
                hasMembers = hasMembers || low <= high;
            }
            if (i >= n || !hasMembers)
                invalid(start);
            ++i; // the closing "]"
            set.Count = quint32(m_ranges.size()) - set.First;
            m_elements.push_back(set);
        } else {
            Element literal{Op::Literal};
            literal.Char = FoldAscii(c);
            m_elements.push_back(literal);
            ++i;
        }
    }
    while (m_prefixLength < qsizetype(m_elements.size())
           && m_elements[size_t(m_prefixLength)].Kind == Op::Literal)
        ++m_prefixLength;
    while (m_suffixLength < qsizetype(m_elements.size())
           && m_elements[m_elements.size() - 1 - size_t(m_suffixLength)].Kind == Op::Literal)
        ++m_suffixLength;
}

bool TMask::InSet(const Element &set, char32_t c) const
{
    const char32_t lower = LowerAscii(c);
    const char32_t upper = UpperAscii(c);
    for (quint32 r = set.First; r < set.First + set.Count; ++r) {
        const Range &range = m_ranges[r];
        if ((c >= range.Low && c <= range.High) || (lower >= range.Low && lower <= range.High)
            || (upper >= range.Low && upper <= range.High))
            return true;
    }
    return false;
}

// Code units of `text` at `at` that element `e` consumes, or 0 when it does not match there.
qsizetype TMask::MatchOne(const Element &e, QStringView text, qsizetype at) const
{
    switch (e.Kind) {
    case Op::Literal:
        return FoldAscii(text[at].unicode()) == e.Char ? 1 : 0;
    case Op::AnyChar: {
        qsizetype length = 0;
        CodePointAt(text, at, length);
        return length;
    }
    case Op::Set: {
        qsizetype length = 0;
        const char32_t c = CodePointAt(text, at, length);
        return InSet(e, c) != e.Negate ? length : 0;
    }
    case Op::Star:
        break;
    }
    return 0;
}

bool TMask::Matches(QStringView text) const
{
    const qsizetype n = text.size();
    if (n < m_prefixLength || n < m_suffixLength)
        return false;
    for (qsizetype k = 0; k < m_prefixLength; ++k) {
        if (FoldAscii(text[k].unicode()) != m_elements[size_t(k)].Char)
            return false;
    }
    for (qsizetype k = 1; k <= m_suffixLength; ++k) {
        if (FoldAscii(text[n - k].unicode()) != m_elements[m_elements.size() - size_t(k)].Char)
            return false;
    }
    // Literals, one star, literals ("*.html"): the two ends were all there was to match.
    if (m_prefixLength + m_suffixLength + 1 == qsizetype(m_elements.size())
        && m_elements[size_t(m_prefixLength)].Kind == Op::Star)
        return n >= m_prefixLength + m_suffixLength;

    // Every star is a point to come back to, but only the last one matters: a later star
    // can absorb whatever an earlier one would have, so one resume point suffices and the
    // search is at most (text length) x (mask length) steps.
    const size_t count = m_elements.size();
    size_t e = 0;
    qsizetype t = 0;
    size_t starElement = 0;
    qsizetype starText = -1;
    while (t < n || e < count) {
        if (e < count) {
            const Element &element = m_elements[e];
            if (element.Kind == Op::Star) {
                starElement = e++;
                starText = t;
                continue;
            }
            if (t < n) {
                const qsizetype length = MatchOne(element, text, t);
                if (length > 0) {
                    t += length;
                    ++e;
                    continue;
                }
            }
        }
        if (starText < 0 || starText >= n)
            return false;
        if (starElement + 1 == count)
            return true; // a trailing star takes the rest

        t = ++starText;
        e = starElement + 1;
        // A literal after the star can only start where its character is.
        if (m_elements[e].Kind == Op::Literal) {
            while (t < n && FoldAscii(text[t].unicode()) != m_elements[e].Char)
                ++t;
            starText = t;
        }
    }
    return true;
}

bool MatchesMask(const QString &text, const QString &mask)
{
    return TMask(mask).Matches(text);
}

// ---------------------------------------------------------------------------------------------
// TMaskList

TMaskList::TMaskList(const QStringList &masks)
{
    m_masks.reserve(size_t(masks.size()));
    for (const QString &mask : masks) {
        Entry entry;
        try {
            entry.Mask.emplace(mask);
        } catch (const EMaskError &error) {
            entry.Error = error.Message();
        }
        m_masks.push_back(std::move(entry));
    }
}

bool TMaskList::Matches(const QString &text) const
{
    for (const Entry &entry : m_masks) {
        if (!entry.Mask)
            throw EMaskError(entry.Error);
        if (entry.Mask->Matches(text))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// TFilter

TFilter::TFilter() = default;

TFilter::~TFilter() = default;

void TFilter::Clear()
{
    m_items.clear();
    m_compiled.clear();
}

void TFilter::Add(const QString &mask, const QString &options)
{
    Add(mask, options, fsAny);
}

void TFilter::Add(const QString &mask, const QString &options, TFilterSide side)
{
    auto item = std::make_unique<TFilterItem>();
    item->Mask = mask;
    item->Options = options;
    Compiled compiled;
    compiled.Source = mask;
    compiled.Side = side;
    try {
        compiled.Mask.emplace(mask);
    } catch (const EMaskError &) {
        // An invalid mask never matches.
    }
    m_items.push_back(std::move(item));
    m_compiled.push_back(std::move(compiled));
}

void TFilter::LoadLocal(const QString &localRoot, TXMLStore *filtersNode)
{
    Clear();
    Load(localRoot, filtersNode, fsLocal);
}

void TFilter::LoadRemote(const QString &remoteRoot, TXMLStore *filtersNode)
{
    Load(remoteRoot, filtersNode, fsRemote);
}

// Both sides use "/" here: the stored masks' "\" separators are turned into "/".
void TFilter::Load(const QString &folderRoot, TXMLStore *filtersNode, TFilterSide side)
{
    if (!filtersNode)
        return;
    const QString root = IncludeTrailingSlash(folderRoot);
    for (int i = 0; i < filtersNode->Count(); ++i) {
        TXMLStore *entry = filtersNode->Items(i);
        QString mask = entry->Nodes(QStringLiteral("Mask"))->Value;
        BackslashToSlash(mask);
        Add(root + mask, entry->Nodes(QStringLiteral("Options"))->Value, side);
    }
}

bool TFilter::IsMatch(const QString &path, const QString &option, TFilterSide side) const
{
    // An empty option occurs nowhere, as with a plain substring search.
    if (option.isEmpty())
        return false;
    for (size_t i = 0; i < m_items.size(); ++i) {
        const TFilterItem &item = *m_items[i];
        const Compiled &compiled = m_compiled[i];
        if (side != fsAny && compiled.Side != fsAny && compiled.Side != side)
            continue;
        if (!item.Options.contains(option))
            continue;
        if (item.Mask == compiled.Source) {
            if (compiled.Mask && compiled.Mask->Matches(path))
                return true;
            continue;
        }
        // The item was edited after it was added: match its current mask.
        try {
            if (TMask(item.Mask).Matches(path))
                return true;
        } catch (const EMaskError &) {
        }
    }
    return false;
}
