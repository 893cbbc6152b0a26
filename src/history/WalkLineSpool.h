#pragma once
#include "log/Result.h"

#include <QList>
#include <QString>
#include <QTemporaryFile>
#include <functional>
#include <memory>

namespace fw {

// A line the point forming writes while it reads a run: the same in every pass, whatever the group size.
struct WalkLine {
    enum class Kind : quint8 { Log, Error };
    qint64 ordinal = -1; // the run being read when it was written
    Kind kind = Kind::Log;
    QString text;      // Log: the line; Error: the description
    qint32 number = 0; // Error: its number
    qint32 line = 0;   // Error: the statement
};

// The per-run lines of a walk, kept for every pass that writes them again. Few in sound data; past a few
// thousand they go to a temporary file, so memory stays flat however many runs mismatch.
class WalkLineSpool {
public:
    // `fileTemplate`: where the temporary file goes (QTemporaryFile's template); empty: the system's temporary folder.
    explicit WalkLineSpool(QString fileTemplate = {});
    ~WalkLineSpool();
    void append(WalkLine line);
    qint64 size() const { return m_count; }
    // Hands every line to `f` in order. Fails with 75 and the file's own reason when the lines kept in the
    // temporary file cannot be read back whole.
    Result<void> forEach(const std::function<void(const WalkLine&)>& f);

private:
    void spill();
    QString m_template;
    QList<WalkLine> m_memory;
    std::unique_ptr<QTemporaryFile> m_file;
    bool m_fileFailed = false;
    qint64 m_fileBytes = 0; // written whole
    qint64 m_inFile = 0;
    qint64 m_count = 0;
};

} // namespace fw
