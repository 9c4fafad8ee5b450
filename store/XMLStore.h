#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <stdexcept>
#include <vector>

// Raised for file errors of the stores ("Cannot open file %s", "Cannot create file %s")
// and for conversion errors of the typed accessors.
class EStoreError : public std::runtime_error
{
public:
    explicit EStoreError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    QString Message() const { return m_message; }

private:
    QString m_message;
};

// A tree of named text nodes written as XML-like text: no attributes, no declaration,
// three escapes, CR LF after every tag and value. The reader accepts any input.
class TXMLStore
{
public:
    TXMLStore() = default;
    virtual ~TXMLStore();
    TXMLStore(const TXMLStore &) = delete;
    TXMLStore &operator=(const TXMLStore &) = delete;

    QString Name;
    QString Value;

    TXMLStore *Add();
    int IndexOf(const QString &name) const;
    // Find or create: the first child named `name` (ASCII case ignored), appended empty if absent.
    TXMLStore *Nodes(const QString &name);
    TXMLStore *Items(int index) const { return m_children[size_t(index)].get(); }
    int Count() const { return int(m_children.size()); }
    void Delete(int index);
    virtual void Clear();

    // Typed accessors on this node's Value.
    QString AsString() const { return Value; }
    void SetAsString(const QString &text) { Value = text; }
    bool AsBoolean() const;
    void SetAsBoolean(bool value) { Value = value ? QStringLiteral("1") : QStringLiteral("0"); }
    // Throws EStoreError "'%s' is not a valid floating point value".
    int AsInteger() const;
    void SetAsInteger(int value) { Value = QString::number(value); }
    QString AsPassword() const;
    void SetAsPassword(const QString &password);

    // Bytes on disk are UTF-8.
    virtual void LoadFromBytes(const QByteArray &data);
    virtual QByteArray SaveToBytes() const;
    void LoadFromFile(const QString &fileName);
    // Writes through a temporary file in the same folder and renames it over the old file.
    void SaveToFile(const QString &fileName) const;

    // Parses `text` into this node (the node is not cleared first).
    void ParseText(const QString &text);
    void WriteText(QString &out) const;

    // protectEnds: write blanks and control characters at the value's ends as "&#N;" so
    // the trimming reader keeps them (scrambled passwords need this; plain values do not).
    static QString Escape(const QString &value, bool protectEnds = false);
    static QString Unescape(const QString &value);

private:
    static void ReleaseChildren(std::vector<std::unique_ptr<TXMLStore>> &children);
    std::vector<std::unique_ptr<TXMLStore>> m_children;
    bool m_protectEnds = false; // set by SetAsPassword, and by reading a protected value
};

// Shared by the stores: the integer and boolean reading rules of the typed accessors.
int StoreTextToInteger(const QString &text);
bool StoreTextToBoolean(const QString &text);

// Writes `data` to a temporary file in the target's folder and renames it over the target, so
// a failed save leaves the previous file intact. Throws EStoreError "Cannot create file %1"
// when the file cannot be created and "Cannot write file %1" when writing it fails.
void WriteFileSafely(const QString &fileName, const QByteArray &data);
