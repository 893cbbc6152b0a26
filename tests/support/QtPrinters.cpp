#include "support/QtPrinters.h"

#include <cstdio>
#include <ostream>

void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            *os << "\\\"";
            break;
        case '\\':
            *os << "\\\\";
            break;
        case '\n':
            *os << "\\n";
            break;
        case '\r':
            *os << "\\r";
            break;
        case '\t':
            *os << "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
                *os << hex;
            } else {
                *os << c; // UTF-8 sequences pass whole
            }
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
