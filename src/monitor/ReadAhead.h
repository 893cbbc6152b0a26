#pragma once

namespace fw {

class Database;

// What the monitoring readings run, sent ahead together (Database::prefetch): on SQL Server one round trip for the
// statements that need nothing read first and one for those bound to what they found, where each would cost one.
// The readers then run their statements as always and are answered from what was read, as if they ran then; what
// was not read ahead, or failed, runs on its own.
struct ReadAhead {
    bool finishedRuns = false; // the newest finished run of each side and its object total (fleet readings, status)
    bool settings = false;     // the domain list and the configuration (fleet readings)
    bool overview = false;     // the DC overview of the newest DC run (status --details dc)

    // Always the Status refresh's reading: the newest run of each side and its object total.
    void run(Database& db) const;
};

} // namespace fw
