#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// What the update checker and the file changer share: telling a build that can run here from anything else,
// checksums, and moving files into place atomically.
namespace UpdateFiles {

// Why the file at `path` cannot run on this machine (it must be an ELF program of the same class, byte order
// and machine as this one), or the empty text when it can.
QString executableProblem(const QString& path);

// The digest of a "sha256sum" line (64 hex digits, then anything), in lower case; nothing when there is none.
std::optional<QByteArray> parseSha256(const QByteArray& text);

// The SHA-256 of the file in lower-case hex; nothing when it cannot be read.
std::optional<QByteArray> sha256Of(const QString& path);

// rwxr-xr-x.
bool makeExecutable(const QString& path);

// Moves `from` to `to` in one step (rename(2)): `to` is the old file or the new one, never anything between.
bool replace(const QString& from, const QString& to);

// One line on standard error, "<program>: <text>".
void say(const QString& text);

} // namespace UpdateFiles
