#include "cli/ProcessFigures.h"

#include "monitor/MetricsText.h"

#include <windows.h>

#include <psapi.h>

namespace fw {
namespace {

// A FILETIME's 100-nanosecond units as seconds.
double seconds(const FILETIME& t)
{
    return static_cast<double>((static_cast<quint64>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
}

// Seconds from 1601-01-01, where FILETIME counts from, to the Unix epoch.
constexpr double kEpochFrom1601 = 11644473600.0;
// A process's handles are limited by the kernel to 2^24, the figure Prometheus' own clients give on Windows.
constexpr double kMaxHandles = 16777216.0;

} // namespace

// As Prometheus' clients read them on Windows: handles stand for descriptors, the private bytes for the virtual
// size, the working set for the resident one.
void processFamilies(ExpositionWriter& w)
{
    const HANDLE self = GetCurrentProcess();
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool times = GetProcessTimes(self, &created, &exited, &kernel, &user);
    if (times) {
        w.family(QStringLiteral("process_cpu_seconds_total"), QStringLiteral("Total user and system CPU time spent in seconds."),
                 QStringLiteral("counter"));
        w.sample(QStringLiteral("process_cpu_seconds_total"), seconds(kernel) + seconds(user));
    }
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        w.family(QStringLiteral("process_virtual_memory_bytes"), QStringLiteral("Virtual memory size in bytes."));
        w.sample(QStringLiteral("process_virtual_memory_bytes"), static_cast<double>(memory.PrivateUsage));
        w.family(QStringLiteral("process_resident_memory_bytes"), QStringLiteral("Resident memory size in bytes."));
        w.sample(QStringLiteral("process_resident_memory_bytes"), static_cast<double>(memory.WorkingSetSize));
    }
    DWORD handles = 0;
    if (GetProcessHandleCount(self, &handles)) {
        w.family(QStringLiteral("process_open_fds"), QStringLiteral("Number of open file descriptors."));
        w.sample(QStringLiteral("process_open_fds"), handles);
    }
    w.family(QStringLiteral("process_max_fds"), QStringLiteral("Maximum number of open file descriptors."));
    w.sample(QStringLiteral("process_max_fds"), kMaxHandles);
    if (times) {
        w.family(QStringLiteral("process_start_time_seconds"),
                 QStringLiteral("Start time of the process since unix epoch in seconds."));
        w.sample(QStringLiteral("process_start_time_seconds"), seconds(created) - kEpochFrom1601);
    }
}

} // namespace fw
