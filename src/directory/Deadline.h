#pragma once
#include "platform/LeftThreads.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace fw {

// The one time limit of a directory verdict (a locate, a server test, a name check, a site lookup).
// Every network step takes its wait from what is left; none has a bound of its own.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;
    // Five seconds from the user's click or the command's start, less a little kept for showing the verdict
    // (and, on the command line, for starting and ending the process).
    static constexpr int kVerdictMs = 5000;
    static constexpr int kReserveMs = 500;
    static Deadline forVerdict() { return Deadline(kVerdictMs - kReserveMs); }

    explicit Deadline(int budgetMs) : m_end(Clock::now() + std::chrono::milliseconds(budgetMs)) {}

    // Milliseconds left, never negative.
    int remainingMs() const;
    bool expired() const { return Clock::now() >= m_end; }
    // At most `capMs` of what is left: a step that may hand the rest to the next candidate.
    int shareMs(int capMs) const { return std::min(capMs, remainingMs()); }
    Clock::time_point end() const { return m_end; }

    // "address lookup of dc1.corp.example.com cut short at the 5-second deadline"
    static QString cutShort(const QString& step, const QString& server);

private:
    Clock::time_point m_end;
};

// Runs `work` on a thread of its own and waits for it until the deadline. When the deadline comes first,
// the work is abandoned: it finishes (and cleans up) on its own, its result is dropped, and nothing comes
// back; the program does not end under it (LeftThreads). For library calls that cannot be bounded from outside
// (name resolution, the Kerberos exchange).
template <class T>
std::optional<T> runWithin(const Deadline& deadline, std::function<T()> work)
{
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        std::optional<T> result;
    };
    auto shared = std::make_shared<Shared>();
    auto ended = std::make_shared<std::atomic_bool>(false);
    std::thread thread([shared, ended, work = std::move(work)]() mutable {
        T value = work();
        work = nullptr; // what the work holds goes before the thread says it has ended
        {
            std::lock_guard lock(shared->m);
            shared->result = std::move(value);
            shared->cv.notify_all();
        }
        ended->store(true);
    });
    std::unique_lock lock(shared->m);
    if (shared->cv.wait_until(lock, deadline.end(), [&] { return shared->result.has_value(); })) {
        lock.unlock();
        thread.join();
        return std::move(shared->result);
    }
    lock.unlock();
    LeftThreads::leave(std::move(thread), std::move(ended));
    return std::nullopt;
}

} // namespace fw
