#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// What the update checker and the file changer share: telling a build that can run here from anything else,
// and moving files into place atomically.
namespace UpdateFiles {

// Why the file at `path` cannot run on this machine (it must be an ELF program of the same class, byte order
// and machine as this one), or the empty text when it can.
QString executableProblem(const QString& path);
// The same for a program's bytes (its first 20 are read).
QString executableProblem(const QByteArray& bytes);

// rwxr-xr-x.
bool makeExecutable(const QString& path);

// Moves `from` to `to` in one step (rename(2)): `to` is the old file or the new one, never anything between.
bool replace(const QString& from, const QString& to);

// One line on standard error, "<program>: <text>".
void say(const QString& text);

} // namespace UpdateFiles
