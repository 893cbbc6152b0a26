#include "support/QtPrinters.h"

#include <cstdio>
#include <ostream>

void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"';
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            *os << '\\' << c;
        else if (c == '\n')
            *os << "\\n";
        else if (c == '\t')
            *os << "\\t";
        else if (byte < 0x20 || byte == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            *os << hex;
        } else {
            *os << c; // UTF-8 sequences pass whole
        }
    }
    *os << '"';
}

void PrintTo(const QStringList& list, std::ostream* os)
{
    if (list.isEmpty()) {
        *os << "{}";
        return;
    }
    *os << "{ ";
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0)
            *os << ", ";
        PrintTo(list[i], os);
    }
    *os << " }";
}
