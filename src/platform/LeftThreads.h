#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace fw {

// Threads given up on while they still run: a database login or a name lookup past its deadline, a metrics read
// past the server's stop. They may still use Qt's SQL connections, a library's state or the program's context, so
// none of that may be destroyed under them; main() ends through endProgram().
class LeftThreads {
public:
    // A std::thread given up on; `ended` is set by the thread when it no longer uses anything but its own.
    static void leave(std::thread thread, std::shared_ptr<const std::atomic_bool> ended);
    // A thread of another kind, ended once `ended` says so.
    static void leave(std::function<bool()> ended);
    // Whether one of them still runs (those that ended are joined and forgotten).
    static bool anyRunning();
};

// The end of main(): `status` when no thread left behind still runs. Otherwise the process ends here with `status`,
// its standard output and error flushed, and runs no destructor or exit handler under such a thread.
int endProgram(int status);

} // namespace fw
