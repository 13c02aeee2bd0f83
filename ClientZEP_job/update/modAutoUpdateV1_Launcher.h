#pragma once

#include <QString>
#include <functional>

// The launcher side of the self-update: brings the update checker "VerProbeV1.exe" and the file changer
// "swapfiles.exe" beside the program up to date from the update web server, runs the checker, and hands over
// to the file changer when the checker has left a newer version "New_" + the program's file name.
//
// On Linux the program's file name is the one the file system lists for the running binary (no ".exe"); the
// sibling programs keep their names, and downloaded ones are made executable.
namespace modAutoUpdateV1_Launcher {

// "http://" + `autoUpdateHost` + "/download/자동업데이트_v1/".
QString UpdateBaseUrl(const QString& autoUpdateHost);

// Brings the checker and the file changer up to date. True when the checker is current or both downloads
// succeeded.
bool AutoUpdaterSelfUpdate(const QString& autoUpdateHost);

// The whole update. Returns false whenever no update was applied; when one is, the file changer is started
// and `endProcess` is called, which ends the program at once (the default), without unloading the window.
// The changer gets the program's arguments in the environment (ServiceManager::ArgumentsVariable) to start it
// again. Under a service manager the changer is run and waited for instead, and the program ends with
// ServiceManager::HandedOverExitStatus once it has put the new build in place (false when it could not).
bool RunAutoUpdate(bool skipUpdaterCheck, const QString& autoUpdateHost,
                   const std::function<void()>& endProcess = {});

} // namespace modAutoUpdateV1_Launcher
