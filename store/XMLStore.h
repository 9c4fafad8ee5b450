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
    // A child created so is written only once it holds a value or a written child: reading a
    // key that a file lacks does not add it to the file.
    TXMLStore *Nodes(const QString &name);
    // The first child named `name`, or null; never creates one.
    const TXMLStore *Find(const QString &name) const;
    TXMLStore *Items(int index) const { return m_children[size_t(index)].get(); }
    int Count() const { return int(m_children.size()); }
    void Delete(int index);
    virtual void Clear();

    // Typed accessors on this node's Value.
    QString AsString() const { return Value; }
    // The setters make a node created by a lookup part of the file, even with an empty value.
    void SetAsString(const QString &text)
    {
        Value = text;
        m_implicit = false;
    }
    bool AsBoolean() const;
    void SetAsBoolean(bool value)
    {
        SetAsString(value ? QStringLiteral("1") : QStringLiteral("0"));
    }
    // Throws EStoreError "'%s' is not a valid floating point value".
    int AsInteger() const;
    void SetAsInteger(int value) { SetAsString(QString::number(value)); }
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
    // The three escapes, plus "&#N;" for N up to 32 at the value's ends, which only protected
    // values hold; "&#N;" anywhere else stays as it is written. `protectedEnds` tells whether
    // such ends were found.
    static QString Unescape(const QString &value, bool *protectedEnds = nullptr);

private:
    static void ReleaseChildren(std::vector<std::unique_ptr<TXMLStore>> &children);
    std::vector<std::unique_ptr<TXMLStore>> m_children;
    bool m_protectEnds = false; // set by SetAsPassword, and by reading a protected value
    bool m_implicit = false;    // created by a lookup, not by Add, the reader or the user
    bool IsWritten() const;
};

// Shared by the stores: the integer and boolean reading rules of the typed accessors.
int StoreTextToInteger(const QString &text);
bool StoreTextToBoolean(const QString &text);

// Replaces the file with `data` through a temporary file in its folder: every write, the fsync
// and the close are checked before the rename, and the folder is synced after it, so a failure
// leaves the previous file intact. New files get `newMode`; an existing file keeps its owner's
// mode bits and loses the group and other bits `newMode` lacks. Throws EStoreError
// "Cannot create file %1: <cause>" or "Cannot write file %1: <cause>".
void WriteFileSafely(const QString &fileName, const QByteArray &data, unsigned newMode = 0600);
// Appends `data` (a new file gets mode 0600), synced; on a failure the file is cut back to its
// previous length and EStoreError "Cannot write file %1: <cause>" is thrown.
void AppendFileSafely(const QString &fileName, const QByteArray &data);
// Creates the folder and its missing parents, each new one with mode 0700.
bool MakePrivatePath(const QString &folder);
