#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <variant>
#include <vector>

// Writes an object's declared properties to the component-stream text form
// ("object TSettings", "  Name = value", "end") and reads them back.
// Derived classes declare their properties in stream order through Properties().
class TDataStore
{
public:
    using TPropertyValue = std::variant<qint32, bool, QString, QStringList>;

    struct TProperty
    {
        QString Name; // "FtpProxyPort", or the list's property name ("TextFiles")
        enum Kind { Integer, Boolean, String, StringList, Enumeration } Type;
        QStringList Identifiers; // Enumeration: the identifiers in value order
        // Whether the writer stores the property (lists only when not empty, ...).
        std::function<bool()> Stored;
        std::function<TPropertyValue()> Get;
        std::function<void(const TPropertyValue &)> Set; // Enumeration: qint32 ordinal
    };

    virtual ~TDataStore() = default;
    virtual QString ClassName() const = 0;
    virtual std::vector<TProperty> Properties() = 0;

    // Throws EStoreError "The file is not valid" for any syntax or property error,
    // or the file error when the file cannot be opened.
    virtual void LoadFromFile(const QString &fileName);
    // Through a temporary file and a rename.
    virtual void SaveToFile(const QString &fileName);

    QByteArray WriteText();
    void ReadText(const QByteArray &text); // throws EStoreError "The file is not valid"
};

class TPropertiesItem
{
public:
    QString Name;
    QString Value;
    QString AsString() const { return Value; }
    void SetAsString(const QString &v) { Value = v; }
    bool AsBoolean() const;
    void SetAsBoolean(bool v) { Value = v ? QStringLiteral("1") : QStringLiteral("0"); }
    void SetAsInteger(int v) { Value = QString::number(v); }
};

// An in-memory name/value list; lookups ignore ASCII case and create missing items.
class TProperties
{
public:
    TPropertiesItem *Items(const QString &name);
    int IndexOf(const QString &name) const;
    int Count() const { return int(m_items.size()); }
    TPropertiesItem *At(int index) const { return m_items[size_t(index)].get(); }
    void Clear() { m_items.clear(); }

private:
    std::vector<std::unique_ptr<TPropertiesItem>> m_items;
};
