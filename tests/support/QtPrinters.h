#pragma once
// Forced into every test source (tests/CMakeLists.txt), so that gtest shows Qt's strings as their text rather
// than as the bytes of each character.
#include <QString>
#include <QStringList>
#include <iosfwd>

// Quoted UTF-8, with quotes, backslashes and control characters escaped as in C.
void PrintTo(const QString& text, std::ostream* os);
// { "a", "b" }
void PrintTo(const QStringList& list, std::ostream* os);
