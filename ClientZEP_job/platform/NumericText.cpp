#include "NumericText.h"

#include <limits>

namespace NumericText {
namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// Reads an optional sign and digits from position i; sets `digits` to how many digits were read.
qint64 readNumber(QStringView text, qsizetype& i, int& digits) {
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    digits = 0;
    quint64 value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
        const unsigned d = text[i].unicode() - u'0';
        if (value > (std::numeric_limits<quint64>::max() - d) / 10)
            saturated = true;
        else
            value = value * 10 + d;
    }
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    if (saturated || value > limit)
        value = limit;
    if (negative)
        return value == limit ? std::numeric_limits<qint64>::min() : -qint64(value);
    return qint64(value);
}

} // namespace

qint64 leadingNumber(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    int digits = 0;
    const qint64 v = readNumber(text, i, digits);
    return digits ? v : 0;
}

std::optional<qint64> wholeNumber(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    int digits = 0;
    const qint64 v = readNumber(text, i, digits);
    if (!digits)
        return std::nullopt;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i != text.size())
        return std::nullopt;
    // Saturated readings are out of range, not numbers.
    if (v == std::numeric_limits<qint64>::max() || v == std::numeric_limits<qint64>::min())
        return std::nullopt;
    return v;
}

} // namespace NumericText
