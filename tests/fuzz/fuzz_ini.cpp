// The settings file reader: any bytes as setup.ini, read the way the jobs read it.
//
// Input: the file's bytes (CP949 text). Besides the two keys the program reads, the first section and key
// that the text names are looked up too, so lookups that hit are common.
#include "AnsiCodec.h"
#include "FuzzSupport.h"
#include "IniFile.h"
#include "modIniFile.h"

namespace {

// A name as the text spells it: the first "[section]" and the first "key=" after it.
std::pair<QString, QString> firstNames(const QString& text) {
    QString section, key;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (section.isEmpty() && line.startsWith(QLatin1Char('['))) {
            section = line.mid(1).section(QLatin1Char(']'), 0, 0).trimmed();
        } else if (!section.isEmpty() && line.contains(QLatin1Char('='))) {
            key = line.section(QLatin1Char('='), 0, 0).trimmed();
            break;
        }
    }
    return {section, key};
}

void check(const QString& path, const QString& text, const QString& section, const QString& key) {
    const QString fallback = QStringLiteral("default");
    const QString value = modIniFile::ReadIniValue(section, key, fallback, path);
    // The value comes through a 200-byte buffer: at most 199 bytes, never a half character, and the start of
    // what the file holds.
    if (AnsiCodec::fromUnicode(value).size() > 199)
        FuzzSupport::violated("a value is at most 199 bytes", value);
    if (value.startsWith(QLatin1Char(' ')))
        FuzzSupport::violated("a value has no leading blanks", value);
    QString whole = IniFile::findValue(text, section, key, fallback);
    while (whole.startsWith(QLatin1Char(' ')))
        whole.remove(0, 1);
    if (!whole.startsWith(value))
        FuzzSupport::violated("a value is the start of the file's value",
                              whole + QStringLiteral(" / ") + value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = FuzzSupport::bytesOf(data, size);
    const QString path = modIniFile::SetupIniPath();
    FuzzSupport::writeFile(path, bytes);
    const QString text = AnsiCodec::toUnicode(bytes);

    check(path, text, QStringLiteral("General"), QStringLiteral("FTP_PASV"));
    check(path, text, QStringLiteral("General"), QStringLiteral("CSBackupPath"));
    const auto [section, key] = firstNames(text);
    if (!key.isEmpty())
        check(path, text, section, key);
    return 0;
}
