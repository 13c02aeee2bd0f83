// The value tree of the JSON module: arrays, objects and values, and their typed access.
#include "json.h"
#include "jsonDetail.h"

using json::detail::fail;

namespace {

const JsonValue& emptyValue() {
    static const JsonValue empty;
    return empty;
}

} // namespace

const JsonValue& JsonArray::item(qsizetype position) const {
    if (position < 1 || position > count())
        fail(VbErrors::SubscriptOutOfRange, QStringLiteral("JsonArray::item"));
    return items_[size_t(position - 1)];
}

qsizetype JsonObject::indexOf(const QString& key) const {
    for (size_t i = 0; i < members_.size(); ++i)
        if (members_[i].key == key)
            return qsizetype(i);
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
    return true;
}

bool JsonObject::insert(const QString& key, const JsonValue& value) {
    if (indexOf(key) >= 0)
        return false;
    members_.push_back({key, value});
    return true;
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
