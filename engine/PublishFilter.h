#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class TXMLStore;

// The one mask language of the program: "*" any run (separators included), "?" one
// character, "[abc]", "[a-z]", "[!a-z]" sets, ASCII letters without regard to case,
// the whole text must match.
class TMask
{
public:
    // Throws EMaskError for an invalid mask (unclosed or empty set, more than 30 "*").
    explicit TMask(const QString &mask);
    bool Matches(const QString &text) const;

private:
    struct Element;
    std::vector<Element> m_elements;
};

class EMaskError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// True when `text` matches `mask`; throws EMaskError for an invalid mask.
bool MatchesMask(const QString &text, const QString &mask);

class TFilterItem
{
public:
    QString Mask;
    QString Options;
};

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
    bool IsMatch(const QString &path, const QString &option) const;
    bool IsIgnored(const QString &path) const { return IsMatch(path, QStringLiteral("no")); }

private:
    std::vector<std::unique_ptr<TFilterItem>> m_items;
    // Compiled masks, built lazily; nullopt for an invalid mask (never matches).
    mutable std::vector<std::optional<TMask>> m_compiled;
};
