#include "store/XMLStore.h"

#include "store/StringLib.h"

#include <QFile>
#include <QLocale>

#include <cmath>
#include <limits>

namespace {

// A plain floating-point literal with "." as the decimal point: [+-]digits[.digits][e[+-]digits].
bool IsFloatLiteral(QStringView s)
{
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (i < n && (s[i] == u'+' || s[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && IsAsciiDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < n && s[i] == u'.') {
        ++i;
        while (i < n && IsAsciiDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        if (i < n && (s[i] == u'+' || s[i] == u'-'))
            ++i;
        qsizetype expDigits = 0;
        while (i < n && IsAsciiDigit(s[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    return i == n;
}

// One "&#N;" at `at` with N from 0 to 32 (a character the trimming reader would drop); its
// length, or 0 when there is none.
qsizetype EndReferenceAt(QStringView value, qsizetype at, char16_t &code)
{
    if (!value.sliced(at).startsWith(QLatin1String("&#")))
        return 0;
    qsizetype i = at + 2;
    int number = 0;
    while (i < value.size() && i - at < 5 && IsAsciiDigit(value[i]))
        number = number * 10 + (value[i++].unicode() - u'0');
    if (i == at + 2 || i >= value.size() || value[i] != u';' || number > 32)
        return 0;
    code = char16_t(number);
    return i + 1 - at;
}

// Decodes the runs of "&#N;" (N up to 32) at the start and at the end of `value`.
QString DecodeProtectedEnds(const QString &value, bool &found)
{
    QString head;
    qsizetype begin = 0;
    char16_t code = 0;
    for (qsizetype n; (n = EndReferenceAt(value, begin, code)) > 0; begin += n)
        head += QChar(code);
    // The end run, found backwards: each reference ends in ";" and starts at the "&#" before.
    QString tail;
    qsizetype end = value.size();
    while (end > begin) {
        const qsizetype start = value.lastIndexOf(QLatin1String("&#"), end - 1);
        if (start < begin || EndReferenceAt(value, start, code) != end - start)
            break;
        tail.prepend(QChar(code));
        end = start;
    }
    found = begin > 0 || end < value.size();
    if (!found)
        return value;
    return head + value.mid(begin, end - begin) + tail;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Shared reading rules

int StoreTextToInteger(const QString &text)
{
    QString s = TrimBlanks(text).toString();
    if (s.isEmpty())
        s = QStringLiteral("0");
    // Both "1.5" and "1,5" are accepted whatever the locale's decimal separator is.
    const QLocale locale;
    const QString separator = locale.decimalPoint();
    const qsizetype dot = s.indexOf(u'.');
    if (dot >= 0)
        s.replace(dot, 1, separator);
    const qsizetype comma = s.indexOf(u',');
    if (comma >= 0)
        s.replace(comma, 1, separator);

    // Convert in the user's locale: its decimal separator (once) and plain ASCII digits.
    QString plain = s;
    const qsizetype sep = plain.indexOf(separator);
    if (sep >= 0 && separator != QLatin1String("."))
        plain.replace(sep, separator.size(), QStringLiteral("."));
    bool ok = IsFloatLiteral(plain);
    double value = ok ? plain.toLatin1().toDouble(&ok) : 0.0;
    if (!ok || !std::isfinite(value))
        throw EStoreError(QStringLiteral("'%1' is not a valid floating point value").arg(s));
    // Halves go to the even neighbour (the default rounding mode).
    const double rounded = std::nearbyint(value);
    if (rounded < double(std::numeric_limits<qint32>::min())
        || rounded > double(std::numeric_limits<qint32>::max()))
        throw EStoreError(QStringLiteral("'%1' is not a valid integer value").arg(s));
    return int(rounded);
}

bool StoreTextToBoolean(const QString &text)
{
    if (text.isEmpty())
        return false;
    // False exactly when the text reads as the integer 0 ("0", "00", "-0", "$0", "0x0").
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    bool hex = false;
    if (i < n && text[i] == u'$') {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i == n)
        return true; // not a number
    for (; i < n; ++i) {
        const int digit = DigitValue(text[i], hex);
        if (digit < 0)
            return true; // not a number
        if (digit != 0)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// TXMLStore

TXMLStore::~TXMLStore()
{
    // Not the virtual Clear: a derived part is already gone here.
    ReleaseChildren(m_children);
}

// Frees subtrees without recursion: a file may nest elements arbitrarily deep.
void TXMLStore::ReleaseChildren(std::vector<std::unique_ptr<TXMLStore>> &children)
{
    std::vector<std::unique_ptr<TXMLStore>> pending = std::move(children);
    children.clear();
    while (!pending.empty()) {
        std::unique_ptr<TXMLStore> node = std::move(pending.back());
        pending.pop_back();
        for (auto &child : node->m_children)
            pending.push_back(std::move(child));
        node->m_children.clear();
    }
}

TXMLStore *TXMLStore::Add()
{
    m_children.push_back(std::make_unique<TXMLStore>());
    return m_children.back().get();
}

int TXMLStore::IndexOf(const QString &name) const
{
    return IndexOfName(m_children, name);
}

TXMLStore *TXMLStore::Nodes(const QString &name)
{
    const int index = IndexOf(name);
    if (index >= 0)
        return m_children[size_t(index)].get();
    TXMLStore *node = Add();
    node->Name = name;
    node->m_implicit = true;
    return node;
}

const TXMLStore *TXMLStore::Find(const QString &name) const
{
    const int index = IndexOf(name);
    return index >= 0 ? m_children[size_t(index)].get() : nullptr;
}

bool TXMLStore::IsWritten() const
{
    // Written unless this node and everything below it were created by lookups and hold no
    // value. Walked with an explicit stack, like the writer.
    std::vector<const TXMLStore *> pending{this};
    while (!pending.empty()) {
        const TXMLStore *node = pending.back();
        pending.pop_back();
        if (!node->m_implicit || !node->Value.isEmpty())
            return true;
        for (const auto &child : node->m_children)
            pending.push_back(child.get());
    }
    return false;
}

void TXMLStore::Delete(int index)
{
    std::vector<std::unique_ptr<TXMLStore>> doomed;
    doomed.push_back(std::move(m_children[size_t(index)]));
    m_children.erase(m_children.begin() + index);
    ReleaseChildren(doomed);
}

void TXMLStore::Clear()
{
    ReleaseChildren(m_children);
}

bool TXMLStore::AsBoolean() const
{
    return StoreTextToBoolean(Value);
}

int TXMLStore::AsInteger() const
{
    return StoreTextToInteger(Value);
}

QString TXMLStore::AsPassword() const
{
    QString text = Value;
    for (QChar &c : text)
        c = QChar(char16_t(c.unicode() ^ 0x5A));
    return text;
}

void TXMLStore::SetAsPassword(const QString &password)
{
    Value = password;
    m_protectEnds = true;
    m_implicit = false;
    for (QChar &c : Value)
        c = QChar(char16_t(c.unicode() ^ 0x5A));
}

QString TXMLStore::Escape(const QString &value, bool protectEnds)
{
    QString text = value;
    text.replace(u'&', QLatin1String("&amp;"));
    text.replace(u'<', QLatin1String("&lt;"));
    text.replace(u'>', QLatin1String("&gt;"));
    if (!protectEnds)
        return text;
    const QStringView core = TrimBlanks(text);
    if (core.size() == text.size())
        return text;
    const qsizetype begin = core.data() - text.constData();
    const qsizetype end = begin + core.size();
    QString out;
    out.reserve(text.size() + 6 * (begin + text.size() - end));
    for (qsizetype i = 0; i < begin; ++i)
        out += QStringLiteral("&#%1;").arg(uint(text[i].unicode()));
    out += core;
    for (qsizetype i = end; i < text.size(); ++i)
        out += QStringLiteral("&#%1;").arg(uint(text[i].unicode()));
    return out;
}

QString TXMLStore::Unescape(const QString &value, bool *protectedEnds)
{
    QString text = value;
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    bool found = false;
    text = DecodeProtectedEnds(text, found);
    if (protectedEnds)
        *protectedEnds = found;
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

void TXMLStore::WriteText(QString &out) const
{
    // Depth first with an explicit stack; each entry is a node and its next child to write.
    std::vector<std::pair<const TXMLStore *, size_t>> open;
    auto writeOpening = [&out](const TXMLStore *node) {
        out += u'<';
        out += node->Name;
        out += QLatin1String(">\r\n");
        const QString value = Escape(node->Value, node->m_protectEnds);
        if (!value.isEmpty()) {
            out += value;
            out += QLatin1String("\r\n");
        }
    };
    writeOpening(this);
    open.emplace_back(this, 0);
    while (!open.empty()) {
        auto &[node, next] = open.back();
        if (next < node->m_children.size()) {
            const TXMLStore *child = node->m_children[next++].get();
            if (!child->IsWritten())
                continue;
            writeOpening(child);
            open.emplace_back(child, 0);
            continue;
        }
        out += QLatin1String("</");
        out += node->Name;
        out += QLatin1String(">\r\n");
        open.pop_back();
    }
}

// The reader walks the text with a cursor instead of deleting from its front; the steps and
// their quirks (a last name or value without a following delimiter loses its last character,
// any "</" closes the innermost element) are those of the file format's original reader.
// Nesting is kept on an explicit stack so hostile input cannot exhaust the call stack.
void TXMLStore::ParseText(const QString &text)
{
    const qsizetype n = text.size();
    qsizetype pos = 0;

    auto parseElement = [&](TXMLStore *node) {
        // Step 1: the name, up to the first ">".
        const qsizetype open = text.indexOf(u'<', pos);
        if (open >= 0)
            pos = open + 1;
        const qsizetype close = text.indexOf(u'>', pos);
        if (close >= 0) {
            node->Name = text.mid(pos, close - pos);
            pos = close + 1;
        } else {
            node->Name = text.mid(pos, qMax<qsizetype>(0, n - pos - 1));
            pos = n;
        }
        // Step 2: the value, up to the next "<".
        const qsizetype next = text.indexOf(u'<', pos);
        qsizetype length;
        if (next >= 0)
            length = next - pos;
        else
            length = qMax<qsizetype>(0, n - pos - 1);
        const QString raw = TrimBlanks(QStringView(text).sliced(pos, length)).toString();
        node->Value = Unescape(raw, &node->m_protectEnds);
        pos += length;
    };

    parseElement(this);
    std::vector<TXMLStore *> open{this};
    while (!open.empty()) {
        const qsizetype lt = text.indexOf(u'<', pos);
        if (lt < 0)
            break;
        if (lt + 1 < n && text[lt + 1] == u'/') {
            const qsizetype gt = text.indexOf(u'>', pos);
            pos = gt >= 0 ? gt + 1 : n;
            open.pop_back();
            continue;
        }
        TXMLStore *child = open.back()->Add();
        parseElement(child);
        open.push_back(child);
    }
}

void TXMLStore::LoadFromBytes(const QByteArray &data)
{
    Clear();
    ParseText(QString::fromUtf8(data));
}

QByteArray TXMLStore::SaveToBytes() const
{
    QString text;
    WriteText(text);
    return text.toUtf8();
}

void TXMLStore::LoadFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EStoreError(QStringLiteral("Cannot open file %1").arg(fileName));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EStoreError(QStringLiteral("Cannot read file %1").arg(fileName));
    file.close();
    LoadFromBytes(data);
}

void TXMLStore::SaveToFile(const QString &fileName) const
{
    WriteFileSafely(fileName, SaveToBytes());
}
