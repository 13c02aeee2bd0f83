#pragma once

#include <QString>

// State the whole program shares: the endpoint addresses resolved at start-up, the messenger host and the
// bot's own identity from the last accepted login.
namespace modMain {

extern QString AddrMasterServer;
extern QString AddrWebLogin;
extern QString AddrAutoUpdate;
extern QString AddrBackupFtp;
extern QString AddrMessenger;

// Host the messenger socket connects to.
extern QString ServerAddress;

// The bot's user id: 0 until the first accepted login, then the id of the latest one. Never reset.
extern qint32 MyUserId;
extern QString MyName;

} // namespace modMain

#include "Deployment.h"

#include <functional>

namespace modMain {

// Start-up resolution of the five endpoints: one lookup per entry name, in this order, each result stored; an
// empty result (no directory, no entry, an empty host) leaves the deployment default in its place.
// `lookup` may throw; a failing lookup counts as an empty one and is logged as Main's trapped error.
void ResolveEndpoints(const std::function<QString(const QString& entryName)>& lookup,
                      const Deployment& defaults);

// The messenger host: the command-line text as it stands, unless it is empty or starts with "#".
QString ChooseServerAddress(const QString& commandLine);

} // namespace modMain
