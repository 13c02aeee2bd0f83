#include "modString.h"

#include "AnsiCodec.h"
#include "MessageBox.h"
#include "VbError.h"

#include <limits>

namespace modString {
namespace {

[[noreturn]] void fail(int number, const char* procedure) {
    throw VbError(number, QStringLiteral("modString::") + QLatin1StringView(procedure),
                  VbErrors::describe(number));
}

qint16 checkedWidth(qint64 width, const char* procedure) {
    if (width < std::numeric_limits<qint16>::min() || width > std::numeric_limits<qint16>::max())
        fail(VbErrors::Overflow, procedure);
    return qint16(width);
}

} // namespace

qint16 DisplayWidth(const QString& text) {
    return checkedWidth(AnsiCodec::fromUnicode(text).size(), "DisplayWidth");
}

QString LeftByWidth(const QString& text, int width, bool noPad) {
    const qint16 columns = checkedWidth(width, "LeftByWidth");
    if (columns < 0)
        fail(VbErrors::InvalidProcedureCall, "LeftByWidth");
    QString cut = AnsiCodec::toUnicode(AnsiCodec::fromUnicode(text).left(columns));
    if (cut.isEmpty() || ContainsText(text, cut))
        return cut;
    // The cut split a double-byte character, which decoded to a stray last character.
    cut.chop(1);
    if (!noPad)
        cut += QLatin1Char(' ');
    return cut;
}

bool ContainsText(const QString& text, const QString& part) {
    return !part.isEmpty() && text.contains(part, Qt::CaseSensitive);
}

QString LPad(const QString& text, int width, const QString& fill) {
    try {
        const qint16 columns = checkedWidth(width, "LPad");
        const qint16 w = DisplayWidth(text);
        if (w > columns)
            return LeftByWidth(text, columns, false);
        if (fill.isEmpty())
            fail(VbErrors::InvalidProcedureCall, "LPad");
        return QString(columns - w, fill.at(0)) + text;
    } catch (const VbError& e) {
        MessageBox::show(VbErrors::trappedText(e, QStringLiteral("LPad"), QStringLiteral("Class Module"),
                                               QStringLiteral("CKoreanString")));
        return QString();
    }
}

} // namespace modString
