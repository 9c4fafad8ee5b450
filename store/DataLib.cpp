#include "store/DataLib.h"

#include "store/StringLib.h"
#include "store/XMLStore.h"

#include <QFile>

#include <limits>
#include <optional>

namespace {

constexpr qsizetype LineLength = 64;

EStoreError NotValid()
{
    return EStoreError(QStringLiteral("The file is not valid"));
}

QString Indent(int level)
{
    return QStringLiteral("\r\n") + QString(2 * level, u' ');
}

// A string value: printable runs in single quotes, a quote and control characters as "#N",
// long texts on lines of their own, one level deeper, joined by " +".
void WriteString(QString &out, const QString &s, int level)
{
    const qsizetype length = s.size();
    if (length == 0) {
        out += QLatin1String("''");
        return;
    }
    ++level;
    if (length > LineLength)
        out += Indent(level);
    qsizetype i = 0;
    qsizetype lineStart = 0;
    do {
        bool lineBreak = false;
        const QChar c = s[i];
        if (c.unicode() >= u' ' && c != u'\'') {
            const qsizetype begin = i;
            do {
                ++i;
            } while (i < length && s[i].unicode() >= u' ' && s[i] != u'\''
                     && i - lineStart < LineLength);
            if (i - lineStart >= LineLength) {
                lineBreak = true;
                // Never split a surrogate pair across two lines.
                if (i < length && s[i].isLowSurrogate() && i - 1 > begin)
                    --i;
            }
            out += u'\'';
            out += QStringView(s).sliced(begin, i - begin);
            out += u'\'';
        } else {
            out += u'#';
            out += QString::number(c.unicode());
            ++i;
            if (i - lineStart >= LineLength)
                lineBreak = true;
        }
        if (lineBreak && i < length) {
            out += QLatin1String(" +");
            out += Indent(level);
            lineStart = i;
        }
    } while (i < length);
}

// ---------------------------------------------------------------------------------------------
// Reading: a small tokenizer and parser for the component-stream text form.

struct Token
{
    enum Kind { End, Symbol, Identifier, Integer, String, Other } Type = End;
    QString Text;        // identifier, string value, or the symbol
    qint64 Number = 0;   // Integer
    bool InRange = true; // Integer: fits 64 bits
};

class Parser
{
public:
    explicit Parser(const QString &text)
        : m_text(text)
    {
        Next();
    }

    const Token &Current() const { return m_token; }

    void Next()
    {
        SkipBlanks();
        m_token = Token();
        if (m_pos >= m_text.size()) {
            m_token.Type = Token::End;
            return;
        }
        const QChar c = m_text[m_pos];
        if (IsIdentStart(c)) {
            const qsizetype begin = m_pos;
            while (m_pos < m_text.size() && IsIdentPart(m_text[m_pos]))
                ++m_pos;
            m_token.Type = Token::Identifier;
            m_token.Text = m_text.mid(begin, m_pos - begin);
        } else if (c == u'\'' || c == u'#') {
            ReadString();
        } else if (IsAsciiDigit(c)
                   || ((c == u'-' || c == u'+') && m_pos + 1 < m_text.size()
                       && (IsAsciiDigit(m_text[m_pos + 1]) || m_text[m_pos + 1] == u'$'))
                   || c == u'$') {
            ReadNumber();
        } else {
            m_token.Type = Token::Symbol;
            m_token.Text = QString(c);
            ++m_pos;
        }
    }

    bool IsSymbol(char16_t symbol) const
    {
        return m_token.Type == Token::Symbol && m_token.Text.size() == 1
               && m_token.Text[0] == QChar(symbol);
    }

    void ExpectSymbol(char16_t symbol)
    {
        if (!IsSymbol(symbol))
            throw NotValid();
        Next();
    }

    QString ExpectIdentifier()
    {
        if (m_token.Type != Token::Identifier)
            throw NotValid();
        QString text = m_token.Text;
        Next();
        return text;
    }

private:
    static bool IsIdentStart(QChar c)
    {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
    }
    static bool IsIdentPart(QChar c) { return IsIdentStart(c) || IsAsciiDigit(c); }

    void SkipBlanks()
    {
        while (m_pos < m_text.size() && m_text[m_pos].unicode() <= 0x20)
            ++m_pos;
    }

    // Digits (or "$" and hex digits) into Number; false when there are none.
    bool ReadDigits(qint64 &value, bool hex)
    {
        const int base = hex ? 16 : 10;
        bool any = false;
        value = 0;
        while (m_pos < m_text.size()) {
            const int digit = DigitValue(m_text[m_pos], hex);
            if (digit < 0)
                break;
            any = true;
            if (value > (std::numeric_limits<qint64>::max() - digit) / base)
                m_token.InRange = false;
            else
                value = value * base + digit;
            ++m_pos;
        }
        return any;
    }

    void ReadNumber()
    {
        bool negative = false;
        if (m_text[m_pos] == u'-' || m_text[m_pos] == u'+') {
            negative = m_text[m_pos] == u'-';
            ++m_pos;
        }
        const bool hex = m_text[m_pos] == u'$';
        if (hex)
            ++m_pos;
        qint64 value = 0;
        if (!ReadDigits(value, hex)) {
            m_token.Type = Token::Other;
            return;
        }
        // A fraction or an exponent makes it a kind of value no property here takes.
        if (m_pos < m_text.size()
            && (m_text[m_pos] == u'.' || m_text[m_pos] == u'e' || m_text[m_pos] == u'E'
                || IsIdentPart(m_text[m_pos]))) {
            m_token.Type = Token::Other;
            return;
        }
        m_token.Type = Token::Integer;
        m_token.Number = negative ? -value : value;
    }

    // Quoted runs ('' stands for one quote) and "#N" codes joined without blanks.
    void ReadString()
    {
        QString value;
        while (m_pos < m_text.size()) {
            const QChar c = m_text[m_pos];
            if (c == u'\'') {
                ++m_pos;
                for (;;) {
                    if (m_pos >= m_text.size())
                        throw NotValid();
                    const QChar q = m_text[m_pos];
                    if (q == u'\r' || q == u'\n')
                        throw NotValid();
                    ++m_pos;
                    if (q == u'\'') {
                        if (m_pos < m_text.size() && m_text[m_pos] == u'\'') {
                            value += u'\'';
                            ++m_pos;
                            continue;
                        }
                        break;
                    }
                    value += q;
                }
            } else if (c == u'#') {
                ++m_pos;
                const bool hex = m_pos < m_text.size() && m_text[m_pos] == u'$';
                if (hex)
                    ++m_pos;
                qint64 code = 0;
                if (!ReadDigits(code, hex) || !m_token.InRange || code > 0x10FFFF)
                    throw NotValid();
                if (code > 0xFFFF) {
                    value += QChar(QChar::highSurrogate(char32_t(code)));
                    value += QChar(QChar::lowSurrogate(char32_t(code)));
                } else {
                    value += QChar(char16_t(code));
                }
            } else {
                break;
            }
        }
        // "#N" codes may spell a surrogate pair; half of one is no character.
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (value[i].isHighSurrogate() && i + 1 < value.size() && value[i + 1].isLowSurrogate())
                ++i;
            else if (value[i].isSurrogate())
                throw NotValid();
        }
        m_token.Type = Token::String;
        m_token.Text = value;
    }

    const QString &m_text;
    qsizetype m_pos = 0;
    Token m_token;
};

struct Value
{
    enum Kind { Integer, Identifier, String, List } Type = Integer;
    qint64 Number = 0;
    bool InRange = true;
    QString Text;
    QStringList Strings;
    bool ListOfStrings = true;
};

Value ReadValue(Parser &p)
{
    Value value;
    const Token &t = p.Current();
    switch (t.Type) {
    case Token::Integer:
        value.Type = Value::Integer;
        value.Number = t.Number;
        value.InRange = t.InRange;
        p.Next();
        return value;
    case Token::Identifier:
        value.Type = Value::Identifier;
        value.Text = t.Text;
        p.Next();
        return value;
    case Token::String:
        value.Type = Value::String;
        value.Text = t.Text;
        p.Next();
        while (p.IsSymbol(u'+')) {
            p.Next();
            if (p.Current().Type != Token::String)
                throw NotValid();
            value.Text += p.Current().Text;
            p.Next();
        }
        return value;
    case Token::Symbol:
        if (p.IsSymbol(u'(')) {
            value.Type = Value::List;
            p.Next();
            while (!p.IsSymbol(u')')) {
                if (p.Current().Type == Token::End)
                    throw NotValid();
                const Value item = ReadValue(p);
                if (item.Type == Value::String)
                    value.Strings.append(item.Text);
                else
                    value.ListOfStrings = false;
            }
            p.Next();
            return value;
        }
        break;
    default:
        break;
    }
    // Sets, binary data, collections, floats: nothing here is stored that way.
    throw NotValid();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TDataStore

QByteArray TDataStore::WriteText()
{
    QString out = QStringLiteral("object ") + ClassName() + QStringLiteral("\r\n");
    for (const TProperty &property : Properties()) {
        if (property.Stored && !property.Stored())
            continue;
        const TPropertyValue value = property.Get();
        out += QLatin1String("  ");
        out += property.Name;
        switch (property.Type) {
        case TProperty::StringList: {
            out += QLatin1String(".Strings = (");
            for (const QString &item : std::get<QStringList>(value)) {
                out += Indent(2);
                WriteString(out, item, 2);
            }
            out += u')';
            break;
        }
        case TProperty::Integer:
            out += QLatin1String(" = ") + QString::number(std::get<qint32>(value));
            break;
        case TProperty::Boolean:
            out += std::get<bool>(value) ? QLatin1String(" = True") : QLatin1String(" = False");
            break;
        case TProperty::Enumeration: {
            const qint32 ordinal = std::get<qint32>(value);
            out += QLatin1String(" = ");
            out += ordinal >= 0 && ordinal < property.Identifiers.size()
                       ? property.Identifiers.at(ordinal)
                       : QString::number(ordinal);
            break;
        }
        case TProperty::String:
            out += QLatin1String(" = ");
            WriteString(out, std::get<QString>(value), 1);
            break;
        }
        out += QLatin1String("\r\n");
    }
    out += QLatin1String("end\r\n");
    return out.toUtf8();
}

void TDataStore::ReadText(const QByteArray &data)
{
    const QString text = QString::fromUtf8(data);
    Parser p(text);
    const QString header = p.ExpectIdentifier();
    if (header.compare(QLatin1String("object"), Qt::CaseInsensitive) != 0
        && header.compare(QLatin1String("inherited"), Qt::CaseInsensitive) != 0
        && header.compare(QLatin1String("inline"), Qt::CaseInsensitive) != 0)
        throw NotValid();
    // "object TSettings" or "object Name: TSettings"; the class name is not compared.
    p.ExpectIdentifier();
    if (p.IsSymbol(u':')) {
        p.Next();
        p.ExpectIdentifier();
    }

    const std::vector<TProperty> properties = Properties();
    for (;;) {
        if (p.Current().Type != Token::Identifier)
            throw NotValid();
        if (p.Current().Text.compare(QLatin1String("end"), Qt::CaseInsensitive) == 0)
            break; // whatever follows the object is not read
        QStringList path{p.ExpectIdentifier()};
        while (p.IsSymbol(u'.')) {
            p.Next();
            path.append(p.ExpectIdentifier());
        }
        p.ExpectSymbol(u'=');
        const Value value = ReadValue(p);

        const TProperty *property = nullptr;
        for (const TProperty &candidate : properties) {
            if (SameTextAscii(candidate.Name, path.first())) {
                property = &candidate;
                break;
            }
        }
        if (!property)
            throw NotValid();
        if (property->Type == TProperty::StringList) {
            if (path.size() != 2 || !SameTextAscii(path.at(1), QStringLiteral("Strings"))
                || value.Type != Value::List || !value.ListOfStrings)
                throw NotValid();
            property->Set(value.Strings);
            continue;
        }
        if (path.size() != 1)
            throw NotValid();
        switch (property->Type) {
        case TProperty::Integer:
            if (value.Type != Value::Integer || !value.InRange
                || value.Number < std::numeric_limits<qint32>::min()
                || value.Number > std::numeric_limits<qint32>::max())
                throw NotValid();
            property->Set(qint32(value.Number));
            break;
        case TProperty::Boolean:
            if (value.Type != Value::Identifier)
                throw NotValid();
            if (SameTextAscii(value.Text, QStringLiteral("True")))
                property->Set(true);
            else if (SameTextAscii(value.Text, QStringLiteral("False")))
                property->Set(false);
            else
                throw NotValid();
            break;
        case TProperty::Enumeration: {
            if (value.Type != Value::Identifier)
                throw NotValid();
            qint32 ordinal = -1;
            for (qsizetype i = 0; i < property->Identifiers.size(); ++i) {
                if (SameTextAscii(property->Identifiers.at(i), value.Text))
                    ordinal = qint32(i);
            }
            if (ordinal < 0)
                throw NotValid();
            property->Set(ordinal);
            break;
        }
        case TProperty::String:
            if (value.Type != Value::String)
                throw NotValid();
            property->Set(value.Text);
            break;
        case TProperty::StringList:
            break;
        }
    }
}

void TDataStore::LoadFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EStoreError(QStringLiteral("Cannot open file %1").arg(fileName));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw NotValid();
    ReadText(data);
}

void TDataStore::SaveToFile(const QString &fileName)
{
    WriteFileSafely(fileName, WriteText());
}

// ---------------------------------------------------------------------------------------------
// TProperties

bool TPropertiesItem::AsBoolean() const
{
    return StoreTextToBoolean(Value);
}

TPropertiesItem *TProperties::Items(const QString &name)
{
    const int index = IndexOf(name);
    if (index >= 0)
        return m_items[size_t(index)].get();
    m_items.push_back(std::make_unique<TPropertiesItem>());
    m_items.back()->Name = name;
    return m_items.back().get();
}

int TProperties::IndexOf(const QString &name) const
{
    return IndexOfName(m_items, name);
}
