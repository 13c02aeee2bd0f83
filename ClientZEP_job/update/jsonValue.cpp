// The value tree of the JSON module: arrays, objects and values, and their typed access.
#include "json.h"
#include "jsonDetail.h"

#include <cstring>

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
