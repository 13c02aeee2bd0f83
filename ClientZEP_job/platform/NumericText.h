#pragma once

#include <QStringView>
#include <limits>
#include <optional>

// The two ways numbers are read out of received text.
namespace NumericText {

// Lenient reading: leading blanks skipped, digits read up to the first other character, no digits gives 0.
// A leading "-" or "+" is honoured. Values beyond the 64-bit range saturate.
qint64 leadingNumber(QStringView text);

// Strict reading: the whole text, blanks around it allowed, must be a whole decimal number.
std::optional<qint64> wholeNumber(QStringView text);

// The same value narrowed to a smaller integer type, or nothing when it does not fit.
template <typename T> std::optional<T> narrow(std::optional<qint64> value) {
    if (!value || *value < std::numeric_limits<T>::min() || *value > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(*value);
}

// Lenient reading clamped into the range of T.
template <typename T> T leadingNumberAs(QStringView text) {
    const qint64 v = leadingNumber(text);
    if (v < std::numeric_limits<T>::min())
        return std::numeric_limits<T>::min();
    if (v > std::numeric_limits<T>::max())
        return std::numeric_limits<T>::max();
    return static_cast<T>(v);
}

} // namespace NumericText
