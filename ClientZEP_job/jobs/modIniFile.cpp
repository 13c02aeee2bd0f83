#include "modIniFile.h"

#include "AnsiCodec.h"
#include "IniFile.h"
#include "ProgramInfo.h"

namespace modIniFile {
namespace {

// The service writes at most this many bytes and a NUL into the caller's 200-byte buffer.
constexpr qsizetype ValueBytes = 199;

// The characters of text that fit in its first `bytes` CP949 bytes, without a double-byte character cut in
// two. The text is cut, not encoded and decoded again, so a character that came from bytes which are not
// CP949 stays what it read as.
QString leftBytes(const QString& text, qsizetype bytes) {
    if (AnsiCodec::fromUnicode(text).size() <= bytes)
        return text;
    qsizetype used = 0, end = 0;
    while (end < text.size()) {
        const qsizetype step = text[end].isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
        const qsizetype size = AnsiCodec::fromUnicode(QStringView(text).mid(end, step)).size();
        if (used + size > bytes)
            break;
        used += size;
        end += step;
    }
    return text.left(end);
}

} // namespace

QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& filePath) {
    // The default goes through the same buffer, trailing blanks stripped as the service does.
    QString fallback = defaultValue;
    while (fallback.endsWith(QLatin1Char(' ')))
        fallback.chop(1);
    QString value = leftBytes(IniFile::readValue(filePath, section, key, fallback), ValueBytes);
    // The buffer is trimmed of spaces before the NUL the service wrote is dropped: leading spaces go, spaces
    // in front of the NUL (a value cut inside a run of spaces) stay.
    qsizetype lead = 0;
    while (lead < value.size() && value[lead] == QLatin1Char(' '))
        ++lead;
    return value.mid(lead);
}

QString SetupIniPath() {
    return ProgramInfo::folder() + QStringLiteral("/setup.ini");
}

} // namespace modIniFile
