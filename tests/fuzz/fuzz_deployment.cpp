// deployment.ini: any bytes as the file beside the program, loaded as at start-up.
//
// Input: the file's bytes. Whatever the file holds, every host is set, every port is a usable one, and every
// problem reported names a line of the file and says what is wrong.
#include "Deployment.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString folder = FuzzSupport::programFolder();
    FuzzSupport::writeFile(folder + QStringLiteral("/deployment.ini"), FuzzSupport::bytesOf(data, size));

    const DeploymentFile file = Deployment::read(folder);
    const Deployment& d = file.values;
    const int lines = int(QString::fromUtf8(FuzzSupport::bytesOf(data, size)).count(QLatin1Char('\n'))) + 1;
    for (const DeploymentIssue& issue : file.issues) {
        if (issue.line < 1 || issue.line > lines)
            FuzzSupport::violated("a problem names a line of the file");
        if (issue.problem.isEmpty())
            FuzzSupport::violated("a problem says what is wrong");
    }
    for (const DeploymentFile::Setting& setting : file.settings)
        if (setting.line < 0 || setting.line > lines)
            FuzzSupport::violated("a value comes from a line of the file or from the default");
    for (const QString* host : {&d.DirectoryServer, &d.AddrMasterServer, &d.AddrWebLogin, &d.AddrAutoUpdate,
                                &d.AddrBackupFtp, &d.AddrMessenger, &d.WebHostFtpHost, &d.BackupFtpHost})
        if (host->isEmpty())
            FuzzSupport::violated("every host is set");
    if (d.MessengerPort == 0 || d.FtpPort == 0 || d.MySqlPort == 0)
        FuzzSupport::violated("every port is above 0");
    return 0;
}
