#pragma once

#include <QString>
#include <QtGlobal>

// Bounds that make a messenger connection whose peer vanished without closing (crash, cable, a firewall that
// drops idle connections) fail on its own: keep-alive probes while it is idle, and a limit on how long sent
// data may stay unacknowledged. The kernel then fails the socket with a timeout, which reaches the socket's
// error handler like any other loss.
//
// With the user timeout set, Linux ends an idle connection at the first probe that finds nothing received
// for UserTimeoutMs, and a busy one when its data has waited UserTimeoutMs for an acknowledgement. Data sent
// just before the idle limit waits once more: a dead peer is noticed at the latest after 2 * UserTimeoutMs.
namespace TcpKeepAlive {

struct Bounds {
    int idleSeconds = 30;    // TCP_KEEPIDLE: quiet time before the first probe
    int intervalSeconds = 5; // TCP_KEEPINTVL: between probes
    int probeCount = 4;      // TCP_KEEPCNT: unanswered probes that end the connection without a user timeout
    int userTimeoutMs = 50000; // TCP_USER_TIMEOUT: unacknowledged data or unanswered probes end it
};

// The program's bounds; tests may hand frmMain shorter ones.
inline constexpr Bounds Default{};

// The latest a dead peer is noticed with `bounds`, in ms.
constexpr int DeadPeerNoticedWithinMs(const Bounds& bounds) {
    return 2 * bounds.userTimeoutMs;
}

// Sets SO_KEEPALIVE, TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT and TCP_USER_TIMEOUT on a connected socket.
// Returns the empty text, or the description of the first option the system refused ("setsockopt
// TCP_KEEPIDLE: Invalid argument").
QString apply(qintptr descriptor, const Bounds& bounds = Default);

} // namespace TcpKeepAlive
