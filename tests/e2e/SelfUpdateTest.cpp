// "/selfupdate" end to end: the built bot, its update checker and file changer in a program folder of their
// own, messenger-sim, and the HTTP fixture as the update server holding a newer build of the bot, signed with
// a release key made for the run.

#include "BotRun.h"
#include "HttpServer.h"
#include "InstanceLock.h"
#include "ReleaseKey.h"
#include "ServiceManager.h"
#include "TestSupport.h"
#include "Version.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString UpdateFolder = QStringLiteral("download/자동업데이트_v1/");
const QString Newer =
    QStringLiteral("%1.%2.%3").arg(Version::Major).arg(Version::Minor).arg(ZEPJOB_NEXT_REVISION);

using TestSupport::readAll;

bool alive(qint64 pid) {
    // A zombie has ended; its parent may take its time to reap it.
    const QByteArray state = TestSupport::processState(pid);
    return !state.isEmpty() && state != "Z";
}

// The release keys of a run: made before the program folder, whose deployment.ini names one of them.
struct RunKeys {
    ReleaseKey key, stranger;
};

// A program folder with the bot, the two update programs and a simulator; the update server offers the next
// revision of the bot, and the bot is told to reach the simulator through its command line only.
class SelfUpdateRun : public RunKeys, public BotFolder {
public:
    explicit SelfUpdateRun(const QByteArray& script, bool keyed = true)
        : BotFolder(
              script, {"--wait-timeout-ms", "60000"}, {ZEPJOB_CHECKER_BINARY, ZEPJOB_CHANGER_BINARY},
              // The deployment's messenger host leads nowhere: only the command line finds the simulator.
              "AddrMessenger=127.0.0.2\r\nDirectoryServer=" + HttpServer::host().toLatin1() +
                  "\r\nAddrAutoUpdate=" + HttpServer::host().toLatin1() + "\r\n" +
                  (keyed ? "UpdatePublicKey=" + key.publicKeyLine().toLatin1() + "\r\n" : QByteArray())) {
        HttpServer::reset();
        const QByteArray newer = readAll(ZEPJOB_NEWER_BOT_BINARY);
        HttpServer::serve(UpdateFolder + "VerProbeV1_lastver.txt",
                          QByteArray::number(ZEPJOB_UPDATE_TOOLS_BUILD));
        HttpServer::serve(UpdateFolder + "ClientZEP_job_lastver.txt",
                          QByteArray::number(ZEPJOB_NEXT_REVISION) + "\r\n");
        release("ClientZEP_job", newer, QString::number(ZEPJOB_NEXT_REVISION), key);
        // An old server's checksum is no reason to trust anything.
        HttpServer::serve(UpdateFolder + "ClientZEP_job.sha256",
                          QCryptographicHash::hash(newer, QCryptographicHash::Sha256).toHex() +
                              "  ClientZEP_job\n");
    }

    ~SelfUpdateRun() { stopLockHolder(); }

    // `body` as `name` on the update server, signed by `by` as "name version".
    static void release(const QString& name, const QByteArray& body, const QString& version,
                        const ReleaseKey& by) {
        HttpServer::serve(UpdateFolder + name, body);
        HttpServer::serve(UpdateFolder + name + ".minisig", by.sign(body, name + " " + version));
    }

    // The bot as an administrator starts it; what every copy writes goes to bot.log.
    void startBot(QProcess& process) {
        process.setProgram(inFolder("ClientZEP_job"));
        process.setArguments({"127.0.0.1"});
        process.setWorkingDirectory(folder.path());
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(inFolder("bot.log"), QIODevice::Append);
        process.start();
        EXPECT_TRUE(process.waitForStarted());
    }

    QString log() const { return QString::fromUtf8(readAll(inFolder("bot.log"))); }

    // The process holding the bot's instance lock, 0 when there is none.
    qint64 lockHolder() const {
        QLockFile lock(InstanceLock::path(folder.path()));
        qint64 pid = 0;
        QString host, app;
        return lock.getLockInfo(&pid, &host, &app) && alive(pid) ? pid : 0;
    }

    // Ends the copy that the file changer started (it is no child of ours).
    void stopLockHolder() {
        if (const qint64 pid = lockHolder()) {
            ::kill(pid_t(pid), SIGKILL);
            TestSupport::waitUntil([pid] { return !alive(pid); }, 5000, 10);
        }
    }

    QList<BotLine> botPackets() const { return packetsIn(simOutput); }

    int finishScript() {
        EXPECT_TRUE(sim.waitForFinished(90000)) << "the simulator's script did not end";
        simOutput = QString::fromUtf8(sim.readAllStandardOutput());
        return sim.exitCode();
    }

    QProcessEnvironment environment = environmentWith({});
    QString simOutput;
};

// The script of both runs: the update, then a second login whose version packet and "/ver" reply carry the
// newer revision.
QByteArray updateScript() {
    return "waitlogin\nwait 10\n17 /selfupdate\nwait 1 Auto Update Start\n"
           "waitconnect\nwaitconnect\nwaitlogin\nwait 10 " +
           Newer.toLatin1() + "\n17 /ver\nwait 1 " + Newer.toLatin1() + "\nquit\n";
}

void expectNewerBuildAnswered(const SelfUpdateRun& run) {
    const QList<BotLine> sent = run.botPackets();
    ASSERT_FALSE(sent.isEmpty()) << run.simOutput.toStdString();
    EXPECT_TRUE(sent.contains(
        BotLine{"01", "123;17", "Auto Update Start...(Cur Ver: " + TestSupport::version() + ")"}))
        << run.simOutput.toStdString();
    EXPECT_TRUE(sent.contains(BotLine{"10", "123;0", "123;" + Newer})) << run.simOutput.toStdString();
    EXPECT_EQ(sent.last(), (BotLine{"01", "123;17", escaped("ZEP-JobServer Ver " + Newer)}))
        << run.simOutput.toStdString();
    EXPECT_EQ(readAll(run.inFolder("ClientZEP_job")), readAll(ZEPJOB_NEWER_BOT_BINARY));
    EXPECT_EQ(readAll(run.inFolder("ClientZEP_job.old")), readAll(ZEPJOB_BOT_BINARY));
    EXPECT_FALSE(QFile::exists(run.inFolder("New_ClientZEP_job")));
}

// On its own the bot ends, the changer swaps the build and starts it again with the same command line.
TEST(SelfUpdateE2eTest, TheBotEndsAndTheNewerBuildComesBack) {
    ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
    SelfUpdateRun run(updateScript());
    run.startBot(run.bot);
    EXPECT_TRUE(run.bot.waitForFinished(30000)) << "the bot did not end";
    EXPECT_EQ(run.bot.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.bot.exitCode(), 0);
    ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString() << run.log().toStdString();
    expectNewerBuildAnswered(run);
    EXPECT_NE(run.lockHolder(), 0) << "the newer build holds the instance lock";
    EXPECT_TRUE(run.log().contains("revision " + QString::number(ZEPJOB_NEXT_REVISION) + " is ready"))
        << run.log().toStdString();
}

// Under a service manager the bot ends once the build is swapped, with the status that asks for a restart,
// and nobody else starts a copy: the manager (here the test) does.
TEST(SelfUpdateE2eTest, UnderAServiceManagerOnlyTheManagerStartsTheNewerBuild) {
    ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
    SelfUpdateRun run(updateScript());
    run.environment.insert("INVOCATION_ID", "5f1c0ffee5f1c0ffee5f1c0ffee5f1c0");
    run.startBot(run.bot);
    ASSERT_TRUE(run.bot.waitForFinished(30000)) << "the bot did not end";
    EXPECT_EQ(run.bot.exitCode(), ServiceManager::HandedOverExitStatus) << run.log().toStdString();
    EXPECT_EQ(readAll(run.inFolder("ClientZEP_job")), readAll(ZEPJOB_NEWER_BOT_BINARY))
        << "the build is in place before the bot ends";
    QThread::msleep(1500);
    EXPECT_EQ(run.lockHolder(), 0) << "a second copy was started";

    QProcess restarted;
    run.startBot(restarted);
    ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString() << run.log().toStdString();
    expectNewerBuildAnswered(run);
    restarted.kill();
    restarted.waitForFinished();
}

// Forged updates: each is refused before anything of it runs or lands in the program folder, the running
// build answers the requester, and the error log names the file and the reason.
TEST(SelfUpdateE2eTest, AForgedUpdateIsRefusedAndTheRunningBuildStays) {
    ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
    enum Forgery { CheckerScript, BuildOfAnotherKey, NoReleaseKey };
    struct Case {
        const char* name;
        Forgery forgery;
        QString logged; // the error-log line's beginning
    };
    const Case cases[] = {
        {"a checker script signed by another key", CheckerScript,
         "self-update: VerProbeV1.exe 99 refused: signed by another key"},
        {"a newer build with its checksum, signed by another key", BuildOfAnotherKey,
         "self-update: ClientZEP_job " + QString::number(ZEPJOB_NEXT_REVISION) +
             " refused: signed by another key"},
        {"no release key", NoReleaseKey,
         "self-update: nothing downloaded: no release key (deployment.ini UpdatePublicKey, or one built in)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelfUpdateRun run("waitlogin\nwait 10\n17 /selfupdate\nwait 1 Auto Update Start\n"
                          "wait 1 이미 최신버전이거나\n17 /ver\nwait 1 ZEP-JobServer Ver\nquit\n",
                          c.forgery != NoReleaseKey);
        const QString marker = run.inFolder("forged-code-ran");
        if (c.forgery == CheckerScript) {
            HttpServer::serve(UpdateFolder + "VerProbeV1_lastver.txt", "99");
            for (const char* name : {"VerProbeV1.exe", "swapfiles.exe"})
                SelfUpdateRun::release(name, "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n", "99",
                                       run.stranger);
        } else if (c.forgery == BuildOfAnotherKey) {
            SelfUpdateRun::release("ClientZEP_job", readAll(ZEPJOB_NEWER_BOT_BINARY),
                                   QString::number(ZEPJOB_NEXT_REVISION), run.stranger);
        }
        HttpServer::takeRequests();
        const QStringList before = QDir(run.folder.path()).entryList(QDir::Files | QDir::Hidden);
        run.startBot(run.bot);
        ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString() << run.log().toStdString();
        const QList<BotLine> sent = run.botPackets();
        ASSERT_FALSE(sent.isEmpty());
        EXPECT_EQ(sent.last(),
                  (BotLine{"01", "123;17", escaped("ZEP-JobServer Ver " + TestSupport::version())}))
            << "the running build answers";
        EXPECT_EQ(run.bot.state(), QProcess::Running);
        EXPECT_FALSE(QFile::exists(marker));
        EXPECT_EQ(readAll(run.inFolder("ClientZEP_job")), readAll(ZEPJOB_BOT_BINARY));
        EXPECT_EQ(readAll(run.inFolder("VerProbeV1.exe")), readAll(ZEPJOB_CHECKER_BINARY));
        EXPECT_EQ(readAll(run.inFolder("swapfiles.exe")), readAll(ZEPJOB_CHANGER_BINARY));
        QStringList after = QDir(run.folder.path()).entryList(QDir::Files | QDir::Hidden);
        // What the bot keeps beside itself in any run.
        for (const char* own : {"ErrorLog.txt", "bot.log", "ClientZEP_job.lock",
                                "server_address_setting.json", "DailyRecord.txt"})
            after.removeAll(own);
        EXPECT_EQ(after, before) << "nothing of the forgery is left";
        const QString log = TestSupport::readCp949(run.inFolder("ErrorLog.txt"));
        EXPECT_EQ(log.count("self-update: "), 1) << log.toStdString();
        EXPECT_TRUE(log.contains(c.logged)) << log.toStdString();
        if (c.forgery == NoReleaseKey) {
            for (const QString& request : HttpServer::takeRequests())
                EXPECT_FALSE(request.contains("자동업데이트")) << request.toStdString();
        }
    }
}

// A service's gate: the packaged program, started as the service's account, runs the program folder's build
// only when the release key of the system's deployment.ini (here in an overlay of /etc in a mount namespace
// of the run's own) signed it as "ClientZEP_job <a revision above its own>", checked on the sealed copy that
// then runs; otherwise it runs itself and says why. The folder's deployment.ini, a link to a file of root's
// naming another key, has no say; a FIFO in the folder hangs nothing; root runs the packaged build alone.
TEST(SelfUpdateE2eTest, ThePackagedProgramRunsOnlyAVerifiedNewerBuildOfTheProgramFolder) {
    ASSERT_EQ(geteuid(), 0u) << "the gate trusts only files of root's: run it as root";
    const ReleaseKey key, stranger;
    QTemporaryDir installed, folder, etc, old;
    for (const QTemporaryDir* dir : {&installed, &folder, &etc})
        QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther);
    ASSERT_TRUE(QFile::copy(ZEPJOB_BOT_BINARY, installed.path() + "/ClientZEP_job"));
    ASSERT_TRUE(QDir(etc.path()).mkdir("clientzep-job"));
    const QString system = etc.path() + "/clientzep-job/deployment.ini";
    TestSupport::writeFile(system,
                           "[Deployment]\r\nUpdatePublicKey=" + key.publicKeyLine().toLatin1() + "\r\n");
    TestSupport::writeFile(old.path() + "/deployment.ini.dpkg-old",
                           "[Deployment]\r\nUpdatePublicKey=" + stranger.publicKeyLine().toLatin1() + "\r\n");
    const QByteArray current = readAll(ZEPJOB_BOT_BINARY), newer = readAll(ZEPJOB_NEWER_BOT_BINARY);
    const QString next = "ClientZEP_job " + QString::number(ZEPJOB_NEXT_REVISION);
    const QString own = "ClientZEP_job " + TestSupport::version() + "\n";
    enum Place { File, Link, Fifo, FifoSignature };
    struct Case {
        const char* name;
        QByteArray build;             // the folder's ClientZEP_job
        QByteArray signature;         // its .minisig, none when null
        QFileDevice::Permissions ini; // of the system's deployment.ini
        Place place;
        bool root;       // started by root instead of the service's account
        QString version; // what --version prints
        QString said;    // in the gate's line on standard error, none when empty
    };
    const auto rootOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther;
    const auto anyoneWrites = rootOnly | QFileDevice::WriteOther;
    const QString newerVersion = "ClientZEP_job " + Newer + "\n";
    const Case cases[] = {
        {"a signed newer build", newer, key.sign(newer, next), rootOnly, File, false, newerVersion, {}},
        {"root and a signed newer build", newer, key.sign(newer, next), rootOnly, File, true, own, {}},
        {"signed by the key the folder names", newer, stranger.sign(newer, next), rootOnly, File, false, own,
         "signed by another key"},
        {"signed as another program", newer, key.sign(newer, "VerProbeV1.exe 302"), rootOnly, File, false,
         own, "its signature names no revision of ClientZEP_job"},
        {"a signed build of the same revision",
         current,
         key.sign(current, "ClientZEP_job 301"),
         rootOnly,
         File,
         false,
         own,
         {}},
        {"the signature of another build", newer + "changed", key.sign(newer, next), rootOnly, File, false,
         own, "the signature does not match the file"},
        {"no signature", newer, {}, rootOnly, File, false, own, "it has no signature ClientZEP_job.minisig"},
        {"the packaged build itself", current, {}, rootOnly, File, false, own, {}},
        {"the key in a system deployment.ini others may write", newer, key.sign(newer, next), anyoneWrites,
         File, false, own, "no release key in a file of root's"},
        {"a link in place of the build", newer, key.sign(newer, next), rootOnly, Link, false, own,
         "it cannot be read as a plain file"},
        {"a FIFO in place of the build", newer, {}, rootOnly, Fifo, false, own, "it has no signature"},
        {"a FIFO in place of the signature",
         newer,
         {},
         rootOnly,
         FifoSignature,
         false,
         own,
         "it has no signature"},
    };
    const QString build = folder.path() + "/ClientZEP_job";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : {"ClientZEP_job", "ClientZEP_job.minisig", "target", "deployment.ini"})
            QFile::remove(folder.path() + "/" + name);
        TestSupport::writeFile(c.place == Link ? folder.path() + "/target" : build, c.build);
        if (c.place == Link)
            QFile::link(folder.path() + "/target", build);
        if (c.place == Fifo) {
            QFile::remove(build);
            ::mkfifo(QFile::encodeName(build).constData(), 0644);
        }
        if (c.place == FifoSignature)
            ::mkfifo(QFile::encodeName(build + ".minisig").constData(), 0644);
        if (!c.signature.isNull())
            TestSupport::writeFile(build + ".minisig", c.signature);
        QFile::link(old.path() + "/deployment.ini.dpkg-old", folder.path() + "/deployment.ini");
        QFile::setPermissions(system, c.ini);

        // The system's configuration overlaid on /etc for this run alone, then the service's account.
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZEPJOB_PROGRAM_FOLDER", folder.path());
        p.setProcessEnvironment(env);
        QStringList command = {installed.path() + "/ClientZEP_job", "--version"};
        if (!c.root)
            command =
                QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"} + command;
        p.start("unshare", QStringList{"--mount", "--propagation", "private", "--", "sh", "-c",
                                       "mount -t overlay overlay -o \"lowerdir=$0:/etc\" /etc && exec \"$@\"",
                                       etc.path()} +
                               command);
        ASSERT_TRUE(p.waitForFinished(30000)) << "the gate hangs";
        EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), c.version);
        const QString said = QString::fromLocal8Bit(p.readAllStandardError());
        if (c.said.isEmpty()) {
            EXPECT_TRUE(said.isEmpty()) << said.toStdString();
        } else {
            EXPECT_TRUE(said.contains(c.said)) << said.toStdString();
            EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
        }
    }
}

} // namespace
