#pragma once
#include "log/FwError.h"

#include <optional>
#include <utility>

namespace fw {

// What a step of the core gives back: its value, or the FwError that says why there is none. The caller sees in the
// signature that the step can fail and has to look; [[nodiscard]] keeps it from dropping the answer unread.
//
//   Result<QSqlQuery> q = db.run(sql, binds);
//   if (!q)
//       return q.error();
//   while (q->next()) ...
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    // An error without a number or a text would read as success; it still counts as a failure.
    Result(FwError error) : m_error(std::move(error))
    {
        if (!m_error.isError())
            m_error = FwError::unknown();
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() & { return *m_value; }
    const T& value() const& { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    T& operator*() & { return *m_value; }
    const T& operator*() const& { return *m_value; }

    T valueOr(T fallback) const& { return m_value ? *m_value : std::move(fallback); }
    T valueOr(T fallback) && { return m_value ? std::move(*m_value) : std::move(fallback); }

    // Empty when ok().
    const FwError& error() const { return m_error; }

private:
    std::optional<T> m_value;
    FwError m_error;
};

// A step that gives nothing back but may fail.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(FwError error) : m_error(std::move(error))
    {
        if (!m_error.isError())
            m_error = FwError::unknown();
    }

    // Success; reads better than `return {};` where a function has many exits.
    static Result success() { return {}; }
    // From a library or driver report where an empty FwError means success.
    static Result of(FwError error) { return error.isError() ? Result(std::move(error)) : Result(); }

    bool ok() const { return !m_error.isError(); }
    explicit operator bool() const { return ok(); }
    const FwError& error() const { return m_error; }

private:
    FwError m_error;
};

} // namespace fw
