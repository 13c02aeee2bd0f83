#include "AnsiCodec.h"

#include <cerrno>
#include <iconv.h>

namespace AnsiCodec {
namespace {

// Both converters live as long as the process: opening one costs far more than a conversion.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return cd_; }
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t cd_;
};

Converter& decoder() {
    static Converter c("UTF-16LE", "CP949");
    return c;
}

Converter& encoder() {
    static Converter c("CP949", "UTF-16LE");
    return c;
}

bool isAscii(const char* data, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return false;
    return true;
}

} // namespace

QString toUnicode(const char* data, qsizetype size) {
    QString out;
    toUnicode(data, size, out);
    return out;
}

void toUnicode(const char* data, qsizetype size, QString& out) {
    if (size <= 0) {
        out.clear();
        return;
    }
    // Every CP949 byte yields at most one UTF-16 unit. Room `out` already has is reused; new room is
    // exactly that, as the text is cut to its length afterwards.
    if (out.isDetached() && out.capacity() >= size)
        out.resize(size);
    else
        out = QString(size, Qt::Uninitialized);
    Converter& conv = decoder();
    if (isAscii(data, size) || !conv.valid()) {
        char16_t* to = reinterpret_cast<char16_t*>(out.data());
        for (qsizetype i = 0; i < size; ++i)
            to[i] = static_cast<unsigned char>(data[i]);
        return;
    }
    conv.reset();

    char* in = const_cast<char*>(data);
    size_t inLeft = size_t(size);
    char* outPtr = reinterpret_cast<char*>(out.data());
    size_t outLeft = size_t(size) * sizeof(char16_t);

    while (inLeft > 0) {
        if (iconv(conv.handle(), &in, &inLeft, &outPtr, &outLeft) != size_t(-1))
            break;
        if (errno != EILSEQ && errno != EINVAL)
            break;
        // Replace the offending byte and go on after it; a truncated sequence at the end ends the text. glibc
        // may report a bad pair at the very end after it has taken it in, leaving nothing to skip.
        if (outLeft < sizeof(char16_t))
            break;
        *reinterpret_cast<char16_t*>(outPtr) = 0xFFFD;
        outPtr += sizeof(char16_t);
        outLeft -= sizeof(char16_t);
        if (errno == EINVAL || inLeft == 0)
            break;
        ++in;
        --inLeft;
        conv.reset();
    }
    out.truncate((outPtr - reinterpret_cast<char*>(out.data())) / qsizetype(sizeof(char16_t)));
}

QByteArray fromUnicode(QStringView text) {
    if (text.isEmpty())
        return QByteArray();
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return text.toLatin1();

    Converter& conv = encoder();
    if (!conv.valid())
        return text.toLatin1();
    conv.reset();

    // A UTF-16 unit becomes at most two CP949 bytes.
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char* in = reinterpret_cast<char*>(const_cast<QChar*>(text.data()));
    size_t inLeft = size_t(text.size()) * sizeof(char16_t);
    char* outPtr = out.data();
    size_t outLeft = size_t(out.size());

    while (inLeft > 0) {
        if (iconv(conv.handle(), &in, &inLeft, &outPtr, &outLeft) != size_t(-1))
            break;
        if ((errno != EILSEQ && errno != EINVAL) || outLeft == 0)
            break;
        // Skip the whole unrepresentable character (a surrogate pair counts as one).
        const char16_t unit = *reinterpret_cast<const char16_t*>(in);
        size_t skip = sizeof(char16_t);
        if (QChar::isHighSurrogate(unit) && inLeft >= 2 * sizeof(char16_t) &&
            QChar::isLowSurrogate(*reinterpret_cast<const char16_t*>(in + sizeof(char16_t))))
            skip *= 2;
        *outPtr++ = '?';
        --outLeft;
        in += skip;
        inLeft -= skip;
        conv.reset();
    }
    out.truncate(outPtr - out.data());
    return out;
}

} // namespace AnsiCodec
