#pragma once

#include <QString>

// The job server's settings file, "setup.ini" beside the program. Jobs read it afresh at every run, so an
// edit takes effect at the next run without a restart.
namespace modIniFile {

// One value of the ini file at `filePath` with the ini service's rules: section and key names without regard
// to case, the value without surrounding blanks or a pair of enclosing quotes, `defaultValue` when the file,
// section or key is missing. The value comes through a 200-byte buffer, so it is cut to 199 CP949 bytes
// (never inside a double-byte character). Never fails.
QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& filePath);

// "setup.ini" in the program folder.
QString SetupIniPath();

} // namespace modIniFile
