#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringView>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

// An exact decimal number: a 96-bit magnitude, a sign and a scale of 0 to 28 decimal places, so 28 to 29
// significant digits and a magnitude up to 79,228,162,514,264,337,593,543,950,335. Values are kept without
// trailing fraction zeros and zero is never negative, so equal numbers compare equal.
class JsonDecimal {
public:
    enum class Status { Ok, NotANumber, Overflow };
    static constexpr int MaxScale = 28;

    constexpr JsonDecimal() = default;
    explicit JsonDecimal(qint64 value);

    // Reads an optional sign, digits with an optional decimal point (".5" and "5." included) and an optional
    // exponent ("e" or "E", optional sign, digits). Digits beyond what the type holds are rounded half to
    // even; a value below the smallest step rounds to 0. Anything else is NotANumber, a magnitude beyond the
    // range Overflow; value is set only on Ok.
    static Status parse(QStringView text, JsonDecimal& value);

    bool isNegative() const { return negative_; }
    int scale() const { return scale_; }
    // The 96-bit magnitude: the low 64 bits and the high 32 bits.
    quint64 low64() const { return lo_; }
    quint32 high32() const { return hi_; }

    // Plain decimal notation: optional "-", digits, and a point only when there is a fraction ("12", "0.5").
    QString toString() const;

    bool operator==(const JsonDecimal&) const = default;

private:
    quint64 lo_ = 0;
    quint32 hi_ = 0;
    quint8 scale_ = 0;
    bool negative_ = false;
};

class JsonValue;
struct JsonMember;

// An array of values; positions count from 1.
class JsonArray {
public:
    qsizetype count() const;
    // Fails with error 9 outside 1..count().
    const JsonValue& item(qsizetype position) const;
    void append(JsonValue&& value);
    void append(const JsonValue& value);

    std::vector<JsonValue>::const_iterator begin() const;
    std::vector<JsonValue>::const_iterator end() const;
    bool operator==(const JsonArray&) const;

private:
    std::vector<JsonValue> items_;
};

// An object: unique keys, compared code unit by code unit, enumerated in insertion order.
class JsonObject {
public:
    JsonObject();
    JsonObject(const JsonObject& other);
    JsonObject(JsonObject&&) noexcept;
    JsonObject& operator=(const JsonObject& other);
    JsonObject& operator=(JsonObject&&) noexcept;
    ~JsonObject();

    qsizetype count() const;
    bool contains(const QString& key) const { return indexOf(key) >= 0; }
    // The member's value, or an empty value when the object has no such key.
    const JsonValue& value(const QString& key) const;
    // Adds the member at the end. A key that is already present is refused (false): nothing changes and
    // nothing is taken from the arguments.
    bool insert(QString&& key, JsonValue&& value);
    bool insert(const QString& key, const JsonValue& value);

    std::vector<JsonMember>::const_iterator begin() const;
    std::vector<JsonMember>::const_iterator end() const;
    // Same members in the same order.
    bool operator==(const JsonObject&) const;

private:
    qsizetype indexOf(const QString& key) const;
    void indexLast();

    std::vector<JsonMember> members_;
    // Key to position, kept once the object is too large for a linear search: without it a hostile object of
    // 100,000 keys takes quadratic time to read.
    std::unique_ptr<QHash<QString, qsizetype>> index_;
};

struct JsonNull {
    bool operator==(const JsonNull&) const = default;
};

// One node of a document. A default-constructed value is empty (no value at all), which is also what a
// missing member reads as.
class JsonValue {
public:
    // In the order of the alternatives below.
    enum class Kind { Empty, Null, Boolean, Number, String, Array, Object };

    JsonValue() = default;
    // Out of line: inlined variant moves draw false "maybe uninitialized" warnings from GCC 12 in callers.
    JsonValue(const JsonValue&);
    JsonValue(JsonValue&&) noexcept;
    JsonValue& operator=(const JsonValue&);
    JsonValue& operator=(JsonValue&&) noexcept;
    ~JsonValue();
    explicit JsonValue(JsonNull) : v_(JsonNull{}) {}
    explicit JsonValue(bool b) : v_(b) {}
    explicit JsonValue(JsonDecimal n) : v_(n) {}
    explicit JsonValue(QString s) : v_(std::move(s)) {}
    explicit JsonValue(JsonArray a);
    explicit JsonValue(JsonObject o);
    JsonValue(const char*) = delete; // would silently become a boolean

    Kind kind() const { return Kind(v_.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }
    bool isNull() const { return kind() == Kind::Null; }
    bool isObject() const { return kind() == Kind::Object; }
    bool isArray() const { return kind() == Kind::Array; }

    // Each fails with error 13 on a value of another kind.
    bool boolean() const;
    const JsonDecimal& number() const;
    const QString& text() const;
    const JsonArray& array() const;
    JsonArray& array();
    const JsonObject& object() const;
    JsonObject& object();

    // A member of an object (empty when missing) and an element of an array (from 1, error 9 outside); error
    // 13 on a value of another kind.
    const JsonValue& operator[](const QString& key) const;
    const JsonValue& item(qsizetype position) const;

    // The value as text: a string as it is, a number in plain decimal notation, a boolean as "True" or
    // "False", empty as the empty text; error 13 for null, arrays and objects.
    QString asText() const;

    bool operator==(const JsonValue&) const;

private:
    std::variant<std::monostate, JsonNull, bool, JsonDecimal, QString, JsonArray, JsonObject> v_;
};

struct JsonMember {
    QString key;
    JsonValue value;
    bool operator==(const JsonMember&) const = default;
};

inline JsonValue::JsonValue(JsonArray a) : v_(std::move(a)) {}
inline JsonValue::JsonValue(JsonObject o) : v_(std::move(o)) {}

inline qsizetype JsonArray::count() const {
    return qsizetype(items_.size());
}
inline void JsonArray::append(JsonValue&& value) {
    items_.push_back(std::move(value));
}
inline void JsonArray::append(const JsonValue& value) {
    items_.push_back(value);
}
inline std::vector<JsonValue>::const_iterator JsonArray::begin() const {
    return items_.begin();
}
inline std::vector<JsonValue>::const_iterator JsonArray::end() const {
    return items_.end();
}
inline bool JsonArray::operator==(const JsonArray& other) const {
    return items_ == other.items_;
}
inline qsizetype JsonObject::count() const {
    return qsizetype(members_.size());
}
inline std::vector<JsonMember>::const_iterator JsonObject::begin() const {
    return members_.begin();
}
inline std::vector<JsonMember>::const_iterator JsonObject::end() const {
    return members_.end();
}
inline bool JsonObject::operator==(const JsonObject& other) const {
    return members_ == other.members_;
}
inline bool JsonValue::operator==(const JsonValue& other) const {
    return v_ == other.v_;
}

// The JSON reader and writer. The reader is tolerant: comments, bare or single-quoted keys, single-quoted
// strings and missing commas are accepted, and what cannot be read goes to JsonParseErrors instead of
// failing.
namespace json {

// The root object or array of the text, or nothing when the text does not start (after blanks and comments)
// with "{" or "[". Never fails.
std::optional<JsonValue> JsonParse(const QString& text);

// One line of JSON text. Fails with error 6 on an array of 32,767 or more elements.
QString JsonToText(const JsonValue& value);
// The same text in UTF-8 (JsonToText(value).toUtf8()), written directly: what a UTF-8 file of it holds.
QByteArray JsonToUtf8(const JsonValue& value);

// The complaints of the last parse, one line each ending in CR LF, or "Invalid JSON".
const QString& JsonParseErrors();

} // namespace json
