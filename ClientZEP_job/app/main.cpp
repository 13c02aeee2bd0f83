// ClientZEP_job: the job server bot of the company messenger.

#include "Check.h"
#include "CommandLine.h"
#include "Deployment.h"
#include "ErrorLog.h"
#include "ExecGate.h"
#include "GuiFront.h"
#include "HeadlessFront.h"
#include "InstanceLock.h"
#include "MessageBox.h"
#include "Privileges.h"
#include "ProgramInfo.h"
#include "RunJob.h"
#include "ServiceFront.h"
#include "Startup.h"
#include "frmMain.h"
#include "modMain.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <cstdio>
#include <memory>

namespace {

QStringList commandLineWords(int argc, char** argv) {
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    return words;
}

bool wantsHeadless() {
    if (qEnvironmentVariable("ZEPJOB_HEADLESS") == QLatin1String("1"))
        return true;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void printUsage() {
    QString jobs;
    for (const RunJob::Job& job : RunJob::Jobs())
        jobs += QStringLiteral("  %1 %2\n").arg(job.name.leftJustified(11), job.summary);
    const QString text =
        QStringLiteral(
            "Usage: ClientZEP_job [messenger-host]\n"
            "       ClientZEP_job --run-job <job>\n"
            "       ClientZEP_job --check [messenger-host]\n"
            "       ClientZEP_job --help | --version\n"
            "\n"
            "The job server bot of the company messenger. The whole command line is the messenger host;\n"
            "empty or starting with \"#\", the host of the address directory (or deployment.ini) is used.\n"
            "Without a display, or with ZEPJOB_HEADLESS=1, it runs without a window and reports on\n"
            "standard error. One copy runs per program folder: the executable's, or ZEPJOB_PROGRAM_FOLDER.\n"
            "Run as root on a folder that another account owns, it acts as that account.\n"
            "\n"
            "--run-job <job>  runs one job now, as the schedule would, and prints its report on standard\n"
            "                 output (exit 0 when the job ran, whatever it found). No messenger, no lock:\n"
            "                 it works beside a running bot. The jobs:\n") +
        jobs +
        QStringLiteral(
            "--check          shows where every value comes from (deployment.ini, setup.ini, the address\n"
            "                 directory, its cache, the defaults) and tries every peer once, briefly:\n"
            "                 messenger, directory, both MySQL and both FTP log-ins, the update server.\n"
            "                 Exit 0 when all answer and the configuration has no problem, else 1.\n"
            "                 It changes nothing: the directory's answer is shown, not kept.\n"
            "--help           this text\n"
            "--version        the program's version\n");
    std::fputs(text.toUtf8().constData(), stdout);
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

// Run as root, the program works with the rights of its folder's owner, or not at all; false when it must
// stop (the reason is said).
bool withTheFoldersRights() {
    const Privileges::Outcome outcome = Privileges::actAsOwnerOf(ProgramInfo::folder());
    if (!outcome.words.isEmpty())
        std::fprintf(stderr, "ClientZEP_job: %s\n", outcome.words.toLocal8Bit().constData());
    return outcome.ok;
}

} // namespace

int main(int argc, char** argv) {
    // A service's newer build, verified on the bytes that then run, before anything else happens here.
    ExecGate::RunNewerBuild(argv);
    const CommandLine command = CommandLine::parse(commandLineWords(argc, argv));
    switch (command.mode) {
    case CommandLine::Help:
        printUsage();
        return 0;
    case CommandLine::Version:
        std::printf("ClientZEP_job %s\n", ProgramInfo::versionText().toUtf8().constData());
        return 0;
    case CommandLine::Wrong:
        Startup::stateLine(command.text + QStringLiteral(" (see --help)"));
        return 2;
    case CommandLine::RunJob:
    case CommandLine::Check: {
        // Headless whatever the display: the output is for the terminal, message boxes go to standard error.
        QCoreApplication app(argc, argv);
        if (!withTheFoldersRights())
            return 1;
        return command.mode == CommandLine::RunJob ? RunJob::main(command.text) : Check::main(command.text);
    }
    case CommandLine::Bot:
        break;
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
        ServiceFront::routeToJournal();
    }

    if (!withTheFoldersRights())
        return 1;

    // 1. The whole command-line text, unchanged.
    const QString commandLine = command.text;

    // 2. One copy per program folder.
    InstanceLock instance(ProgramInfo::folder());
    if (!instance.tryLock()) {
        if (instance.failure().isEmpty()) {
            MessageBox::show(QStringLiteral("이미 실행중입니다."));
            return 0;
        }
        // Not another copy: a fault of this start, so a service manager starts the bot again.
        const QString line = QStringLiteral("cannot take the single-instance lock: ") + instance.failure();
        Startup::stateLine(line, Journal::Err);
        ErrorLog::WriteToFile(line);
        return 1;
    }

    // 3, 4. Endpoints: the directory server's answer or its cache, the deployment defaults filling the gaps.
    // What deployment.ini holds that cannot be used is said once, and its default used.
    const DeploymentFile deploymentFile = Deployment::read(ProgramInfo::folder());
    Startup::reportDeploymentIssues(deploymentFile, Deployment::path(ProgramInfo::folder()));
    const Deployment& deployment = deploymentFile.values;
    modMain::ResolveAtStartup(deployment);

    // 5. The messenger host.
    modMain::ServerAddress = modMain::ChooseServerAddress(commandLine);

    // 6. The window, and from here on its events.
    frmMain form(deployment.MessengerPort);
    form.setCommandUsers(deployment.CommandUsers);
    form.setLogin(deployment.LoginId, deployment.LoginPassword);
    QObject::connect(&form, &frmMain::unloaded, app.get(), &QCoreApplication::quit, Qt::QueuedConnection);
    if (gui)
        gui->createWindow(form);
    else
        new HeadlessFront(form);
    new ServiceFront(form);
    form.Form_Load();
    const int status = app->exec();
    MessageBox::install(nullptr);
    return status;
}
