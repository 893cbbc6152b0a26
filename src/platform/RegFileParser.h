#pragma once
#include <QByteArray>
#include <QString>

namespace fw {

class DebugChannel;
class RegistryContents;

// Reads the text format of "reg export" ("Windows Registry Editor Version 5.00" or "REGEDIT4"):
// [key] sections, "name"="text" with \\ and \" escapes, dword:, hex: and hex(N): data with
// continuation lines, key and value deletions, ; comments. UTF-16LE (as exported), UTF-8 or Latin-1.
// A line that cannot be read is skipped with one line on the debugger channel.
class RegFileParser {
public:
    explicit RegFileParser(DebugChannel* debug) : m_debug(debug) {}

    // Adds what the file holds to `out`; returns the number of lines skipped.
    int parse(const QByteArray& bytes, const QString& sourceName, RegistryContents& out);

    static QString decode(const QByteArray& bytes);

private:
    void skip(const QString& source, int lineNo, const QString& why, const QString& line);

    DebugChannel* m_debug;
    int m_skipped = 0;
};

} // namespace fw
