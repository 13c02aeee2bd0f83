#include "modIniFile.h"

#include "AnsiCodec.h"
#include "IniFile.h"
#include "ProgramInfo.h"

namespace modIniFile {
namespace {

// The service writes at most this many bytes and a NUL into the caller's 200-byte buffer.
constexpr qsizetype ValueBytes = 199;

// The first `bytes` CP949 bytes of text, without a double-byte character cut in two.
QString leftBytes(const QString& text, qsizetype bytes) {
    const QByteArray encoded = AnsiCodec::fromUnicode(text);
    if (encoded.size() <= bytes)
        return text;
    qsizetype end = 0;
    while (end < bytes) {
        const qsizetype step = static_cast<unsigned char>(encoded[end]) >= 0x81 ? 2 : 1;
        if (end + step > bytes)
            break;
        end += step;
    }
    return AnsiCodec::toUnicode(encoded.left(end));
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
