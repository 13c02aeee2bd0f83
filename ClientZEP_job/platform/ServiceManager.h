#pragma once

#include <QByteArray>
#include <QStringList>
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

// Outside a service manager the file changer starts the bot again with the same arguments; the bot hands them
// over in this environment variable (the changer's own command line is fixed), as a JSON array of texts.
inline constexpr const char* ArgumentsVariable = "ZEPJOB_ARGUMENTS";
QByteArray encodeArguments(const QStringList& arguments);
// Nothing for a text that is no JSON array of texts.
std::optional<QStringList> decodeArguments(const QByteArray& text);

} // namespace ServiceManager
