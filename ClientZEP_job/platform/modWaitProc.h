#pragma once

#include <QString>

// Running another program and waiting until it ends, on the calling thread. No socket or timer event of the
// bot is handled meanwhile: the caller wants exactly that (the update checker must finish before the bot
// goes on).
namespace modWaitProc {

// Starts `file` with the command line `parameters` (split as a shell would split words and quotes, but never
// run through a shell) in `directory` (the current one when empty) and waits for it without a time limit.
// The child's standard error goes to the bot's own, its standard output is dropped. `hidden` and `minimised`
// are accepted for the callers' sake; a Linux program started this way has no window to hide. A program that
// cannot be started returns at once, and nothing is reported. `ownerWindow` is unused.
void RunAndWait(const QString& file, qint32 ownerWindow, const QString& parameters, const QString& directory,
                bool hidden, bool minimised);

} // namespace modWaitProc
