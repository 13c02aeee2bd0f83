// The writer of the JSON module: one line of text.
#include "json.h"
#include "jsonDetail.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <type_traits>

using json::detail::decimalText;
using json::detail::fail;

namespace {

constexpr qsizetype MaxArrayElements = 32766;

// Writes into a QString (UTF-16) or a QByteArray (UTF-8) grown geometrically, through a raw pointer: no
// per-character call into Qt. Writing UTF-8 directly spares a large document a UTF-16 copy of itself and a
// second pass over it.
template <class Out> class Writer {
    using Unit = std::conditional_t<std::is_same_v<Out, QString>, char16_t, char>;

public:
    Out take() {
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

    // Every put asks; only the rare growth is a call.
    void reserve(qsizetype more) {
        if (end_ - p_ < more) [[unlikely]]
            grow(more);
    }

    [[gnu::noinline]] void grow(qsizetype more) {
        const qsizetype used = this->used();
        // Half as much again each time, reserved exactly: resizing alone would let QString's own growth
        // double the block once more. A block past the allocator's ceiling for reusing freed memory (32 MiB
        // in glibc) is mapped afresh on every call, and every page of it faults in as it is written.
        const qsizetype size = std::max({out_.size() + out_.size() / 2, used + more, qsizetype(256)});
        out_.reserve(size);
        out_.resize(size);
        begin_ = reinterpret_cast<Unit*>(out_.data());
        p_ = begin_ + used;
        end_ = begin_ + size;
    }

    // ASCII only: punctuation, literals, digits and escapes.
    void put(char16_t c) {
        reserve(1);
        *p_++ = Unit(c);
    }

    void put(const char16_t* from, qsizetype length) {
        reserve(length);
        if constexpr (std::is_same_v<Unit, char16_t>)
            std::memcpy(p_, from, size_t(length) * sizeof(char16_t));
        else
            std::copy(from, from + length, p_);
        p_ += length;
    }

    // Text as it is: copied in UTF-16, encoded in UTF-8. An unpaired surrogate (only a key can hold one)
    // comes out as QString::toUtf8 writes it.
    void text(const char16_t* from, qsizetype length) {
        if constexpr (std::is_same_v<Unit, char16_t>) {
            put(from, length);
        } else {
            reserve(3 * length);
            for (qsizetype i = 0; i < length; ++i) {
                const char32_t c = from[i];
                if (c < 0x80) {
                    *p_++ = char(c);
                } else if (c < 0x800) {
                    *p_++ = char(0xC0 | (c >> 6));
                    *p_++ = char(0x80 | (c & 0x3F));
                } else if (c < 0xD800 || c > 0xDFFF) {
                    *p_++ = char(0xE0 | (c >> 12));
                    *p_++ = char(0x80 | ((c >> 6) & 0x3F));
                    *p_++ = char(0x80 | (c & 0x3F));
                } else if (c <= 0xDBFF && i + 1 < length && from[i + 1] >= 0xDC00 && from[i + 1] <= 0xDFFF) {
                    const char32_t u = 0x10000 + ((c - 0xD800) << 10) + (from[++i] - 0xDC00);
                    *p_++ = char(0xF0 | (u >> 18));
                    *p_++ = char(0x80 | ((u >> 12) & 0x3F));
                    *p_++ = char(0x80 | ((u >> 6) & 0x3F));
                    *p_++ = char(0x80 | (u & 0x3F));
                } else {
                    const QByteArray unpaired = QStringView(from + i, 1).toUtf8();
                    reserve(unpaired.size() + 3 * (length - i));
                    std::memcpy(p_, unpaired.constData(), size_t(unpaired.size()));
                    p_ += unpaired.size();
                }
            }
        }
    }

    void object(const JsonObject& o) {
        put(u'{');
        for (const JsonMember& member : o) {
            put(u'"');
            text(reinterpret_cast<const char16_t*>(member.key.constData()), member.key.size());
            put(u"\": ", 3);
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
            text(d + run, i - run);
            escape(c);
            run = i + 1;
        }
        text(d + run, n - run);
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

    Out out_;
    Unit* begin_ = nullptr;
    Unit* p_ = nullptr;
    Unit* end_ = nullptr;
};

} // namespace

namespace json {

QString JsonToText(const JsonValue& value) {
    Writer<QString> writer;
    writer.value(value);
    return writer.take();
}

QByteArray JsonToUtf8(const JsonValue& value) {
    Writer<QByteArray> writer;
    writer.value(value);
    return writer.take();
}

} // namespace json
