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

// Inside a brace that is never closed: the attributes a reader that ignores the brace would see. The first
// password key among them holds the rest of the string.
std::optional<ValueSpan> passwordInUnclosedBrace(const QString& s, qsizetype from)
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

// Where the password values are. A braced value runs to the first '}' that is not doubled; anything between
// it and the next ';' still belongs to the value. An unclosed brace runs to the end of the string, and a
// password key inside it (a driver may read it so) is masked from there to the end.
QList<ValueSpan> passwordValues(const QString& s)
{
    QList<ValueSpan> spans;
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
        while (i < n && s[i].isSpace())
            ++i;
        if (i < n && s[i] == QLatin1Char('{')) {
            const qsizetype brace = i;
            bool closed = false;
            ++i;
            while (i < n && !closed) {
                if (s[i] == QLatin1Char('}') && i + 1 < n && s[i + 1] == QLatin1Char('}'))
                    i += 2;
                else
                    closed = s[i++] == QLatin1Char('}');
            }
            if (!closed) {
                if (password)
                    spans.append({eq + 1, n});
                else if (const auto inner = passwordInUnclosedBrace(s, brace + 1))
                    spans.append(*inner);
                break;
            }
        }
        while (i < n && s[i] != QLatin1Char(';'))
            ++i;
        if (password)
            spans.append({eq + 1, i});
        pos = i + 1;
    }
    return spans;
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
    const QList<ValueSpan> spans = passwordValues(connectionString);
    for (auto it = spans.crbegin(); it != spans.crend(); ++it) // back to front keeps the earlier offsets valid
        out.replace(it->begin, it->end - it->begin, kMask);
    return out;
}

QString withoutConnectionSecrets(const QString& text, const QString& connectionString)
{
    // The values as a driver may quote them after their key: as written, or with the braces and doubled '}' undone.
    QStringList secrets;
    for (const ValueSpan& v : passwordValues(connectionString)) {
        const QString raw = connectionString.mid(v.begin, v.end - v.begin).trimmed();
        secrets.append(raw);
        if (raw.startsWith(QLatin1Char('{')))
            secrets.append(raw.mid(1, raw.size() - (raw.endsWith(QLatin1Char('}')) ? 2 : 1))
                               .replace(QStringLiteral("}}"), QStringLiteral("}")));
    }
    std::sort(secrets.begin(), secrets.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
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
