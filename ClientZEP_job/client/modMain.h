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

#include "Clock.h"
#include "Deployment.h"
#include "JobContext.h"

#include <QList>
#include <functional>

namespace modMain {

// One row of the endpoint table: the directory entry looked up, the variable it fills, its default and how
// its peer is reached (none: the messenger, always in clear).
struct Endpoint {
    const char16_t* entryName;
    const char* variableName;
    QString* variable;
    QString Deployment::*fallback;
    Tls::Policy (Deployment::*tls)() const;

    Tls::Policy tlsOf(const Deployment& deployment) const {
        return tls != nullptr ? (deployment.*tls)() : Tls::Policy{};
    }
};
// The five rows, in the order they are resolved.
const QList<Endpoint>& Endpoints();

// Start-up resolution of the five endpoints: one lookup per entry name, in this order, each result stored; an
// empty result (no directory, no entry, an empty host) leaves the deployment default in its place. A
// directory that did not come over verified TLS (`directoryVerified` false) is not asked for a peer whose TLS
// is required: that one keeps the deployment value. `lookup` may throw; a failing lookup counts as an empty
// one and is logged as Main's trapped error.
void ResolveEndpoints(const std::function<QString(const QString& entryName)>& lookup,
                      const Deployment& defaults, bool directoryVerified);

// The whole start-up resolution: one refresh of the directory cache from the directory server, one load of
// the cache, then ResolveEndpoints with the cache's lookup. Whatever fails is logged as Main's trapped error
// and leaves the deployment defaults in place.
void ResolveAtStartup(const Deployment& deployment);

// Where the jobs find their servers: the endpoint variables, and the FTP hosts of `deployment`.
JobContext JobServers(const Clock& clock, const Deployment& deployment);

// The messenger host: the command-line text as it stands, unless it is empty or starts with "#".
QString ChooseServerAddress(const QString& commandLine);

} // namespace modMain
