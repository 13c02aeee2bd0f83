// The reader of the JSON module: one tolerant pass over the text.
#include "cStringBuilder.h"
#include "json.h"
#include "jsonDetail.h"

#include <algorithm>
#include <array>
#include <cstring>

using json::detail::chars;

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

    // Steps over the filler and the separator before the next member or element; false once the
    // container is closed or the text has ended (that one complained of).
    bool nextItem(char16_t close, QStringView missing) {
        skipFiller();
        if (i_ < n_ && s_[i_] == close) {
            ++i_;
            return false;
        }
        if (i_ < n_ && s_[i_] == u',') {
            ++i_;
            skipFiller();
        } else if (i_ >= n_) {
            complain(missing, text_.right(20));
            return false;
        }
        return true;
    }

    JsonObject readObject() {
        ++depth_;
        ++i_;
        JsonObject object;
        while (nextItem(u'}', u"Missing '}'")) {
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
        while (nextItem(u']', u"Missing ']'")) {
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

const QString& JsonParseErrors() {
    return parseErrors;
}

} // namespace json
