#include "IniFile.h"

#include "AnsiCodec.h"

#include <QFile>

namespace IniFile {
namespace {

// A value enclosed in a pair of double or single quotes loses them, as with the system's ini service.
QString unquoted(const QString& value) {
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')))
        return value.mid(1, value.size() - 2);
    return value;
}

} // namespace

QString findValue(const QString& text, const QString& section, const QString& key,
                  const QString& defaultValue) {
    bool inSection = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection || line.startsWith(QLatin1Char(';')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return unquoted(line.mid(eq + 1).trimmed());
    }
    return defaultValue;
}

QString readValue(const QString& path, const QString& section, const QString& key,
                  const QString& defaultValue) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return defaultValue;
    return findValue(AnsiCodec::toUnicode(file.readAll()), section, key, defaultValue);
}

} // namespace IniFile
