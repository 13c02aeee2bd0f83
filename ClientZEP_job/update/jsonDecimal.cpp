// The decimal type of the JSON module: a number's text read exactly, and its plain notation.
#include "json.h"
#include "jsonDetail.h"

#include <algorithm>
#include <array>

using json::detail::chars;
using json::detail::decimalText;

namespace {

using u128 = unsigned __int128;

constexpr u128 MaxMagnitude = (u128(1) << 96) - 1;
// Digits gathered exactly before the rest only counts as "something non-zero follows": enough that every
// rounding the type needs sees at least one real digit below the last one kept.
constexpr int KeptDigits = 36;
constexpr int MaxDigits = 29;

constexpr std::array<u128, 39> PowersOfTen = [] {
    std::array<u128, 39> p{};
    p[0] = 1;
    for (size_t i = 1; i < p.size(); ++i)
        p[i] = p[i - 1] * 10;
    return p;
}();

// digits / 10^k rounded half to even; `sticky` says that non-zero digits were dropped below digits.
u128 roundDown(u128 digits, qint64 k, bool sticky) {
    if (k == 0)
        return digits;
    if (k >= qint64(PowersOfTen.size()))
        return 0; // digits < 10^36, far below half of 10^k
    const u128 divisor = PowersOfTen[size_t(k)];
    u128 quotient = digits / divisor;
    const u128 rest = digits % divisor, half = divisor / 2;
    if (rest > half || (rest == half && (sticky || (quotient & 1))))
        ++quotient;
    return quotient;
}

} // namespace

JsonDecimal::JsonDecimal(qint64 value) : negative_(value < 0) {
    lo_ = value < 0 ? 0 - quint64(value) : quint64(value);
}

JsonDecimal::Status JsonDecimal::parse(QStringView text, JsonDecimal& value) {
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    bool negative = false;
    if (p < end && (*p == u'+' || *p == u'-'))
        negative = *p++ == u'-';

    // The value is digits * 10^exponent.
    u128 digits = 0;
    int kept = 0;
    bool sticky = false, anyDigit = false, point = false;
    qint64 exponent = 0;
    for (; p < end; ++p) {
        const char16_t c = *p;
        if (c == u'.') {
            if (point)
                return Status::NotANumber;
            point = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            break;
        anyDigit = true;
        const unsigned d = c - u'0';
        if (kept < KeptDigits) {
            if (digits != 0 || d != 0) {
                digits = digits * 10 + d;
                ++kept;
            }
            if (point)
                --exponent;
        } else {
            sticky |= d != 0;
            if (!point)
                ++exponent;
        }
    }
    if (!anyDigit)
        return Status::NotANumber;
    if (p < end && (*p == u'e' || *p == u'E')) {
        ++p;
        bool negativeExponent = false;
        if (p < end && (*p == u'+' || *p == u'-'))
            negativeExponent = *p++ == u'-';
        if (p == end || *p < u'0' || *p > u'9')
            return Status::NotANumber;
        // Saturates far beyond any exponent that can still give a value other than 0 or overflow.
        qint64 e = 0;
        for (; p < end && *p >= u'0' && *p <= u'9'; ++p)
            e = std::min<qint64>(e * 10 + (*p - u'0'), 1'000'000'000);
        exponent += negativeExponent ? -e : e;
    }
    if (p != end)
        return Status::NotANumber;

    u128 magnitude = 0;
    int scale = 0;
    if (digits == 0) {
        negative = false;
    } else if (exponent >= 0) {
        if (kept + exponent > MaxDigits)
            return Status::Overflow;
        magnitude = digits * PowersOfTen[size_t(exponent)];
        if (magnitude > MaxMagnitude)
            return Status::Overflow;
    } else {
        // As many decimal places as the type holds and the magnitude allows, each candidate rounded from
        // the digits as read (never rounded twice).
        const qint64 places = -exponent;
        scale = int(std::min<qint64>(places, MaxScale));
        for (;; --scale) {
            magnitude = roundDown(digits, places - scale, sticky);
            if (magnitude <= MaxMagnitude)
                break;
            if (scale == 0)
                return Status::Overflow;
        }
        while (scale > 0 && magnitude % 10 == 0) {
            magnitude /= 10;
            --scale;
        }
        if (magnitude == 0)
            negative = false;
    }
    value.lo_ = quint64(magnitude);
    value.hi_ = quint32(magnitude >> 64);
    value.scale_ = quint8(scale);
    value.negative_ = negative;
    return Status::Ok;
}

char16_t* json::detail::decimalText(char16_t* end, bool negative, quint64 lo, quint32 hi, int scale) {
    char16_t* p = end;
    int written = 0;
    const auto digitsOf = [&](quint64 v, int minimum) {
        while (v != 0 || written < minimum) {
            *--p = char16_t(u'0' + v % 10);
            v /= 10;
            ++written;
        }
    };
    if (hi == 0) {
        digitsOf(lo, 1);
    } else {
        // Two 64-bit halves of at most 19 digits each.
        constexpr quint64 Ten19 = 10'000'000'000'000'000'000ull;
        const u128 m = (u128(hi) << 64) | lo;
        digitsOf(quint64(m % Ten19), 19);
        digitsOf(quint64(m / Ten19), 0);
    }
    if (scale > 0) {
        while (written <= scale) {
            *--p = u'0';
            ++written;
        }
        // Move the fraction one place right to open the point.
        std::move(p, end - scale, p - 1);
        --p;
        end[-scale - 1] = u'.';
    }
    if (negative)
        *--p = u'-';
    return p;
}

QString JsonDecimal::toString() const {
    char16_t buffer[40];
    char16_t* const end = buffer + std::size(buffer);
    const char16_t* start = decimalText(end, negative_, lo_, hi_, scale_);
    return QString(chars(start), end - start);
}
