#include "platform/RegFileParser.h"

#include "platform/DebugChannel.h"
#include "platform/RegistryStore.h"

#include <QSet>
#include <QStringDecoder>

namespace fw {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

int skipBlanks(const QString& s, int from)
{
    while (from < s.size() && isBlank(s[from]))
        ++from;
    return from;
}

bool isCommentStart(QChar c)
{
    return c == QLatin1Char(';') || c == QLatin1Char('#');
}

// Nothing but blanks, or blanks and a comment, from `from` to the end of the line.
bool onlyCommentAfter(const QString& s, int from)
{
    from = skipBlanks(s, from);
    return from == s.size() || isCommentStart(s[from]);
}

// Data that holds no quotes ends where a comment starts.
QString withoutComment(const QString& s)
{
    for (int i = 0; i < s.size(); ++i)
        if (isCommentStart(s[i]))
            return s.left(i);
    return s;
}

enum class LineKind { Blank, Comment, Key, Value, Other };

LineKind kindOf(const QString& line)
{
    const int i = skipBlanks(line, 0);
    if (i == line.size())
        return LineKind::Blank;
    const QChar c = line[i];
    if (isCommentStart(c))
        return LineKind::Comment;
    if (c == QLatin1Char('['))
        return LineKind::Key;
    if (c == QLatin1Char('"') || c == QLatin1Char('@'))
        return LineKind::Value;
    return LineKind::Other;
}

// A quoted text starting at s[from] == '"'. Only \\ and \" are escapes; any other is kept as written and
// listed in `unknown`; \0 cannot be stored.
struct Quoted {
    enum Status { Ok, Unterminated, Nul } status = Unterminated;
    QString text;
    int next = 0; // just after the closing quote
    QStringList unknown;
};

Quoted readQuoted(const QString& s, int from)
{
    Quoted q;
    for (int i = from + 1; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char('"')) {
            q.status = Quoted::Ok;
            q.next = i + 1;
            return q;
        }
        if (c != QLatin1Char('\\')) {
            q.text.append(c);
            continue;
        }
        if (++i >= s.size())
            return q;
        const QChar e = s[i];
        if (e == QLatin1Char('\\') || e == QLatin1Char('"')) {
            q.text.append(e);
        } else if (e == QLatin1Char('0')) {
            q.status = Quoted::Nul;
            return q;
        } else {
            q.text.append(QLatin1Char('\\')).append(e);
            q.unknown.append(QStringLiteral("\\") + e);
        }
    }
    return q;
}

bool parseHexBytes(const QString& text, QByteArray& out)
{
    out.clear();
    out.reserve(text.size() / 3 + 1);
    for (QStringView p : QStringView(text).split(QLatin1Char(','))) {
        p = p.trimmed();
        if (p.isEmpty())
            continue; // a stray comma loses nothing
        bool ok = false;
        const uint b = p.toUInt(&ok, 16);
        if (!ok || p.size() > 2)
            return false;
        out.append(static_cast<char>(b));
    }
    return true;
}

// Text data as an ANSI query returns it; an odd last byte is kept as a character of its own.
QByteArray utf16ToAnsi(const QByteArray& bytes)
{
    QString s;
    s.reserve(bytes.size() / 2 + 1);
    for (int i = 0; i < bytes.size(); i += 2) {
        const uint lo = static_cast<uchar>(bytes[i]);
        const uint hi = i + 1 < bytes.size() ? static_cast<uchar>(bytes[i + 1]) : 0;
        s.append(QChar(static_cast<char16_t>(lo | (hi << 8))));
    }
    return s.toLocal8Bit();
}

// The terminating zero of a text is optional in the file; a reader expects it.
void terminateText(QByteArray& data, quint32 type)
{
    if (data.isEmpty())
        return;
    if (!data.endsWith('\0'))
        data.append('\0');
    if (type == RegMultiSz && data.size() > 1 && !data.endsWith(QByteArrayView("\0\0", 2)))
        data.append('\0');
}

bool isKnownHive(const QString& name)
{
    static const QSet<QString> hives = {QStringLiteral("hkey_local_machine"), QStringLiteral("hkey_current_user"),
                                        QStringLiteral("hkey_classes_root"), QStringLiteral("hkey_users"),
                                        QStringLiteral("hkey_current_config")};
    return hives.contains(name.toLower());
}

} // namespace

struct RegFileParser::Context {
    const QString& source;
    const QStringList& lines;
    RegistryContents& out;
    int index = 0;
    bool unicodeFile = true; // REGEDIT4 files keep text data in the ANSI code page
    RegistryContents::Key* key = nullptr;
    bool keyRefused = false; // the last key line could not be read

    int lineNo() const { return index + 1; }
};

QString RegFileParser::decode(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE")) {
        auto dec = QStringDecoder(QStringDecoder::Utf16LE);
        return dec(bytes.mid(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        auto dec = QStringDecoder(QStringDecoder::Utf16BE);
        return dec(bytes.mid(2));
    }
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    auto utf8 = QStringDecoder(QStringDecoder::Utf8);
    QString s = utf8(body);
    if (utf8.hasError())
        return QString::fromLatin1(body);
    return s;
}

QStringList RegFileParser::splitLines(const QString& text)
{
    QStringList lines;
    int start = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

void RegFileParser::skip(const Context& c, int lineNo, const QString& why, const QString* valueName)
{
    ++m_skipped;
    if (!m_debug)
        return;
    // The line itself is never shown: its data may be a password.
    QString text = QStringLiteral("Registry file %1 line %2 skipped (%3)").arg(c.source).arg(lineNo).arg(why);
    if (valueName)
        text += valueName->isEmpty() ? QStringLiteral(": value @") : QStringLiteral(": value \"%1\"").arg(valueName->left(120));
    m_debug->write(text);
}

void RegFileParser::warn(const Context& c, int lineNo, const QString& what)
{
    if (m_debug)
        m_debug->write(QStringLiteral("Registry file %1 line %2: %3").arg(c.source).arg(lineNo).arg(what));
}

int RegFileParser::parse(const QByteArray& bytes, const QString& sourceName, RegistryContents& out)
{
    m_skipped = 0;
    m_beganAsExport = false;
    const QStringList lines = splitLines(decode(bytes));
    Context c{sourceName, lines, out};
    bool headerSeen = false;

    for (; c.index < lines.size(); ++c.index) {
        const QString& line = lines[c.index];
        const LineKind kind = kindOf(line);
        if (kind == LineKind::Blank || kind == LineKind::Comment)
            continue;

        if (!headerSeen) {
            headerSeen = true;
            m_beganAsExport = true;
            const QString header = line.trimmed();
            if (header.startsWith(QLatin1String("Windows Registry Editor Version"), Qt::CaseInsensitive))
                continue;
            if (header.compare(QLatin1String("REGEDIT4"), Qt::CaseInsensitive) == 0) {
                c.unicodeFile = false;
                continue;
            }
            if (kind != LineKind::Key) {
                m_beganAsExport = false;
                skip(c, c.lineNo(), QStringLiteral("no \"Windows Registry Editor Version 5.00\" header"));
                continue;
            }
        }

        if (kind == LineKind::Key)
            readKeyLine(c, line);
        else if (kind == LineKind::Value)
            readValueLine(c, line);
        else
            skip(c, c.lineNo(), QStringLiteral("not a value line"));
    }
    return m_skipped;
}

void RegFileParser::readKeyLine(Context& c, const QString& line)
{
    c.key = nullptr;
    c.keyRefused = true;
    const int open = skipBlanks(line, 0);
    const int close = line.lastIndexOf(QLatin1Char(']'));
    if (close <= open + 1 || !onlyCommentAfter(line, close + 1)) {
        skip(c, c.lineNo(), QStringLiteral("unterminated key"));
        return;
    }
    // The name is read as written: a blank after the bracket or before it belongs to the name.
    QString name = line.mid(open + 1, close - open - 1);
    const bool deletion = name.startsWith(QLatin1Char('-'));
    if (deletion)
        name.remove(0, 1);

    const QStringList parts = RegistryContents::keyParts(name);
    if (parts.isEmpty() || !isKnownHive(parts.first())) {
        skip(c, c.lineNo(), QStringLiteral("unknown root key"));
        return;
    }
    if (parts.size() - 1 > kMaxKeyDepth) {
        skip(c, c.lineNo(), QStringLiteral("key deeper than %1 levels").arg(kMaxKeyDepth));
        return;
    }
    for (const QString& part : parts) {
        if (part.size() > kMaxKeyNameLength) {
            skip(c, c.lineNo(), QStringLiteral("key name longer than %1 characters").arg(kMaxKeyNameLength));
            return;
        }
    }
    c.keyRefused = false;
    if (deletion)
        c.out.removeKey(parts);
    else
        c.key = &c.out.addKey(parts);
}

namespace {

// The data of a hex value, gathered over its continuation lines.
struct HexData {
    enum Status { Ok, Unfinished, NoComma } status = Ok;
    QString text;
};

// `first` is the data on the value's own line; `index` moves to the last line that belongs to the value.
HexData gatherHex(const QStringList& lines, int& index, const QString& first)
{
    HexData d;
    QString segment = first;
    for (;;) {
        segment = withoutComment(segment).trimmed();
        if (!segment.endsWith(QLatin1Char('\\'))) {
            d.text += segment;
            return d;
        }
        segment.chop(1);
        segment = segment.trimmed();
        if (!segment.isEmpty() && !segment.endsWith(QLatin1Char(','))) {
            // Its continuation lines go with it; a line that starts something of its own ends it.
            while (index + 1 < lines.size() && kindOf(lines[index + 1]) == LineKind::Other)
                ++index;
            d.status = HexData::NoComma;
            return d;
        }
        d.text += segment;
        for (;;) {
            if (index + 1 >= lines.size())
                return d; // the file ends after ",\": what was read stands
            const LineKind next = kindOf(lines[index + 1]);
            if (next == LineKind::Key || next == LineKind::Value) {
                d.status = HexData::Unfinished;
                return d;
            }
            ++index;
            if (next == LineKind::Other)
                break;
        }
        segment = lines[index];
    }
}

} // namespace

void RegFileParser::readValueLine(Context& c, const QString& line)
{
    const int lineNo = c.lineNo(); // the value's first line, whatever continuation lines follow
    const int start = skipBlanks(line, 0);
    QString name;
    QStringList unknownEscapes; // in the name
    bool escapeInData = false;
    int pos = start + 1;
    if (line[start] == QLatin1Char('"')) {
        Quoted q = readQuoted(line, start);
        if (q.status == Quoted::Nul) {
            skip(c, lineNo, QStringLiteral("\\0 in a name"));
            return;
        }
        if (q.status != Quoted::Ok) {
            skip(c, lineNo, QStringLiteral("not a value line"));
            return;
        }
        name = q.text;
        unknownEscapes = q.unknown;
        pos = q.next;
    }
    pos = skipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != QLatin1Char('=')) {
        skip(c, lineNo, QStringLiteral("missing '='"), &name);
        return;
    }
    pos = skipBlanks(line, pos + 1);
    const QString data = line.mid(pos);

    // Hex data first: its continuation lines belong to this value whatever else is wrong with it.
    const bool hex = data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive);
    quint32 hexType = RegBinary;
    QString hexText;
    bool hexTypeOk = true;
    HexData gathered;
    if (hex) {
        int colon = 3;
        if (data.size() > 3 && data[3] == QLatin1Char('(')) {
            const int closeParen = data.indexOf(QLatin1Char(')'), 4);
            bool ok = false;
            hexType = closeParen > 4 ? QStringView(data).mid(4, closeParen - 4).toUInt(&ok, 16) : 0;
            hexTypeOk = ok;
            colon = closeParen + 1;
        }
        hexTypeOk = hexTypeOk && colon > 0 && colon < data.size() && data[colon] == QLatin1Char(':');
        if (hexTypeOk)
            gathered = gatherHex(c.lines, c.index, data.mid(colon + 1));
    }

    if (!c.key) {
        skip(c, lineNo,
             c.keyRefused ? QStringLiteral("value under a key that was not read") : QStringLiteral("value outside a key"), &name);
        return;
    }

    std::optional<RegValue> value;
    if (data.startsWith(QLatin1Char('-'))) {
        if (!onlyCommentAfter(data, 1)) {
            skip(c, lineNo, QStringLiteral("text after '-'"), &name);
            return;
        }
    } else if (data.startsWith(QLatin1Char('"'))) {
        Quoted q = readQuoted(data, 0);
        if (q.status == Quoted::Nul) {
            skip(c, lineNo, QStringLiteral("\\0 in a string"), &name);
            return;
        }
        if (q.status != Quoted::Ok || !onlyCommentAfter(data, q.next)) {
            skip(c, lineNo, QStringLiteral("bad string"), &name);
            return;
        }
        QByteArray bytes = q.text.toLocal8Bit();
        bytes.append('\0');
        value = RegValue{RegSz, bytes};
        escapeInData = !q.unknown.isEmpty();
    } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = withoutComment(data.mid(6)).trimmed();
        bool ok = false;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8) {
            skip(c, lineNo, QStringLiteral("bad dword"), &name);
            return;
        }
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        value = RegValue{RegDword, bytes};
    } else if (hex) {
        if (!hexTypeOk) {
            skip(c, lineNo, QStringLiteral("bad hex type"), &name);
            return;
        }
        if (gathered.status == HexData::NoComma) {
            skip(c, lineNo, QStringLiteral("continuation without a comma before the backslash"), &name);
            return;
        }
        if (gathered.status == HexData::Unfinished) {
            skip(c, lineNo, QStringLiteral("continuation ended by line %1").arg(c.lineNo() + 1), &name);
            return;
        }
        QByteArray bytes;
        if (!parseHexBytes(gathered.text, bytes)) {
            skip(c, lineNo, QStringLiteral("bad hex bytes"), &name);
            return;
        }
        const bool textType = hexType == RegSz || hexType == RegExpandSz || hexType == RegMultiSz;
        if (textType) {
            if (c.unicodeFile)
                bytes = utf16ToAnsi(bytes);
            terminateText(bytes, hexType);
        }
        value = RegValue{hexType, bytes};
    } else {
        skip(c, lineNo, QStringLiteral("unknown value type"), &name);
        return;
    }

    for (const QString& e : unknownEscapes)
        warn(c, lineNo, QStringLiteral("unrecognised escape sequence %1 kept as written").arg(e));
    // The data's own escape is not shown: it would be a letter of what may be a password.
    if (escapeInData)
        warn(c, lineNo,
             QStringLiteral("unrecognised escape sequence in the data of value \"%1\" kept as written").arg(name.left(120)));
    if (value)
        RegistryContents::setRaw(*c.key, name, std::move(*value));
    else
        RegistryContents::removeValue(*c.key, name);
}

QByteArray ansiTextData(const QByteArray& utf16, quint32 type)
{
    QByteArray data = utf16ToAnsi(utf16);
    terminateText(data, type);
    return data;
}

} // namespace fw
