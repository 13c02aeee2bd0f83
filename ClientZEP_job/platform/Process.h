#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Starting other programs. Never through a shell: arguments are passed as a list.
namespace Process {

// Starts `program` without waiting for it, in `directory` when one is given. Returns false when it could not
// be started.
bool startDetached(const QString& program, const QStringList& arguments = {}, const QString& directory = {});

// Runs `program` in `directory` and waits at most `timeoutMs` for it to end; its standard error goes to ours,
// its standard output is dropped. The exit status, or nothing when it could not start, crashed or had to be
// killed for taking too long.
std::optional<int> run(const QString& program, const QStringList& arguments, const QString& directory,
                       int timeoutMs);

// Opens `folder` in the desktop's file browser.
bool openFolder(const QString& folder);

} // namespace Process
