// deployment.ini: any bytes as the file beside the program, loaded as at start-up.
//
// Input: the file's bytes. Whatever the file holds, every host is set and every port is a usable one.
#include "Deployment.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString folder = FuzzSupport::programFolder();
    FuzzSupport::writeFile(folder + QStringLiteral("/deployment.ini"), FuzzSupport::bytesOf(data, size));

    const Deployment d = Deployment::load(folder);
    for (const QString* host : {&d.DirectoryServer, &d.AddrMasterServer, &d.AddrWebLogin, &d.AddrAutoUpdate,
                                &d.AddrBackupFtp, &d.AddrMessenger, &d.WebHostFtpHost, &d.BackupFtpHost})
        if (host->isEmpty())
            FuzzSupport::violated("every host is set");
    if (d.MessengerPort == 0 || d.FtpPort == 0 || d.MySqlPort == 0)
        FuzzSupport::violated("every port is above 0");
    return 0;
}
