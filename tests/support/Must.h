#pragma once
#include "log/Result.h"

#include <gtest/gtest.h>

#include <utility>

namespace fw::test {

// A step of a test's own set-up that has to succeed: its value, or a test failure saying why (and an empty value).
template <typename T>
T must(Result<T> r)
{
    if (!r) {
        ADD_FAILURE() << r.error().number << " " << r.error().description.toStdString();
        return T{};
    }
    return std::move(r).value();
}

inline void must(const Result<void>& r)
{
    if (!r)
        ADD_FAILURE() << r.error().number << " " << r.error().description.toStdString();
}

} // namespace fw::test
