#pragma once

// What the four parts of the JSON module share; not for its callers.

#include "VbError.h"

#include <QChar>
#include <QString>

namespace json::detail {

[[noreturn]] inline void fail(int number, const QString& source) {
    throw VbError(number, source, VbErrors::describe(number));
}

inline const QChar* chars(const char16_t* p) {
    return reinterpret_cast<const QChar*>(p);
}

// Writes the plain decimal notation of a decimal's parts backwards from `end`; returns where it starts.
// Needs 31 units of room.
char16_t* decimalText(char16_t* end, bool negative, quint64 lo, quint32 hi, int scale);

} // namespace json::detail
