#pragma once

#include <QString>

// Reading of Windows-style ini files (CP949 text): section and key names compare case-insensitively,
// blanks around names and values are dropped, so is a pair of quotes enclosing a value, and a missing file,
// section or key gives the default.
namespace IniFile {

QString readValue(const QString& path, const QString& section, const QString& key,
                  const QString& defaultValue);

// The same lookup over text already in memory.
QString findValue(const QString& text, const QString& section, const QString& key,
                  const QString& defaultValue);

} // namespace IniFile
