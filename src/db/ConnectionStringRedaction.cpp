#include "db/ConnectionStringRedaction.h"

#include <QList>

#include <algorithm>

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

// Where the password values are. A braced value runs to the first '}' that is not doubled; anything between
// it and the next ';' still belongs to the value. An unclosed brace runs to the end of the string.
QList<ValueSpan> passwordValues(const QString& s)
{
    QList<ValueSpan> spans;
    const qsizetype n = s.size();
    qsizetype pos = 0;
    while (pos < n) {
        qsizetype eq = pos;
        while (eq < n && s[eq] != QLatin1Char('=') && s[eq] != QLatin1Char(';'))
            ++eq;
        if (eq >= n)
            break;
        if (s[eq] == QLatin1Char(';')) { // an attribute without '='
            pos = eq + 1;
            continue;
        }
        qsizetype i = eq + 1;
        while (i < n && s[i].isSpace())
            ++i;
        if (i < n && s[i] == QLatin1Char('{')) {
            ++i;
            while (i < n) {
                if (s[i] == QLatin1Char('}')) {
                    if (i + 1 < n && s[i + 1] == QLatin1Char('}')) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        }
        while (i < n && s[i] != QLatin1Char(';'))
            ++i;
        if (isPasswordKey(QStringView(s).mid(pos, eq - pos)))
            spans.append({eq + 1, i});
        pos = i + 1;
    }
    return spans;
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
    QString out = text;
    if (!connectionString.isEmpty())
        out.replace(connectionString, redactConnectionString(connectionString));
    // Drivers may quote a value on its own, braced or with the braces and doubled '}' undone.
    QStringList secrets;
    for (const ValueSpan& v : passwordValues(connectionString)) {
        const QString raw = connectionString.mid(v.begin, v.end - v.begin).trimmed();
        secrets.append(raw);
        if (raw.startsWith(QLatin1Char('{')) && raw.endsWith(QLatin1Char('}')))
            secrets.append(raw.mid(1, raw.size() - 2).replace(QStringLiteral("}}"), QStringLiteral("}")));
    }
    std::sort(secrets.begin(), secrets.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& secret : secrets)
        if (!secret.isEmpty())
            out.replace(secret, kMask);
    return out;
}

} // namespace fw
