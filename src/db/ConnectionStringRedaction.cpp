#include "db/ConnectionStringRedaction.h"

#include <QList>

#include <algorithm>
#include <optional>

namespace fw {

namespace {

const QString kMask = QStringLiteral("***");

struct ValueSpan {
    qsizetype begin; // first character after '='
    qsizetype end;   // the ';' that ends the attribute, or the string's end
};

bool isPasswordKey(QStringView key)
{
    const QStringView k = key.trimmed();
    return k.compare(QLatin1String("pwd"), Qt::CaseInsensitive) == 0 ||
           k.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0;
}

// The '=' or ';' that ends the key starting at `pos`, or the string's end.
qsizetype keyEnd(const QString& s, qsizetype pos)
{
    while (pos < s.size() && s[pos] != QLatin1Char('=') && s[pos] != QLatin1Char(';'))
        ++pos;
    return pos;
}

// Inside a brace or quote that is never closed: the attributes a reader that ignores it would see. The first
// password key among them holds the rest of the string.
std::optional<ValueSpan> passwordInUnclosedValue(const QString& s, qsizetype from)
{
    const qsizetype n = s.size();
    qsizetype pos = from;
    while (pos < n) {
        qsizetype eq = keyEnd(s, pos);
        if (eq >= n)
            break;
        if (s[eq] == QLatin1Char('=') && isPasswordKey(QStringView(s).mid(pos, eq - pos)))
            return ValueSpan{eq + 1, n};
        while (eq < n && s[eq] != QLatin1Char(';'))
            ++eq;
        pos = eq + 1;
    }
    return std::nullopt;
}

// One way a driver may read a connection string. ODBC's own grammar: a value in braces, blanks before it allowed,
// ends at the first '}' that is not doubled. FreeTDS: a brace right after '=' opens a value that ends only at a
// "};" or the string's end. Some drivers also take a value in double or single quotes, with or without a doubled
// quote standing for one.
struct Reading {
    enum class Braces { Odbc, FreeTds } braces;
    enum class Quotes { None, EndAtFirst, Doubled } quotes;
};

constexpr Reading kReadings[] = {
    {Reading::Braces::Odbc, Reading::Quotes::None},       {Reading::Braces::FreeTds, Reading::Quotes::None},
    {Reading::Braces::Odbc, Reading::Quotes::EndAtFirst}, {Reading::Braces::FreeTds, Reading::Quotes::EndAtFirst},
    {Reading::Braces::Odbc, Reading::Quotes::Doubled},    {Reading::Braces::FreeTds, Reading::Quotes::Doubled},
};

// Past the brace or quote opened at `open`, or -1 when it is never closed.
qsizetype pastEnclosure(const QString& s, qsizetype open, const Reading& r)
{
    const qsizetype n = s.size();
    const bool brace = s[open] == QLatin1Char('{');
    const QChar close = brace ? QLatin1Char('}') : s[open];
    const bool freeTdsBrace = brace && r.braces == Reading::Braces::FreeTds;
    const bool doubled = brace ? !freeTdsBrace : r.quotes == Reading::Quotes::Doubled;
    for (qsizetype i = open + 1; i < n; ++i) {
        if (s[i] != close)
            continue;
        if (freeTdsBrace) {
            if (i + 1 == n || s[i + 1] == QLatin1Char(';'))
                return i + 1;
        } else if (doubled && i + 1 < n && s[i + 1] == close) {
            ++i;
        } else {
            return i + 1;
        }
    }
    return -1;
}

// Where the password values are under one reading. A braced or quoted value runs to its closing mark; anything
// between it and the next ';' still belongs to the value. One never closed runs to the end of the string, and a
// password key inside it (a driver may read it so) is masked from there to the end.
void passwordValues(const QString& s, const Reading& r, QList<ValueSpan>& spans)
{
    const qsizetype n = s.size();
    qsizetype pos = 0;
    while (pos < n) {
        qsizetype eq = keyEnd(s, pos);
        if (eq >= n)
            break;
        if (s[eq] == QLatin1Char(';')) { // an attribute without '='
            pos = eq + 1;
            continue;
        }
        const bool password = isPasswordKey(QStringView(s).mid(pos, eq - pos));
        qsizetype i = eq + 1;
        while (r.braces == Reading::Braces::Odbc && i < n && s[i].isSpace())
            ++i;
        const bool enclosed = i < n && (s[i] == QLatin1Char('{') || (r.quotes != Reading::Quotes::None &&
                                                                     (s[i] == QLatin1Char('"') || s[i] == QLatin1Char('\''))));
        if (enclosed) {
            const qsizetype past = pastEnclosure(s, i, r);
            if (past < 0) {
                if (password)
                    spans.append({eq + 1, n});
                else if (const auto inner = passwordInUnclosedValue(s, i + 1))
                    spans.append(*inner);
                return;
            }
            i = past;
        }
        while (i < n && s[i] != QLatin1Char(';'))
            ++i;
        if (password)
            spans.append({eq + 1, i});
        pos = i + 1;
    }
}

// The password values under every reading: what one driver takes for the rest of a password, another may take
// for the next attribute, and neither may be shown.
QList<ValueSpan> passwordValues(const QString& s)
{
    QList<ValueSpan> spans;
    for (const Reading& r : kReadings)
        passwordValues(s, r, spans);
    return spans;
}

// The spans that cover the same text joined, in order.
QList<ValueSpan> merged(QList<ValueSpan> spans)
{
    std::sort(spans.begin(), spans.end(), [](const ValueSpan& a, const ValueSpan& b) { return a.begin < b.begin; });
    QList<ValueSpan> out;
    for (const ValueSpan& v : spans) {
        if (!out.isEmpty() && v.begin <= out.last().end)
            out.last().end = std::max(out.last().end, v.end);
        else
            out.append(v);
    }
    return out;
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Where a password value starts in free text: just after "PWD=" or "Password=" (any case, blanks around
// '='), the key not part of a longer word; -1 when there is none from `from` on.
qsizetype nextQuotedValue(const QString& text, qsizetype from)
{
    static const QLatin1String keys[] = {QLatin1String("password"), QLatin1String("pwd")};
    const qsizetype n = text.size();
    for (qsizetype k = from; k < n; ++k) {
        if (k > 0 && isWordChar(text[k - 1]))
            continue;
        for (const QLatin1String key : keys) {
            if (QStringView(text).mid(k, key.size()).compare(key, Qt::CaseInsensitive) != 0)
                continue;
            qsizetype i = k + key.size();
            while (i < n && text[i] == QLatin1Char(' '))
                ++i;
            if (i >= n || text[i] != QLatin1Char('='))
                continue;
            ++i;
            while (i < n && text[i] == QLatin1Char(' '))
                ++i;
            return i;
        }
    }
    return -1;
}

} // namespace

QString redactConnectionString(const QString& connectionString)
{
    QString out = connectionString;
    const QList<ValueSpan> spans = merged(passwordValues(connectionString));
    for (auto it = spans.crbegin(); it != spans.crend(); ++it) // back to front keeps the earlier offsets valid
        out.replace(it->begin, it->end - it->begin, kMask);
    return out;
}

QString withoutConnectionSecrets(const QString& text, const QString& connectionString)
{
    // The values as a driver may quote them after their key: as written under any reading, or with the braces or
    // quotes taken off, a doubled closing mark undone or not.
    QStringList secrets;
    for (const ValueSpan& v : passwordValues(connectionString)) {
        const QString raw = connectionString.mid(v.begin, v.end - v.begin).trimmed();
        secrets.append(raw);
        if (raw.isEmpty())
            continue;
        const QChar open = raw.front();
        const QChar close = open == QLatin1Char('{') ? QLatin1Char('}') : open;
        if (open != QLatin1Char('{') && open != QLatin1Char('"') && open != QLatin1Char('\''))
            continue;
        const QString inner = raw.mid(1, raw.size() - (raw.size() > 1 && raw.endsWith(close) ? 2 : 1));
        secrets.append(inner);
        secrets.append(QString(inner).replace(QString(2, close), QString(close)));
    }
    std::sort(secrets.begin(), secrets.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    secrets.removeDuplicates();
    secrets.removeAll(QString());

    // Only a value in a password's place is masked: the same letters elsewhere in the text are other words.
    QString out = text;
    for (qsizetype v = nextQuotedValue(out, 0); v >= 0; v = nextQuotedValue(out, v + kMask.size())) {
        qsizetype length = -1;
        for (const QString& secret : secrets) {
            if (QStringView(out).mid(v).startsWith(secret)) {
                length = secret.size();
                break;
            }
        }
        if (length < 0) { // a value this connection string does not hold: up to where a quoted value ends
            qsizetype e = v;
            while (e < out.size() && out[e] != QLatin1Char(';') && out[e] != QLatin1Char('\'') && out[e] != QLatin1Char('"') &&
                   !out[e].isSpace())
                ++e;
            length = e - v;
        }
        out.replace(v, length, kMask);
    }
    return out;
}

} // namespace fw
