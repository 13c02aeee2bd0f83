#include "json.h"

#include "VbError.h"
#include "cStringBuilder.h"

#include <algorithm>
#include <array>
#include <cstring>

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

[[noreturn]] void fail(int number, const QString& source) {
    throw VbError(number, source, VbErrors::describe(number));
}

const JsonValue& emptyValue() {
    static const JsonValue empty;
    return empty;
}

const QChar* chars(const char16_t* p) {
    return reinterpret_cast<const QChar*>(p);
}

} // namespace

// ---- JsonDecimal ----

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

namespace {

// Writes the plain decimal notation backwards from `end`; returns where it starts. Needs 31 units of room.
char16_t* decimalText(char16_t* end, bool negative, quint64 lo, quint32 hi, int scale) {
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

} // namespace

QString JsonDecimal::toString() const {
    char16_t buffer[40];
    char16_t* const end = buffer + std::size(buffer);
    const char16_t* start = decimalText(end, negative_, lo_, hi_, scale_);
    return QString(chars(start), end - start);
}

// ---- JsonArray, JsonObject, JsonValue ----

const JsonValue& JsonArray::item(qsizetype position) const {
    if (position < 1 || position > count())
        fail(VbErrors::SubscriptOutOfRange, QStringLiteral("JsonArray::item"));
    return items_[size_t(position - 1)];
}

namespace {
// Up to this many members a linear search beats hashing the key.
constexpr size_t LinearSearchLimit = 12;
} // namespace

JsonObject::JsonObject() = default;
JsonObject::JsonObject(JsonObject&&) noexcept = default;
JsonObject& JsonObject::operator=(JsonObject&&) noexcept = default;
JsonObject::~JsonObject() = default;

JsonObject::JsonObject(const JsonObject& other)
    : members_(other.members_),
      index_(other.index_ ? std::make_unique<QHash<QString, qsizetype>>(*other.index_) : nullptr) {}

JsonObject& JsonObject::operator=(const JsonObject& other) {
    if (this != &other)
        *this = JsonObject(other);
    return *this;
}

qsizetype JsonObject::indexOf(const QString& key) const {
    if (index_)
        return index_->value(key, -1);
    const qsizetype length = key.size();
    for (size_t i = 0; i < members_.size(); ++i) {
        const QString& k = members_[i].key;
        if (k.size() == length &&
            std::memcmp(k.constData(), key.constData(), size_t(length) * sizeof(QChar)) == 0)
            return qsizetype(i);
    }
    return -1;
}

const JsonValue& JsonObject::value(const QString& key) const {
    const qsizetype i = indexOf(key);
    return i < 0 ? emptyValue() : members_[size_t(i)].value;
}

bool JsonObject::insert(QString&& key, JsonValue&& value) {
    if (indexOf(key) >= 0)
        return false;
    members_.push_back({std::move(key), std::move(value)});
    indexLast();
    return true;
}

bool JsonObject::insert(const QString& key, const JsonValue& value) {
    if (indexOf(key) >= 0)
        return false;
    members_.push_back({key, value});
    indexLast();
    return true;
}

void JsonObject::indexLast() {
    if (index_) {
        index_->insert(members_.back().key, qsizetype(members_.size() - 1));
    } else if (members_.size() > LinearSearchLimit) {
        index_ = std::make_unique<QHash<QString, qsizetype>>();
        index_->reserve(qsizetype(members_.size() * 2));
        for (size_t i = 0; i < members_.size(); ++i)
            index_->insert(members_[i].key, qsizetype(i));
    }
}

JsonValue::JsonValue(const JsonValue&) = default;
JsonValue::JsonValue(JsonValue&&) noexcept = default;
JsonValue& JsonValue::operator=(const JsonValue&) = default;
JsonValue& JsonValue::operator=(JsonValue&&) noexcept = default;
JsonValue::~JsonValue() = default;

namespace {
[[noreturn]] void wrongKind(const char* operation) {
    fail(VbErrors::TypeMismatch, QStringLiteral("JsonValue::") + QLatin1StringView(operation));
}
} // namespace

bool JsonValue::boolean() const {
    if (const bool* b = std::get_if<bool>(&v_))
        return *b;
    wrongKind("boolean");
}

const JsonDecimal& JsonValue::number() const {
    if (const JsonDecimal* n = std::get_if<JsonDecimal>(&v_))
        return *n;
    wrongKind("number");
}

const QString& JsonValue::text() const {
    if (const QString* s = std::get_if<QString>(&v_))
        return *s;
    wrongKind("text");
}

const JsonArray& JsonValue::array() const {
    if (const JsonArray* a = std::get_if<JsonArray>(&v_))
        return *a;
    wrongKind("array");
}

JsonArray& JsonValue::array() {
    if (JsonArray* a = std::get_if<JsonArray>(&v_))
        return *a;
    wrongKind("array");
}

const JsonObject& JsonValue::object() const {
    if (const JsonObject* o = std::get_if<JsonObject>(&v_))
        return *o;
    wrongKind("object");
}

JsonObject& JsonValue::object() {
    if (JsonObject* o = std::get_if<JsonObject>(&v_))
        return *o;
    wrongKind("object");
}

const JsonValue& JsonValue::operator[](const QString& key) const {
    if (const JsonObject* o = std::get_if<JsonObject>(&v_))
        return o->value(key);
    wrongKind("member");
}

const JsonValue& JsonValue::item(qsizetype position) const {
    if (const JsonArray* a = std::get_if<JsonArray>(&v_))
        return a->item(position);
    wrongKind("item");
}

QString JsonValue::asText() const {
    switch (kind()) {
    case Kind::Empty:
        return QString();
    case Kind::Boolean:
        return boolean() ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Number:
        return number().toString();
    case Kind::String:
        return text();
    default:
        wrongKind("asText");
    }
}

// ---- Reader ----

namespace {

QString parseErrors;

// Complaints past this size are dropped: a long text full of misspelt literals would otherwise pile up
// copies of its rest without bound.
constexpr qsizetype ErrorTextLimit = 65536;
// Deeper nesting is refused rather than risking the stack (readers, destructors and the writer all recurse).
constexpr int MaxDepth = 512;

enum class Failure {
    None,
    NotANumber,
    Overflow,
    TooDeep,
    // A misspelt true, false or null: the value is set, but the position has not moved.
    BadLiteral,
};

QString describe(Failure failure) {
    switch (failure) {
    case Failure::NotANumber:
        return VbErrors::describe(VbErrors::TypeMismatch);
    case Failure::Overflow:
        return VbErrors::describe(VbErrors::Overflow);
    case Failure::TooDeep:
        return QStringLiteral("Out of stack space");
    case Failure::BadLiteral:
        return QStringLiteral("Invalid literal");
    case Failure::None:
        break;
    }
    return QString();
}

const QString DuplicateKey =
    QStringLiteral("This key is already associated with an element of this collection");

bool isNumberCharacter(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'+' || c == u'e' || c == u'E';
}

// One pass over the text; every reading step takes and advances the shared position i_ (0-based here,
// written from 1 in complaints).
class Reader {
public:
    Reader(QStringView text, QString& errors, cStringBuilder& builder)
        : text_(text), s_(text.utf16()), n_(text.size()), errors_(errors), builder_(builder) {}

    std::optional<JsonValue> document() {
        skipFiller();
        if (i_ < n_ && s_[i_] == u'{')
            return JsonValue(readObject());
        if (i_ < n_ && s_[i_] == u'[')
            return JsonValue(readArray());
        errors_ = QStringLiteral("Invalid JSON");
        return std::nullopt;
    }

private:
    bool roomForComplaints() const { return errors_.size() < ErrorTextLimit; }

    void complain(QStringView description, QStringView detail) {
        if (!roomForComplaints())
            return;
        errors_.append(description);
        errors_.append(QLatin1StringView(": "));
        errors_.append(detail);
        errors_.append(QLatin1StringView("\r\n"));
    }

    // "<what> at position <n> : <detail>"
    void complainAt(QLatin1StringView what, QStringView detail) {
        if (!roomForComplaints())
            return;
        errors_.append(what);
        errors_.append(QLatin1StringView(" at position "));
        errors_.append(QString::number(i_ + 1));
        errors_.append(QLatin1StringView(" : "));
        errors_.append(detail);
        errors_.append(QLatin1StringView("\r\n"));
    }

    // Blanks, parentheses and comments, scanned with three flags; a lone "/" or "*" between tokens is
    // skipped like a blank.
    void skipFiller() {
        bool slashOrStarSeen = false, inComment = false, inBlockComment = false;
        for (; i_ < n_; ++i_) {
            switch (s_[i_]) {
            case u'\r':
            case u'\n':
                if (!inBlockComment)
                    slashOrStarSeen = inComment = false;
                break;
            case u'\t':
            case u' ':
            case u'(':
            case u')':
                break;
            case u'/':
                if (inBlockComment) {
                    if (slashOrStarSeen)
                        slashOrStarSeen = inComment = inBlockComment = false;
                } else if (slashOrStarSeen) {
                    slashOrStarSeen = false;
                    inComment = true;
                } else {
                    slashOrStarSeen = true;
                    inComment = inBlockComment = false;
                }
                break;
            case u'*':
                if (slashOrStarSeen) {
                    slashOrStarSeen = false;
                    inComment = inBlockComment = true;
                } else {
                    slashOrStarSeen = true;
                }
                break;
            default:
                if (!inComment)
                    return;
            }
        }
    }

    // Every value step returns its value and leaves a failure in failure_ for the enclosing object or array
    // reader, which clears it before each member or element.
    JsonValue readValue() {
        skipFiller();
        if (i_ >= n_)
            return readNumber();
        switch (s_[i_]) {
        case u'{':
            if (depth_ >= MaxDepth)
                return failed(Failure::TooDeep);
            return JsonValue(readObject());
        case u'[':
            if (depth_ >= MaxDepth)
                return failed(Failure::TooDeep);
            return JsonValue(readArray());
        case u'"':
        case u'\'':
            try {
                return JsonValue(readString());
            } catch (const VbError&) {
                return failed(Failure::Overflow); // a string past the builder's 32-bit room
            }
        case u't':
        case u'f':
            return readBoolean();
        case u'n':
            return readNull();
        default:
            return readNumber();
        }
    }

    JsonValue failed(Failure failure) {
        failure_ = failure;
        return JsonValue();
    }

    JsonObject readObject() {
        ++depth_;
        ++i_;
        JsonObject object;
        for (;;) {
            skipFiller();
            if (i_ < n_ && s_[i_] == u'}') {
                ++i_;
                break;
            }
            if (i_ < n_ && s_[i_] == u',') {
                ++i_;
                skipFiller();
            } else if (i_ >= n_) {
                complain(u"Missing '}'", text_.right(20));
                break;
            }
            QString key = readKey();
            failure_ = Failure::None;
            JsonValue value = readValue();
            // A misspelt literal is kept as read; the object goes on from the same character.
            if (failure_ != Failure::None && failure_ != Failure::BadLiteral) {
                complain(describe(failure_), key);
                break;
            }
            if (!object.insert(std::move(key), std::move(value))) {
                complain(DuplicateKey, key);
                break;
            }
        }
        --depth_;
        failure_ = Failure::None; // what failed inside stays inside
        return object;
    }

    JsonArray readArray() {
        ++depth_;
        ++i_;
        JsonArray array;
        for (;;) {
            skipFiller();
            if (i_ < n_ && s_[i_] == u']') {
                ++i_;
                break;
            }
            if (i_ < n_ && s_[i_] == u',') {
                ++i_;
                skipFiller();
            } else if (i_ >= n_) {
                complain(u"Missing ']'", text_.right(20));
                break;
            }
            failure_ = Failure::None;
            JsonValue element = readValue();
            // A misspelt literal ends the array too: the position has not moved, so reading on would meet
            // the same character for ever.
            if (failure_ != Failure::None) {
                complain(describe(failure_), text_.mid(i_, 20));
                break;
            }
            array.append(std::move(element));
        }
        --depth_;
        failure_ = Failure::None;
        return array;
    }

    // Bare, double- or single-quoted; blanks are dropped even inside quotes, and there are no escapes.
    QString readKey() {
        skipFiller();
        bool inDouble = false, inSingle = false;
        // The key is gathered in runs of the text; a key of one run (the usual case) is taken straight from
        // it.
        qsizetype firstStart = -1, firstLength = 0;
        bool pieced = false;
        qsizetype run = i_;
        const auto flush = [&] {
            const qsizetype length = i_ - run;
            if (length == 0)
                return;
            if (firstStart < 0 && !pieced) {
                firstStart = run;
                firstLength = length;
                return;
            }
            if (!pieced) {
                key_.assign(s_ + firstStart, size_t(firstLength));
                pieced = true;
            }
            key_.append(s_ + run, size_t(length));
        };
        const auto key = [&] {
            if (pieced)
                return shared(key_.data(), qsizetype(key_.size()));
            return firstStart < 0 ? QString() : shared(s_ + firstStart, firstLength);
        };
        while (i_ < n_) {
            const char16_t c = s_[i_];
            if (c == u'"' || c == u'\'') {
                flush();
                bool& flag = c == u'"' ? inDouble : inSingle;
                flag = !flag;
                ++i_;
                if (!flag) {
                    skipFiller();
                    if (i_ >= n_ || s_[i_] != u':') {
                        const QString read = key();
                        complainAt(QLatin1StringView("Invalid Key"), read);
                        return read;
                    }
                }
                run = i_;
            } else if (c == u':' && !inDouble && !inSingle) {
                flush();
                ++i_;
                return key();
            } else if (c == u'\r' || c == u'\n' || c == u'\t' || c == u' ') {
                flush();
                ++i_;
                run = i_;
            } else {
                ++i_;
            }
        }
        flush();
        return key();
    }

    QString shared(const char16_t* p, qsizetype length) {
        if (length > 32)
            return QString(chars(p), length);
        quint32 hash = quint32(length);
        for (qsizetype k = 0; k < length; ++k)
            hash = hash * 31 + p[k];
        QString& slot = keys_[(hash ^ (hash >> 7)) % keys_.size()];
        if (slot.size() != length || std::memcmp(slot.constData(), p, size_t(length) * sizeof(char16_t)) != 0)
            slot = QString(chars(p), length);
        return slot;
    }

    // Gathered in the parse's one string builder, a run of plain characters or one escape per Append.
    QString readString() {
        skipFiller();
        const char16_t quote = s_[i_++];
        builder_.Remove(0, builder_.Length());
        qsizetype run = i_;
        const auto flush = [&] {
            if (i_ > run)
                builder_.Append(QString::fromRawData(chars(s_ + run), i_ - run));
        };
        const auto appendUnit = [&](char16_t unit) {
            builder_.Append(QString::fromRawData(chars(&unit), 1));
        };
        while (i_ < n_) {
            const char16_t c = s_[i_];
            if (c == quote) {
                flush();
                ++i_;
                return builder_.toString();
            }
            if (c != u'\\') {
                ++i_;
                continue;
            }
            flush();
            if (++i_ >= n_) {
                run = i_;
                break;
            }
            switch (const char16_t escaped = s_[i_]) {
            case u'"':
            case u'\\':
            case u'/':
            case u'\'':
                appendUnit(escaped);
                break;
            case u'b':
                appendUnit(8);
                break;
            case u'f':
                appendUnit(12);
                break;
            case u'n':
                appendUnit(10);
                break;
            case u'r':
                appendUnit(13);
                break;
            case u't':
                appendUnit(9);
                break;
            case u'u': {
                ++i_;
                const qsizetype stop = std::min(i_ + 4, n_);
                char16_t unit = 0;
                for (qsizetype k = i_; k < stop; ++k) {
                    const char16_t h = s_[k];
                    const int digit = h >= u'0' && h <= u'9'   ? h - u'0'
                                      : h >= u'a' && h <= u'f' ? h - u'a' + 10
                                      : h >= u'A' && h <= u'F' ? h - u'A' + 10
                                                               : -1;
                    if (digit < 0)
                        break;
                    unit = char16_t(unit * 16 + digit);
                }
                appendUnit(unit);
                i_ = stop;
                run = i_;
                continue;
            }
            default:
                // The backslash is dropped; the character is read as an ordinary one.
                run = i_;
                continue;
            }
            ++i_;
            run = i_;
        }
        flush();
        return builder_.toString();
    }

    JsonValue readNumber() {
        skipFiller();
        const qsizetype start = i_;
        while (i_ < n_ && isNumberCharacter(s_[i_]))
            ++i_;
        if (i_ == start && i_ >= n_)
            return JsonValue();
        JsonDecimal number;
        switch (JsonDecimal::parse(text_.sliced(start, i_ - start), number)) {
        case JsonDecimal::Status::Ok:
            return JsonValue(number);
        case JsonDecimal::Status::Overflow:
            return failed(Failure::Overflow);
        case JsonDecimal::Status::NotANumber:
            break;
        }
        return failed(Failure::NotANumber);
    }

    bool at(QLatin1StringView word) const {
        if (n_ - i_ < word.size())
            return false;
        for (qsizetype k = 0; k < word.size(); ++k)
            if (s_[i_ + k] != char16_t(word[k].unicode()))
                return false;
        return true;
    }

    JsonValue readBoolean() {
        skipFiller();
        if (at(QLatin1StringView("true"))) {
            i_ += 4;
            return JsonValue(true);
        }
        if (at(QLatin1StringView("false"))) {
            i_ += 5;
            return JsonValue(false);
        }
        complainAt(QLatin1StringView("Invalid Boolean"), text_.sliced(i_));
        failure_ = Failure::BadLiteral;
        return JsonValue(false);
    }

    JsonValue readNull() {
        skipFiller();
        if (at(QLatin1StringView("null"))) {
            i_ += 4;
            return JsonValue(JsonNull{});
        }
        complainAt(QLatin1StringView("Invalid null value"), text_.sliced(i_));
        return failed(Failure::BadLiteral);
    }

    const QStringView text_;
    const char16_t* const s_;
    const qsizetype n_;
    qsizetype i_ = 0;
    int depth_ = 0;
    Failure failure_ = Failure::None;
    QString& errors_;
    cStringBuilder& builder_;
    std::u16string key_;
    // Recent keys by a hash of their text: documents repeat their keys, and a shared copy costs no
    // allocation.
    std::array<QString, 64> keys_;
};

// ---- Writer ----

constexpr qsizetype MaxArrayElements = 32766;

// Writes into a QString grown by doubling, through a raw pointer: no per-character call into QString.
class Writer {
public:
    QString take() {
        out_.resize(used());
        return std::move(out_);
    }

    void value(const JsonValue& v) {
        switch (v.kind()) {
        case JsonValue::Kind::Empty:
            break;
        case JsonValue::Kind::Null:
            put(u"null", 4);
            break;
        case JsonValue::Kind::Boolean:
            v.boolean() ? put(u"true", 4) : put(u"false", 5);
            break;
        case JsonValue::Kind::Number: {
            char16_t buffer[40];
            char16_t* const end = buffer + std::size(buffer);
            const JsonDecimal& n = v.number();
            const char16_t* start = decimalText(end, n.isNegative(), n.low64(), n.high32(), n.scale());
            put(start, end - start);
            break;
        }
        case JsonValue::Kind::String:
            string(v.text());
            break;
        case JsonValue::Kind::Array:
            array(v.array());
            break;
        case JsonValue::Kind::Object:
            object(v.object());
            break;
        }
    }

private:
    qsizetype used() const { return p_ - begin_; }

    void reserve(qsizetype more) {
        if (end_ - p_ >= more)
            return;
        const qsizetype used = this->used();
        const qsizetype size = std::max({out_.size() * 2, used + more, qsizetype(256)});
        out_.resize(size);
        begin_ = reinterpret_cast<char16_t*>(out_.data());
        p_ = begin_ + used;
        end_ = begin_ + size;
    }

    void put(char16_t c) {
        reserve(1);
        *p_++ = c;
    }

    void put(const char16_t* from, qsizetype length) {
        reserve(length);
        std::memcpy(p_, from, size_t(length) * sizeof(char16_t));
        p_ += length;
    }

    void object(const JsonObject& o) {
        put(u'{');
        for (const JsonMember& member : o) {
            reserve(member.key.size() + 4);
            *p_++ = u'"';
            std::memcpy(p_, member.key.constData(), size_t(member.key.size()) * sizeof(char16_t));
            p_ += member.key.size();
            *p_++ = u'"';
            *p_++ = u':';
            *p_++ = u' ';
            value(member.value);
            put(u',');
        }
        if (o.count() > 0)
            --p_;
        put(u'}');
    }

    void array(const JsonArray& a) {
        // The element counter of the writer's format is a 16-bit signed integer.
        if (a.count() > MaxArrayElements)
            fail(VbErrors::Overflow, QStringLiteral("json::JsonToText"));
        put(u'[');
        for (const JsonValue& element : a) {
            value(element);
            put(u',');
        }
        if (a.count() > 0)
            --p_;
        put(u']');
    }

    // Escapes what reading back would change or what would break the one line: the quote, the backslash,
    // control characters and unpaired surrogates (which a UTF-8 file cannot hold).
    void string(const QString& s) {
        put(u'"');
        const char16_t* d = reinterpret_cast<const char16_t*>(s.constData());
        const qsizetype n = s.size();
        qsizetype run = 0;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = d[i];
            if (c >= 0x20 && c != u'"' && c != u'\\' && (c < 0xD800 || c > 0xDFFF))
                continue;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && d[i + 1] >= 0xDC00 && d[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
            put(d + run, i - run);
            escape(c);
            run = i + 1;
        }
        put(d + run, n - run);
        put(u'"');
    }

    void escape(char16_t c) {
        char16_t e = 0;
        switch (c) {
        case u'"':
            e = u'"';
            break;
        case u'\\':
            e = u'\\';
            break;
        case 8:
            e = u'b';
            break;
        case 12:
            e = u'f';
            break;
        case 10:
            e = u'n';
            break;
        case 13:
            e = u'r';
            break;
        case 9:
            e = u't';
            break;
        }
        if (e != 0) {
            const char16_t pair[2] = {u'\\', e};
            put(pair, 2);
            return;
        }
        static constexpr char16_t Hex[] = u"0123456789abcdef";
        const char16_t unit[6] = {u'\\',      u'u', Hex[c >> 12], Hex[(c >> 8) & 15], Hex[(c >> 4) & 15],
                                  Hex[c & 15]};
        put(unit, 6);
    }

    QString out_;
    char16_t* begin_ = nullptr;
    char16_t* p_ = nullptr;
    char16_t* end_ = nullptr;
};

} // namespace

namespace json {

std::optional<JsonValue> JsonParse(const QString& text) {
    // String values are gathered in one builder kept between parses, so that a parse does not begin by
    // reserving and filling a fresh chunk; afterwards it keeps at most one chunk of room.
    static cStringBuilder builder;
    parseErrors.clear();
    std::optional<JsonValue> root = Reader(text, parseErrors, builder).document();
    builder.Remove(0, builder.Length());
    builder.HeapMinimize();
    return root;
}

QString JsonToText(const JsonValue& value) {
    Writer writer;
    writer.value(value);
    return writer.take();
}

const QString& JsonParseErrors() {
    return parseErrors;
}

} // namespace json
