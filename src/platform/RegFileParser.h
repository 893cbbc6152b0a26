#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace fw {

class DebugChannel;
class RegistryContents;

// Reads the text format of "reg export" ("Windows Registry Editor Version 5.00" or "REGEDIT4") as Windows'
// own importer reads a hand-edited file: [key] sections, "name"="text" with \\ and \" escapes, dword:, hex: and
// hex(N): data over continuation lines (blank and comment lines inside them are passed over), key and value
// deletions, ; and # comments on lines of their own and after the data. UTF-16 (as exported), UTF-8 or Latin-1,
// with CR, LF or CRLF line ends. A line that cannot be read is skipped with one line on the debugger channel
// naming its line number and value name (never its data, which may be a password);
// an unrecognised escape is kept as written and reported there too (by its value in the data). Time and memory
// grow with the file's size.
class RegFileParser {
public:
    // Windows' own limits on a key.
    static constexpr int kMaxKeyDepth = 512;
    static constexpr int kMaxKeyNameLength = 255;

    explicit RegFileParser(DebugChannel* debug) : m_debug(debug) {}

    // Adds what the file holds to `out`; returns the number of lines skipped.
    int parse(const QByteArray& bytes, const QString& sourceName, RegistryContents& out);
    // After parse: whether the text began as an export does (a header, or a key line), rather than as some other file.
    bool beganAsExport() const { return m_beganAsExport; }

    static QString decode(const QByteArray& bytes);
    // Lines ended by CR, LF or CRLF.
    static QStringList splitLines(const QString& text);

private:
    struct Context;
    void readKeyLine(Context& c, const QString& line);
    void readValueLine(Context& c, const QString& line);
    void skip(const Context& c, int lineNo, const QString& why, const QString* valueName = nullptr);
    void warn(const Context& c, int lineNo, const QString& what);

    DebugChannel* m_debug;
    int m_skipped = 0;
    bool m_beganAsExport = false;
};

// Text data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as an ANSI query returns it, from the UTF-16 bytes the
// wide-character API and a Unicode export hold: converted, and ended with the zero (two for REG_MULTI_SZ) that
// a reader expects. Both the .reg file and the Windows registry give their texts through it.
QByteArray ansiTextData(const QByteArray& utf16, quint32 type);

} // namespace fw
