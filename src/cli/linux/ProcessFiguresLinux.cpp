#include "cli/ProcessFigures.h"

#include "monitor/MetricsText.h"

#include <QByteArray>
#include <QList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fw {
namespace {

// Read on each scrape: plain system calls, without QFile's and QDir's work for files of a few bytes.
QByteArray procFile(const char* name)
{
    QByteArray text;
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    ::close(fd);
    return text;
}

int openFiles()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int n = -1; // the folder's own descriptor is listed too
    while (const dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.')
            ++n;
    ::closedir(dir);
    return n;
}

// When the process started, in Unix seconds: its start in clock ticks after boot, and the boot's time.
double startTime()
{
    static const double start = [] {
        const QByteArray stat = procFile("/proc/self/stat");
        // The fields after the command name, which is in parentheses and may hold spaces; starttime is the 22nd.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        double boot = 0;
        for (const QByteArray& line : procFile("/proc/stat").split('\n'))
            if (line.startsWith("btime "))
                boot = line.mid(6).toDouble();
        return fields.size() > 19 && boot > 0 ? boot + fields[19].toDouble() / static_cast<double>(::sysconf(_SC_CLK_TCK)) : 0.0;
    }();
    return start;
}

} // namespace

void processFamilies(ExpositionWriter& w)
{
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) == 0) {
        w.family(QStringLiteral("process_cpu_seconds_total"), QStringLiteral("Total user and system CPU time spent in seconds."),
                 QStringLiteral("counter"));
        w.sample(QStringLiteral("process_cpu_seconds_total"),
                 static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    }
    const QList<QByteArray> pages = procFile("/proc/self/statm").split(' ');
    if (pages.size() > 1) {
        const double page = static_cast<double>(::sysconf(_SC_PAGESIZE));
        w.family(QStringLiteral("process_virtual_memory_bytes"), QStringLiteral("Virtual memory size in bytes."));
        w.sample(QStringLiteral("process_virtual_memory_bytes"), pages[0].toDouble() * page);
        w.family(QStringLiteral("process_resident_memory_bytes"), QStringLiteral("Resident memory size in bytes."));
        w.sample(QStringLiteral("process_resident_memory_bytes"), pages[1].toDouble() * page);
    }
    if (const int files = openFiles(); files >= 0) {
        w.family(QStringLiteral("process_open_fds"), QStringLiteral("Number of open file descriptors."));
        w.sample(QStringLiteral("process_open_fds"), files);
    }
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        w.family(QStringLiteral("process_max_fds"), QStringLiteral("Maximum number of open file descriptors."));
        w.sample(QStringLiteral("process_max_fds"), static_cast<double>(files.rlim_cur));
    }
    if (const double start = startTime(); start > 0) {
        w.family(QStringLiteral("process_start_time_seconds"),
                 QStringLiteral("Start time of the process since unix epoch in seconds."));
        w.sample(QStringLiteral("process_start_time_seconds"), start);
    }
}

} // namespace fw
