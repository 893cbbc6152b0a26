#pragma once
#include <QString>

namespace fw {

class RegistryContents;

// Writes keys and values in the text format of "reg export" ("Windows Registry Editor Version 5.00", CRLF line
// ends), so that RegFileParser reads back the same values. A text a quoted string holds exactly is written as one,
// a 4-byte number as dword:, anything else as hex data wrapped over continuation lines. A key that holds only
// other keys is left to its subkeys' sections.
class RegFileWriter {
public:
    // `comment`, when given, follows the header as a ; line.
    static QString text(const RegistryContents& contents, const QString& comment = QString());
};

} // namespace fw
