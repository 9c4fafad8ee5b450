#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class TXMLStore;

// A malformed mask: "'<mask>' is an invalid mask at (<position>)".
class EMaskError : public std::runtime_error
{
public:
    explicit EMaskError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    QString Message() const { return m_message; }

private:
    QString m_message;
};

// The one mask language of the program: "*" any run (separators included), "?" one
// character, "[abc]", "[a-z]", "[!a-z]" sets, ASCII letters without regard to case,
// the whole text must match. Compiled once; matching allocates nothing and backtracks
// iteratively, so no mask can make it exponential.
class TMask
{
public:
    // Throws EMaskError for an invalid mask (unclosed or empty set, more than 30 "*").
    explicit TMask(const QString &mask);
    bool Matches(QStringView text) const;
    bool Matches(const QString &text) const { return Matches(QStringView(text)); }

private:
    enum class Op : quint8 { Literal, AnyChar, Star, Set };
    struct Element
    {
        Op Kind = Op::Literal;
        bool Negate = false; // Set: matches a character outside the ranges
        char16_t Char = 0;   // Literal: one UTF-16 code unit, ASCII letters upper-cased
        quint32 First = 0;   // Set: its ranges are m_ranges[First, First + Count)
        quint32 Count = 0;
    };
    struct Range
    {
        char32_t Low;
        char32_t High;
    };

    bool InSet(const Element &set, char32_t c) const;
    qsizetype MatchOne(const Element &e, QStringView text, qsizetype at) const;

    std::vector<Element> m_elements;
    std::vector<Range> m_ranges;
    // Literal runs that every match must start and end with (a cheap first test).
    qsizetype m_prefixLength = 0;
    qsizetype m_suffixLength = 0;
};

// True when `text` matches `mask`; throws EMaskError for an invalid mask.
bool MatchesMask(const QString &text, const QString &mask);

// A mask list compiled once: true when some mask matches, tried in list order up to the
// first match. An invalid mask throws EMaskError when the search reaches it.
class TMaskList
{
public:
    explicit TMaskList(const QStringList &masks);
    bool Matches(const QString &text) const;
    bool IsEmpty() const { return m_masks.empty(); }

private:
    struct Entry
    {
        std::optional<TMask> Mask;
        QString Error; // set when the mask is invalid
    };
    std::vector<Entry> m_masks;
};

class TFilterItem
{
public:
    QString Mask;
    QString Options;
};

// Which side an entry of the ignore list was made for.
enum TFilterSide { fsAny, fsLocal, fsRemote };

// The project's ignore list made absolute for the local and the server side.
class TFilter
{
public:
    TFilter();
    ~TFilter();
    int Count() const { return int(m_items.size()); }
    TFilterItem *Items(int index) const { return m_items[size_t(index)].get(); }
    void Clear();
    void Add(const QString &mask, const QString &options);
    void LoadLocal(const QString &localRoot, TXMLStore *filtersNode);
    void LoadRemote(const QString &remoteRoot, TXMLStore *filtersNode);
    // Local and server paths both begin with "/" here, so a caller that knows the side of
    // its path passes it; entries made for the other side are then left out.
    bool IsMatch(const QString &path, const QString &option, TFilterSide side = fsAny) const;
    bool IsIgnored(const QString &path, TFilterSide side = fsAny) const
    {
        return IsMatch(path, QStringLiteral("no"), side);
    }

private:
    void Add(const QString &mask, const QString &options, TFilterSide side);
    void Load(const QString &folderRoot, TXMLStore *filtersNode, TFilterSide side);

    struct Compiled
    {
        QString Source;            // the mask it was compiled from
        std::optional<TMask> Mask; // nullopt: invalid, never matches
        TFilterSide Side = fsAny;
    };
    std::vector<std::unique_ptr<TFilterItem>> m_items;
    std::vector<Compiled> m_compiled; // parallel to m_items
};
