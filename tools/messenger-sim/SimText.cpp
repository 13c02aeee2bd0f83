#include "SimText.h"

#include "AnsiCodec.h"

#include <cstdio>

namespace SimText {
namespace {

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Walks an escaped text and hands each decoded piece to the sinks: onChar for a plain or simply escaped
// character, onByte for a \xHH escape.
template <typename CharSink, typename ByteSink>
void decodeEscapes(QStringView text, CharSink onChar, ByteSink onByte) {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\\' || i + 1 >= n) {
            onChar(c);
            continue;
        }
        const QChar next = text[i + 1];
        switch (next.unicode()) {
        case u'\\':
            onChar(u'\\');
            ++i;
            break;
        case u'r':
            onChar(u'\r');
            ++i;
            break;
        case u'n':
            onChar(u'\n');
            ++i;
            break;
        case u't':
            onChar(u'\t');
            ++i;
            break;
        case u'x':
            if (i + 3 < n && hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
                onByte(static_cast<unsigned char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3])));
                i += 3;
            } else {
                onChar(c);
            }
            break;
        default:
            onChar(c);
            break;
        }
    }
}

} // namespace

QString escape(QStringView text, bool escapeSpaces) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QLatin1String("\\\\");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\n')
            out += QLatin1String("\\n");
        else if (u == u'\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || (escapeSpaces && u == u' '))
            out += QString::asprintf("\\x%02X", unsigned(u));
        else
            out += c;
    }
    return out;
}

QString unescape(QStringView text) {
    QString out;
    out.reserve(text.size());
    decodeEscapes(
        text, [&](QChar c) { out += c; }, [&](unsigned char b) { out += QChar(char16_t(b)); });
    return out;
}

QByteArray unescapeToWire(QStringView text) {
    QByteArray out;
    QString pending;
    decodeEscapes(
        text, [&](QChar c) { pending += c; },
        [&](unsigned char b) {
            out += AnsiCodec::fromUnicode(pending);
            pending.clear();
            out += char(b);
        });
    out += AnsiCodec::fromUnicode(pending);
    return out;
}

QString codeText(int code) {
    return QString::asprintf("%02d", code);
}

QString readablePacket(QStringView who, int code, QStringView header, QStringView body) {
    const qsizetype semicolon = header.indexOf(u';');
    const QString route = semicolon < 0 ? escape(header, true)
                                        : escape(header.left(semicolon), true) + QLatin1String(" -> ") +
                                              escape(header.mid(semicolon + 1), true);
    const QString prefix = who.toString() + QLatin1Char(' ') + codeText(code) + QLatin1Char(' ') + route;
    const QString indent(prefix.size(), u' ');

    QString out = prefix;
    qsizetype start = 0;
    for (bool first = true;; first = false) {
        qsizetype end = start;
        while (end < body.size() && body[end] != u'\r' && body[end] != u'\n')
            ++end;
        const QStringView line = body.mid(start, end - start);
        if (!first)
            out += QLatin1Char('\n') + indent;
        out += line.isEmpty() ? QStringLiteral(" |") : QLatin1String(" | ") + escape(line);
        if (end >= body.size())
            break;
        start = end + (body[end] == u'\r' && end + 1 < body.size() && body[end + 1] == u'\n' ? 2 : 1);
    }
    return out;
}

void printLine(const QString& line) {
    const QByteArray utf8 = line.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace SimText
