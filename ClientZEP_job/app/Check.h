#pragma once

#include <QString>

// "--check": where every value of the configuration comes from, and whether every peer answers. It reads
// the configuration as start-up does and tries each peer once with a short bound, but changes nothing: no
// cache written (the directory is asked, its answer only shown), no error log, no lock.
namespace Check {

// Bound of each peer's attempt.
inline constexpr int PeerTimeoutMs = 3000;

// The whole command, printing to standard output; `hostText` is the messenger host as the bot's command
// line would give it. Returns 0 when every peer answers and the configuration has no problem, else 1.
int main(const QString& hostText);

} // namespace Check
