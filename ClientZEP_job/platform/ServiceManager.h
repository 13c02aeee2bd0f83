#pragma once

#include <QByteArray>
#include <QStringList>
#include <chrono>
#include <optional>

// Whether the program runs as a service of a service manager (systemd), which restarts it by itself. The
// self-update hands over differently then: the file changer swaps the build while the bot waits for it, the
// bot ends with HandedOverExitStatus and the manager (Restart=on-failure) starts the new build; nobody else
// starts a copy.
namespace ServiceManager {

// The exit status of a bot that has handed over to a newer build (EX_TEMPFAIL): not a success, so that a unit
// with Restart=on-failure starts the program again.
inline constexpr int HandedOverExitStatus = 75;

// True when the environment inherited from a service manager says so (systemd sets INVOCATION_ID for every
// service and NOTIFY_SOCKET for Type=notify).
bool active();

// One state message to the service manager (sd_notify's protocol: "READY=1", "STATUS=...", "WATCHDOG=1",
// "STOPPING=1", lines joined by "\n"), a datagram to the socket named by NOTIFY_SOCKET (a path, or "@" for
// the abstract namespace). False when there is none or it cannot be reached; nothing else happens then.
bool notify(const QByteArray& state);

// How often the manager wants to hear "WATCHDOG=1" at the least (WATCHDOG_USEC, for this process when
// WATCHDOG_PID names one); zero without a watchdog.
std::chrono::milliseconds watchdogTimeout();

// Tells the watchdog the program is alive, at most every tenth of its timeout, so the long waits that are
// part of the work (a child program, a transfer) may call it as often as they like. Nothing without a
// watchdog.
void feedWatchdog();

// Outside a service manager the file changer starts the bot again with the same arguments; the bot hands them
// over in this environment variable (the changer's own command line is fixed), as a JSON array of texts.
inline constexpr const char* ArgumentsVariable = "ZEPJOB_ARGUMENTS";
QByteArray encodeArguments(const QStringList& arguments);
// Nothing for a text that is no JSON array of texts.
std::optional<QStringList> decodeArguments(const QByteArray& text);

} // namespace ServiceManager
