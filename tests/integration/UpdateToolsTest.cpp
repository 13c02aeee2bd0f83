// The update checker and the file changer, run as the bot runs them in a program folder of their own, the
// checker against the HTTP fixture.

#include "HttpServer.h"
#include "InstanceLock.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "ReleaseKey.h"
#include "ServiceManager.h"
#include "TestSupport.h"
#include "modAutoUpdateV1_Launcher.h"
#include "modFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

const QString UpdateFolder = QStringLiteral("download/자동업데이트_v1/");

using TestSupport::readAll;

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The release key the tools trust, and one they do not; made once, on first use.
const ReleaseKey& releaseKey() {
    static const ReleaseKey made;
    return made;
}
const ReleaseKey& strangerKey() {
    static const ReleaseKey made;
    return made;
}

// Real programs of this machine: env runs its arguments, so a "bot" made of it shows that it was started
// again (ZEPJOB_ARGUMENTS ["touch", "restarted"]); bytes after its end do not keep it from running, which
// tells two builds apart; false fails its "--version".
QByteArray program() {
    return readAll("/usr/bin/env");
}
QByteArray newerProgram() {
    return program() + QByteArray("\0newer build", 12);
}
QByteArray failingProgram() {
    return readAll("/usr/bin/false");
}
// The same program, marked for another machine (e_machine 183, AArch64).
QByteArray foreignProgram() {
    QByteArray bytes = program();
    bytes[18] = char(183);
    bytes[19] = 0;
    return bytes;
}
const QByteArray Script = "#!/bin/sh\necho a script\n";

struct ToolRun {
    int status = -1;
    QString error;
};

class UpdateToolsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
        HttpServer::reset();
        for (const char* tool : {ZEPJOB_CHECKER_BINARY, ZEPJOB_CHANGER_BINARY})
            ASSERT_TRUE(QFile::copy(tool, inFolder(QFileInfo(tool).fileName()))) << tool;
        writeDeployment(HttpServer::host());
    }

    void writeDeployment(const QString& updateHost) {
        TestSupport::writeFile(inFolder("deployment.ini"),
                               "[Deployment]\r\nAddrAutoUpdate=" + updateHost.toLatin1() +
                                   "\r\nUpdatePublicKey=" + releaseKey().publicKeyLine().toLatin1() + "\r\n");
    }

    QString inFolder(const QString& name) const { return folder.path() + "/" + name; }

    QStringList files() const {
        QStringList names = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        names.sort();
        return names;
    }

    // The tools' environment: no service manager, and a "bot" that the changer starts by touching a file.
    static QProcessEnvironment toolEnvironment() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("INVOCATION_ID");
        env.remove("NOTIFY_SOCKET");
        env.insert(ServiceManager::ArgumentsVariable, R"(["touch", "restarted"])");
        return env;
    }

    ToolRun run(const QString& tool, const QString& argument, const QProcessEnvironment& extra = {}) {
        QProcess p;
        QProcessEnvironment env = toolEnvironment();
        env.insert(extra);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder.path());
        p.start(inFolder(tool), {argument});
        EXPECT_TRUE(p.waitForFinished(60000)) << tool.toStdString();
        return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
    }

    ToolRun check(const QString& argument = "301;ClientZEP_job") { return run("VerProbeV1.exe", argument); }

    // Whether the changer started the "bot" again, given a moment to do so.
    bool restarted(int ms = 5000) const {
        return TestSupport::waitUntil([&] { return QFile::exists(inFolder("restarted")); }, ms, 20);
    }

    QTemporaryDir folder;
};

// ---- The checker ----

TEST_F(UpdateToolsTest, TheCheckerFetchesOnlyAHigherRevisionAndOnlyASignedSoundBuild) {
    const QByteArray good = program();
    enum Signing { None, Signed, Legacy, Stranger, OtherFile, Older };
    struct Case {
        const char* name;
        QByteArray latest; // ClientZEP_job_lastver.txt, none when null
        QByteArray build;  // ClientZEP_job, none when null
        Signing signing;   // ClientZEP_job.minisig
        int cut;           // bytes of the build sent before the connection closes, -1: all; -2: endless
        bool ready;        // New_ClientZEP_job is left, and the exit status is 0
        bool ok;
        QString logged; // the error-log line after "self-update: ClientZEP_job <version> refused: "
    };
    const Case cases[] = {
        {"newer, signed", "302\r\n", good, Signed, -1, true, true, {}},
        {"newer, signed with the legacy algorithm", " 1000 ", good, Legacy, -1, true, true, {}},
        {"same", "301", good, Signed, -1, false, true, {}},
        {"older", "300\n", good, Signed, -1, false, true, {}},
        {"unreadable", "abc", good, Signed, -1, false, false, {}},
        {"number with text", "302 beta", good, Signed, -1, false, false, {}},
        {"blank", "  \r\n", good, Signed, -1, false, false, {}},
        {"no version file", {}, good, Signed, -1, false, false, {}},
        {"a matching checksum, but signed by an unknown key", "302", good, Stranger, -1, false, false,
         "signed by another key"},
        {"no signature", "302", good, None, -1, false, false,
         "its signature ClientZEP_job.minisig: HTTP 404"},
        {"the signature of another file", "302", good, OtherFile, -1, false, false,
         "signed as \"VerProbeV1.exe 302\", not \"ClientZEP_job 302\""},
        {"a signed older revision", "302", good, Older, -1, false, false,
         "signed as \"ClientZEP_job 300\", not \"ClientZEP_job 302\""},
        {"a body without end", "302", good, Signed, -2, false, false,
         "the answer is larger than its bound of 67108864 bytes"},
        {"cut half-way", "302", good, Signed, int(good.size() / 2), false, false, "no answer"},
        {"a signed script", "302", Script, Signed, -1, false, false, "not an ELF program"},
        {"another machine's program", "302", foreignProgram(), Signed, -1, false, false,
         "an ELF program for machine 183, not 62"},
        {"no build", "302", {}, Signed, -1, false, false, "HTTP 404"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpServer::reset();
        const QString version = QString::fromLatin1(c.latest).trimmed();
        if (!c.latest.isNull())
            HttpServer::serve(UpdateFolder + "ClientZEP_job_lastver.txt", c.latest);
        if (!c.build.isNull())
            HttpServer::serve(UpdateFolder + "ClientZEP_job", c.build);
        // A checksum beside it changes nothing: only the signature counts.
        HttpServer::serve(UpdateFolder + "ClientZEP_job.sha256", sha256(c.build) + "  ClientZEP_job\n");
        const QString comment = c.signing == OtherFile ? "VerProbeV1.exe " + version
                                : c.signing == Older   ? QString("ClientZEP_job 300")
                                                       : "ClientZEP_job " + version;
        if (c.signing != None)
            HttpServer::serve(UpdateFolder + "ClientZEP_job.minisig",
                              (c.signing == Stranger ? strangerKey() : releaseKey())
                                  .sign(c.build.isNull() ? good : c.build, comment, c.signing == Legacy));
        if (c.cut >= 0)
            HttpServer::serve(UpdateFolder + "ClientZEP_job.cut", QByteArray::number(c.cut));
        if (c.cut == -2)
            HttpServer::serve(UpdateFolder + "ClientZEP_job.endless", "");
        // What an earlier run left never passes for this run's answer.
        TestSupport::writeFile(inFolder("New_ClientZEP_job"), "left by an earlier run");

        const ToolRun result = check();
        EXPECT_EQ(result.status == 0, c.ok) << result.error.toStdString();
        EXPECT_EQ(result.error.count('\n'), 1) << result.error.toStdString();
        QStringList expectedFiles = {"VerProbeV1.exe", "deployment.ini", "swapfiles.exe"};
        if (c.ready)
            expectedFiles << "New_ClientZEP_job"
                          << "New_ClientZEP_job.minisig";
        if (!c.logged.isEmpty())
            expectedFiles << "ErrorLog.txt";
        expectedFiles.sort();
        EXPECT_EQ(files(), expectedFiles);
        if (c.ready) {
            EXPECT_EQ(readAll(inFolder("New_ClientZEP_job")), good);
            EXPECT_TRUE(QFileInfo(inFolder("New_ClientZEP_job")).isExecutable());
        }
        ProgramInfo::setFolder(folder.path());
        const QStringList log = TestSupport::takeErrorLog();
        ProgramInfo::setFolder(QString());
        if (c.logged.isEmpty()) {
            EXPECT_TRUE(log.isEmpty()) << log.join("\n").toStdString();
        } else {
            ASSERT_EQ(log.size(), 1) << log.join("\n").toStdString();
            EXPECT_TRUE(log[0].startsWith("self-update: ClientZEP_job " + version + " refused: " + c.logged))
                << log[0].toStdString();
        }
        HttpServer::takeRequests();
    }
}

// The update server is found as the bot found it: the directory cache the bot left first, deployment.ini
// after.
TEST_F(UpdateToolsTest, TheCheckerAsksTheUpdateServerOfTheDirectoryCache) {
    HttpServer::serve(UpdateFolder + "ClientZEP_job_lastver.txt", "301");
    writeDeployment("127.0.0.1:1");
    const QByteArray cache =
        "\xEF\xBB\xBF{\"ver\": 3,\"servers\": [{\"name\": \"자동업데이트_런처\",\"host\": \"" +
        HttpServer::host().toUtf8() + "\"}]}";
    TestSupport::writeFile(inFolder("server_address_setting.json"), cache);
    EXPECT_EQ(check().status, 0);
    EXPECT_EQ(HttpServer::takeRequests(), QStringList{"/" + UpdateFolder + "ClientZEP_job_lastver.txt"});

    // Without the entry the deployment default is asked: nothing answers there, quickly.
    TestSupport::writeFile(inFolder("server_address_setting.json"),
                           "\xEF\xBB\xBF{\"ver\": 3,\"servers\": []}");
    QElapsedTimer timer;
    timer.start();
    const ToolRun result = check();
    EXPECT_NE(result.status, 0);
    EXPECT_TRUE(result.error.contains("127.0.0.1:1")) << result.error.toStdString();
    EXPECT_LT(timer.elapsed(), 6000);
    EXPECT_TRUE(HttpServer::takeRequests().isEmpty());

    // With HttpTls required, a cache that came in clear names no update server either.
    TestSupport::writeFile(inFolder("server_address_setting.json"), cache);
    TestSupport::writeFile(inFolder("deployment.ini"),
                           TestSupport::readAll(inFolder("deployment.ini")) + "HttpTls=required\r\n");
    EXPECT_TRUE(check().error.contains("127.0.0.1:1"));
    EXPECT_TRUE(HttpServer::takeRequests().isEmpty());
}

TEST_F(UpdateToolsTest, TheCheckerRefusesAMalformedCommandLine) {
    for (const char* argument : {"", "301", "abc;ClientZEP_job", "301;", "301;../ClientZEP_job", "301;a;b"}) {
        SCOPED_TRACE(argument);
        const ToolRun result = check(argument);
        EXPECT_EQ(result.status, 2) << result.error.toStdString();
    }
    EXPECT_TRUE(HttpServer::takeRequests().isEmpty());
}

// ---- The version the launcher reads ----

TEST_F(UpdateToolsTest, TheLauncherLeavesACurrentCheckerAlone) {
    const QString build = QString::number(ZEPJOB_UPDATE_TOOLS_BUILD);
    for (const char* tool : {"VerProbeV1", "swapfiles"}) {
        SCOPED_TRACE(tool);
        const QString path = inFolder(QString(tool) + ".exe");
        EXPECT_EQ(modFile::GetFileVer(path, true, true), "1.0.0." + build);
        const auto list = modFile::ReadFileVersionInfo(path);
        ASSERT_TRUE(list);
        EXPECT_EQ(list->at(2), "FileVersion: 1.0.0." + build);
        EXPECT_EQ(list->at(3), "InternalName: " + QString(tool));
        EXPECT_EQ(list->at(0), "CompanyName: Not specified");
        EXPECT_EQ(list->at(12), "Language: Korean");
    }
    EXPECT_EQ(modFile::GetFileVer("/usr/bin/env", true, true), QString()) << "an ELF file without our note";

    MessageBoxRecorder boxes;
    ProgramInfo::setFolder(folder.path());
    const QByteArray checker = readAll(inFolder("VerProbeV1.exe"));
    HttpServer::serve(UpdateFolder + "VerProbeV1_lastver.txt", build.toLatin1());
    const QString next = QString::number(ZEPJOB_UPDATE_TOOLS_BUILD + 1);
    for (const char* name : {"VerProbeV1.exe", "swapfiles.exe"}) {
        const QByteArray body = QByteArray("a newer ") + name;
        HttpServer::serve(UpdateFolder + name, body);
        HttpServer::serve(UpdateFolder + name + ".minisig", releaseKey().sign(body, name + (" " + next)));
    }
    const auto key = ReleaseSignature::parsePublicKey(releaseKey().publicKeyLine());
    ASSERT_TRUE(key);
    EXPECT_TRUE(modAutoUpdateV1_Launcher::AutoUpdaterSelfUpdate(HttpServer::host(), *key, Tls::Policy{}));
    EXPECT_EQ(readAll(inFolder("VerProbeV1.exe")), checker) << "a current checker is not fetched again";

    HttpServer::serve(UpdateFolder + "VerProbeV1_lastver.txt", next.toLatin1());
    EXPECT_TRUE(modAutoUpdateV1_Launcher::AutoUpdaterSelfUpdate(HttpServer::host(), *key, Tls::Policy{}));
    EXPECT_EQ(readAll(inFolder("VerProbeV1.exe")), "a newer VerProbeV1.exe");
    EXPECT_TRUE(boxes.texts.isEmpty());
    ProgramInfo::setFolder(QString());
}

// ---- The changer ----

TEST_F(UpdateToolsTest, TheChangerPutsASoundBuildInPlaceAndOtherwiseKeepsTheRunningOne) {
    struct Case {
        const char* name;
        QByteArray fresh; // New_ClientZEP_job, none when null
        bool managed;     // run as a service's child
        bool swapped; // ClientZEP_job is the new build afterwards (else the old one) and the exit status 0
        bool oldKept; // ClientZEP_job.old holds the old build
    };
    // The changer never runs the new build to judge it: one that fails its "--version" goes in all the same
    // (the checker verified its signature), and only the service manager or the restart runs it.
    const Case cases[] = {
        {"a sound build", newerProgram(), false, true, true},
        {"no new file", {}, false, false, false},
        {"a script", Script, false, false, false},
        {"another machine's program", foreignProgram(), false, false, false},
        {"a sound build, under a service manager", newerProgram(), true, true, true},
        {"a build that fails its --version, under a service manager", failingProgram(), true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : {"ClientZEP_job.old", "restarted", "New_ClientZEP_job"})
            QFile::remove(inFolder(name));
        TestSupport::writeFile(inFolder("ClientZEP_job"), program());
        QFile::setPermissions(inFolder("ClientZEP_job"),
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::WriteOwner);
        if (!c.fresh.isNull())
            TestSupport::writeFile(inFolder("New_ClientZEP_job"), c.fresh);

        // Under a service manager the bot holds its lock while it waits for the changer.
        QLockFile botLock(InstanceLock::path(folder.path()));
        QProcessEnvironment service;
        if (c.managed) {
            ASSERT_TRUE(botLock.tryLock(0));
            service.insert("INVOCATION_ID", "0123456789abcdef");
        }
        const ToolRun result = run("swapfiles.exe", "ClientZEP_job;New_ClientZEP_job", service);
        EXPECT_EQ(result.status == 0, c.swapped) << result.error.toStdString();
        EXPECT_EQ(result.error.count('\n'), 1) << result.error.toStdString();
        EXPECT_EQ(readAll(inFolder("ClientZEP_job")), c.swapped ? c.fresh : program());
        EXPECT_TRUE(QFileInfo(inFolder("ClientZEP_job")).isExecutable());
        EXPECT_EQ(QFile::exists(inFolder("ClientZEP_job.old")), c.oldKept);
        if (c.oldKept) {
            EXPECT_EQ(readAll(inFolder("ClientZEP_job.old")), program());
        }
        EXPECT_FALSE(QFile::exists(inFolder("New_ClientZEP_job")));
        // Started again with the same arguments, by the changer on its own, by the manager otherwise.
        EXPECT_EQ(restarted(c.managed ? 1000 : 5000), !c.managed);
        EXPECT_FALSE(QFile::exists(inFolder("ClientZEP_job.old.tmp")));
    }
}

// The changer waits for the bot to end, but not for ever.
TEST_F(UpdateToolsTest, TheChangerWaitsABoundedTimeForTheBotToEnd) {
    TestSupport::writeFile(inFolder("ClientZEP_job"), program());
    TestSupport::writeFile(inFolder("New_ClientZEP_job"), newerProgram());
    QLockFile botLock(InstanceLock::path(folder.path()));
    ASSERT_TRUE(botLock.tryLock(0));
    QProcessEnvironment bound;
    bound.insert("SWAPFILES_LOCK_WAIT_MS", "500");

    QElapsedTimer timer;
    timer.start();
    const ToolRun gaveUp = run("swapfiles.exe", "ClientZEP_job;New_ClientZEP_job", bound);
    EXPECT_NE(gaveUp.status, 0);
    EXPECT_GE(timer.elapsed(), 450);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(readAll(inFolder("ClientZEP_job")), program());
    EXPECT_EQ(readAll(inFolder("New_ClientZEP_job")), newerProgram());
    EXPECT_FALSE(restarted(500)) << "a bot that still runs is not started a second time";

    // The bot ends while the changer waits.
    QProcess changer;
    changer.setProcessEnvironment(toolEnvironment());
    changer.start(inFolder("swapfiles.exe"), {"ClientZEP_job;New_ClientZEP_job"});
    ASSERT_TRUE(changer.waitForStarted());
    QThread::msleep(300);
    EXPECT_EQ(changer.state(), QProcess::Running);
    botLock.unlock();
    ASSERT_TRUE(changer.waitForFinished(10000));
    EXPECT_EQ(changer.exitCode(), 0) << changer.readAllStandardError().toStdString();
    EXPECT_EQ(readAll(inFolder("ClientZEP_job")), newerProgram());
    EXPECT_TRUE(restarted());
}

TEST_F(UpdateToolsTest, TheChangerRefusesAMalformedCommandLine) {
    TestSupport::writeFile(inFolder("ClientZEP_job"), program());
    for (const char* argument : {"", "ClientZEP_job", "ClientZEP_job;Other", "a/b;New_a/b", ";New_"}) {
        SCOPED_TRACE(argument);
        EXPECT_EQ(run("swapfiles.exe", argument).status, 2);
    }
    EXPECT_EQ(readAll(inFolder("ClientZEP_job")), program());
    EXPECT_FALSE(restarted(200));
}

} // namespace
