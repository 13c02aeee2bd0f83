#pragma once

#include "ReleaseSignature.h"
#include "Tls.h"

#include <QString>
#include <functional>

struct Deployment;

// The launcher side of the self-update: brings the update checker "VerProbeV1.exe" and the file changer
// "swapfiles.exe" beside the program up to date from the update web server, runs the checker, and hands over
// to the file changer when the checker has left a newer version "New_" + the program's file name.
//
// On Linux the program's file name is the one the file system lists for the running binary (no ".exe"); the
// sibling programs keep their names. Every program fetched is checked against the release key first (see
// ReleaseSignature.h and modAutoUpdateV1_Download.h).
namespace modAutoUpdateV1_Launcher {

// "http://" + `autoUpdateHost` + "/download/자동업데이트_v1/".
QString UpdateBaseUrl(const QString& autoUpdateHost);

// The update server as start-up found it: the directory cache's entry "자동업데이트_런처" in the program
// folder (with HttpTls required, only a cache that came over verified TLS), else deployment.ini's
// AddrAutoUpdate. The update checker finds it this way.
QString UpdateServerHost(const Deployment& deployment);

// Brings the checker and the file changer up to date. True when the checker is current or both were fetched
// with a signature of `key` for "VerProbeV1.exe V" and "swapfiles.exe V" (V: the trimmed text of
// VerProbeV1_lastver.txt); a refused one leaves one line in the error log and the old one in place.
// `tls`: the site's HttpTls, for every request to the update server.
bool AutoUpdaterSelfUpdate(const QString& autoUpdateHost, const ReleaseSignature::PublicKey& key,
                           const Tls::Policy& tls);

// The whole update, trusting the release key `publicKey` (deployment.ini's UpdatePublicKey: see
// ReleaseSignature::trustRoot); without one nothing is fetched and the error log says why. Returns false
// whenever no update was applied; when one is, the file changer is started
// and `endProcess` is called, which ends the program at once (the default), without unloading the window.
// The changer gets the program's arguments in the environment (ServiceManager::ArgumentsVariable) to start it
// again. Under a service manager the changer is run and waited for instead, and the program ends with
// ServiceManager::HandedOverExitStatus once it has put the new build in place (false when it could not).
// `tls`: the site's HttpTls, for every request to the update server.
bool RunAutoUpdate(bool skipUpdaterCheck, const QString& autoUpdateHost, const QString& publicKey,
                   const Tls::Policy& tls, const std::function<void()>& endProcess = {});

} // namespace modAutoUpdateV1_Launcher
