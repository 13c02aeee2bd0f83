#include "IniFile.h"

#include "AnsiCodec.h"

#include <QFile>

namespace IniFile {

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
            return line.mid(eq + 1).trimmed();
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
