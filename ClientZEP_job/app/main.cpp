// ClientZEP_job: the job server bot of the company messenger.

#include "Deployment.h"
#include "ErrorLog.h"
#include "GuiFront.h"
#include "HeadlessFront.h"
#include "InstanceLock.h"
#include "MessageBox.h"
#include "ProgramInfo.h"
#include "VbError.h"
#include "frmMain.h"
#include "modMain.h"
#include "modServerAddressUtil.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The command line is the messenger host, whole and unchanged: its words are joined back with single blanks.
QString commandLineText(int argc, char** argv) {
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    return words.join(QLatin1Char(' '));
}

bool wantsHeadless() {
    if (qEnvironmentVariable("ZEPJOB_HEADLESS") == QLatin1String("1"))
        return true;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void printUsage() {
    std::printf(
        "Usage: ClientZEP_job [messenger-host]\n"
        "\n"
        "The job server bot of the company messenger. The whole command line is the messenger host;\n"
        "empty or starting with \"#\", the host of the address directory (or deployment.ini) is used.\n"
        "Without a display, or with ZEPJOB_HEADLESS=1, it runs without a window and reports on\n"
        "standard error.\n");
}

// The window front from the plugin beside the executable, or nullptr when it cannot be loaded.
const GuiFrontApi* loadGuiFront() {
    const QString folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    static QLibrary plugin; // stays loaded for the life of the process
    plugin.setFileName(folder + QLatin1Char('/') + QLatin1String(GuiFrontPluginName));
    plugin.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    const auto entry = reinterpret_cast<const GuiFrontApi* (*)()>(plugin.resolve(GuiFrontEntry));
    if (!entry) {
        std::fprintf(stderr, "ClientZEP_job: no window (%s); running headless\n",
                     plugin.errorString().toLocal8Bit().constData());
        return nullptr;
    }
    return entry();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        printUsage();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ClientZEP_job %s\n", ProgramInfo::versionText().toUtf8().constData());
        return 0;
    }

    const GuiFrontApi* gui = wantsHeadless() ? nullptr : loadGuiFront();
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<MessageBoxService> guiBoxes;
    if (gui) {
        app.reset(gui->createApplication(argc, argv));
        guiBoxes.reset(gui->createMessageBoxService());
        MessageBox::install(guiBoxes.get());
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }

    // 1. The whole command-line text, unchanged.
    const QString commandLine = commandLineText(argc, argv);

    // 2. One copy per program folder.
    InstanceLock instance(ProgramInfo::folder());
    if (!instance.tryLock()) {
        MessageBox::show(QStringLiteral("이미 실행중입니다."));
        return 0;
    }

    // 3, 4. Endpoints: the directory server's answer or its cache, the deployment defaults filling the gaps.
    const Deployment deployment = Deployment::load(ProgramInfo::folder());
    try {
        modServerAddressUtil::RefreshServerDirectory(QString());
        modServerAddressUtil::LoadServerDirectory();
        modMain::ResolveEndpoints(modServerAddressUtil::LookupServerHost, deployment);
    } catch (const std::exception&) {
        ErrorLog::WriteToFile(VbErrors::trappedText(51, QStringLiteral("Internal error"),
                                                    QStringLiteral("Main"), QStringLiteral("Module"),
                                                    QStringLiteral("modMain")));
    }

    // 5. The messenger host.
    modMain::ServerAddress = modMain::ChooseServerAddress(commandLine);

    // 6. The window, and from here on its events.
    frmMain form(deployment.MessengerPort);
    QObject::connect(&form, &frmMain::unloaded, app.get(), &QCoreApplication::quit, Qt::QueuedConnection);
    if (gui)
        gui->createWindow(form);
    else
        new HeadlessFront(form);
    form.Form_Load();
    const int status = app->exec();
    MessageBox::install(nullptr);
    return status;
}
