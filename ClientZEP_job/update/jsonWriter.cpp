// The writer of the JSON module: one line of text.
#include "json.h"
#include "jsonDetail.h"

#include <algorithm>
#include <cstring>

using json::detail::decimalText;
using json::detail::fail;

namespace {

constexpr qsizetype MaxArrayElements = 32766;

// Writes into a QString grown geometrically, through a raw pointer: no per-character call into QString.
class Writer {
public:
    QString take() {
        out_.resize(used());
        out_.squeeze();
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
        // Half as much again each time, reserved exactly: resizing alone would let QString's own growth
        // double the block once more. A block past the allocator's ceiling for reusing freed memory (32 MiB
        // in glibc) is mapped afresh on every call, and every page of it faults in as it is written.
        const qsizetype size = std::max({out_.size() + out_.size() / 2, used + more, qsizetype(256)});
        out_.reserve(size);
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

QString JsonToText(const JsonValue& value) {
    Writer writer;
    writer.value(value);
    return writer.take();
}

} // namespace json
