#pragma once
#include <QString>
#include <stdexcept>

namespace fw {

// A failure with a number and a description. The numbers the tool reports keep their customary meaning:
// 5 invalid call, 6 overflow, 13 type mismatch, 94 a null used as a value, 1001 unsupported value type;
// database and network failures carry the driver's or library's own code and text.
struct FwError {
    int number = 0;
    QString description;

    bool isError() const { return number != 0 || !description.isEmpty(); }
    explicit operator bool() const { return isError(); }

    static FwError none() { return {}; }
    static FwError overflow() { return {6, QStringLiteral("Overflow")}; }
    static FwError typeMismatch() { return {13, QStringLiteral("Type mismatch")}; }
    static FwError invalidUseOfNull() { return {94, QStringLiteral("Invalid use of Null")}; }
};

// Thrown inside a step of an ErrorScope; never escapes an event handler.
class FwException : public std::runtime_error {
public:
    explicit FwException(FwError e) : std::runtime_error(e.description.toStdString()), error(std::move(e)) {}
    FwError error;
};

} // namespace fw
