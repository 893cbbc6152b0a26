#pragma once
#include <QIODevice>
#include <QString>

namespace fw {

// Standard output as the commands write their answers to it. Every write is checked, so that an answer that did
// not reach its reader (a full disk, a closed descriptor, a reader that went away) is never taken for a success.
class StandardOutput final : public QIODevice {
public:
    // `closed`: the descriptor was not open when the program started (it now points at /dev/null).
    StandardOutput(int fd, bool closed);

    // Why a write failed ("No space left on device"), empty while every write succeeded (or none was made).
    const QString& failure() const { return m_failure; }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override;

private:
    int m_fd;
    bool m_closed;
    QString m_failure;
};

// Makes sure descriptors 0, 1 and 2 are open before anything else opens a file, so that no file the program
// opens (a database, a log) becomes its standard output by accident. Returns whether standard output was closed.
bool reserveStandardDescriptors();
// Makes a write that cannot be done fail with an error instead of ending the program (SIGPIPE, SIGXFSZ on Linux;
// on Windows such writes fail anyway, and standard error is put in binary mode: its lines end in LF there too).
void ignoreWriteSignals();
// The descriptor of standard output.
constexpr int kStandardOutput = 1;

} // namespace fw
