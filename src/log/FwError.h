#pragma once
#include <QString>

namespace fw {

// A failure with a number and a description. The numbers the tool reports keep their customary meaning:
// 5 invalid call, 6 overflow, 13 type mismatch, 94 a null used as a value, 1001 unsupported value type,
// 3021 no current record (a result read past its end, or one without rows);
// database and network failures carry the driver's or library's own code and text.
struct FwError {
    int number = 0;
    QString description;

    bool isError() const { return number != 0 || !description.isEmpty(); }
    explicit operator bool() const { return isError(); }

    // Stands in for a failure that came without a number or a text, so that it cannot read as success.
    static FwError unknown() { return {51, QStringLiteral("Internal error")}; }
    static FwError overflow() { return {6, QStringLiteral("Overflow")}; }
    static FwError typeMismatch() { return {13, QStringLiteral("Type mismatch")}; }
    static FwError invalidUseOfNull() { return {94, QStringLiteral("Invalid use of Null")}; }
    static FwError noCurrentRecord()
    {
        return {3021, QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. Requested "
                                     "operation requires a current record.")};
    }
};

} // namespace fw
