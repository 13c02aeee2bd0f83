#include "HttpClient.h"
#include "HttpServer.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "TestSupport.h"
#include "Version.h"
#include "WindowsExecutable.h"
#include "modAutoUpdateV1_Download.h"
#include "modAutoUpdateV1_Launcher.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

const QString UpdateFolder = QStringLiteral("download/자동업데이트_v1/");

using TestSupport::readAll;
using TestSupport::writeScript;

class SelfUpdateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pe = new QTemporaryDir;
        problem = buildVersionedExecutable(pe->path(), "build7.exe", "1.0.0.7");
    }
    static void TearDownTestSuite() {
        delete pe;
        pe = nullptr;
    }

    void SetUp() override {
        ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
        HttpServer::reset();
        ProgramInfo::setFolder(folder.path());
    }

    QString inFolder(const QString& name) const { return folder.path() + "/" + name; }

    QTemporaryDir folder;
    MessageBoxRecorder boxes;
    static inline QTemporaryDir* pe = nullptr;
    static inline QString problem;
};

TEST_F(SelfUpdateTest, ReadUrlTextReadsTwentyFreshBytesAsCp949) {
    HttpServer::serve("long.txt", "12345678901234567890-and more");
    HttpServer::serve("hangul.txt", QByteArray("\xb9\xf6\xc0\xfc 8", 6)); // "버전 8" in CP949
    const QString base = "http://" + HttpServer::host() + "/";
    EXPECT_EQ(modAutoUpdateV1_Download::ReadUrlText(base + "long.txt"),
              QStringLiteral("12345678901234567890"));
    EXPECT_EQ(modAutoUpdateV1_Download::ReadUrlText(base + "hangul.txt"), QStringLiteral("버전 8"));
    // An error page is read like any answer.
    EXPECT_EQ(modAutoUpdateV1_Download::ReadUrlText(base + "missing.txt"),
              QStringLiteral("<html><body><h1>404 "));
    EXPECT_EQ(modAutoUpdateV1_Download::ReadUrlText("http://127.0.0.1:1/x"), QString());
}

TEST_F(SelfUpdateTest, AFailedDownloadLeavesTheOldFileAlone) {
    HttpServer::serve("tool.exe", "new contents");
    HttpServer::serve("slow.exe", "late");
    HttpServer::serve("slow.exe.delay", "3");
    const QString base = "http://" + HttpServer::host() + "/";
    const QString target = inFolder("tool.exe");
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();

    EXPECT_FALSE(modAutoUpdateV1_Download::DownloadUrlToFile(base + "missing.exe", target));
    EXPECT_EQ(readAll(target), QByteArray("old"));
    HttpClient::Options impatient;
    impatient.totalTimeoutMs = 500;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(HttpClient::downloadToFile(base + "slow.exe", target, impatient));
    EXPECT_LT(timer.elapsed(), 2500);
    EXPECT_EQ(readAll(target), QByteArray("old"));
    EXPECT_FALSE(modAutoUpdateV1_Download::DownloadUrlToFile("http://127.0.0.1:1/tool.exe", target));
    EXPECT_EQ(readAll(target), QByteArray("old"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"tool.exe"}) << "no temporary left";

    EXPECT_TRUE(modAutoUpdateV1_Download::DownloadUrlToFile(base + "tool.exe", target));
    EXPECT_EQ(readAll(target), QByteArray("new contents"));
}

TEST_F(SelfUpdateTest, CheckerAndChangerAreBroughtUpToDate) {
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    const QByteArray servedChecker = "#!/bin/sh\necho new checker\n";
    const QByteArray servedChanger = "#!/bin/sh\necho new changer\n";
    const QString notReadable = QStringLiteral("VerProbeV1.exe의 최신버전 정보를 읽어올 수 없습니다!");
    struct Case {
        const char* name;
        bool localBuild7;
        QByteArray remote; // empty: the version file is missing on the server
        bool changerServed;
        bool result;
        bool downloaded;
        QStringList boxes;
    };
    const Case cases[] = {
        {"same build", true, "7", true, true, false, {}},
        {"newer build with CR LF", true, "8\r\n", true, true, true, {}},
        {"not a number", true, "abc", true, true, false, {}},
        {"error page", true, {}, true, true, false, {}},
        {"spaces only", true, "   ", true, false, false, {notReadable}},
        {"no local checker", false, "1", true, true, true, {}},
        {"changer missing on the server", true, "9", false, false, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpServer::reset();
        boxes.texts.clear();
        QFile::remove(inFolder("VerProbeV1.exe"));
        QFile::remove(inFolder("swapfiles.exe"));
        if (c.localBuild7) {
            ASSERT_TRUE(QFile::copy(pe->path() + "/build7.exe", inFolder("VerProbeV1.exe")));
        }
        if (!c.remote.isEmpty())
            HttpServer::serve(UpdateFolder + "VerProbeV1_lastver.txt", c.remote);
        HttpServer::serve(UpdateFolder + "VerProbeV1.exe", servedChecker);
        if (c.changerServed)
            HttpServer::serve(UpdateFolder + "swapfiles.exe", servedChanger);

        EXPECT_EQ(modAutoUpdateV1_Launcher::AutoUpdaterSelfUpdate(HttpServer::host()), c.result);
        EXPECT_EQ(boxes.texts, c.boxes);
        EXPECT_EQ(readAll(inFolder("VerProbeV1.exe")) == servedChecker, c.downloaded);
        if (c.downloaded) {
            EXPECT_TRUE(QFileInfo(inFolder("VerProbeV1.exe")).isExecutable());
            EXPECT_EQ(readAll(inFolder("swapfiles.exe")) == servedChanger, c.changerServed);
        }
        const QStringList requests = HttpServer::takeRequests();
        ASSERT_FALSE(requests.isEmpty());
        EXPECT_EQ(requests.first(), "/" + UpdateFolder + "VerProbeV1_lastver.txt");
        EXPECT_EQ(requests.size(), c.downloaded ? 3 : 1) << requests.join(" ").toStdString();
    }

    boxes.texts.clear();
    EXPECT_FALSE(modAutoUpdateV1_Launcher::AutoUpdaterSelfUpdate("127.0.0.1:1"));
    EXPECT_EQ(boxes.texts, QStringList{notReadable});
}

TEST_F(SelfUpdateTest, TheCheckerRunsAndTheChangerTakesOver) {
    const QString exe = ProgramInfo::exeName();
    // The checker notes its command line and folder and leaves a new version when told to.
    writeScript(inFolder("VerProbeV1.exe"),
                "echo \"$@|$(pwd)\" >> checker.log\n[ -f leave-new ] && : > \"New_" + exe.toUtf8() +
                    "\"\nexit 0\n");
    writeScript(inFolder("swapfiles.exe.sh"), "echo \"$@\" > \"$(dirname \"$0\")/changer.log\"\n");

    struct Case {
        const char* name;
        bool exeInFolder, leaveNew, changer;
        bool checkerRuns, ends;
        QStringList boxes;
    };
    const QString changerMissing =
        "파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n" + inFolder("swapfiles.exe");
    const Case cases[] = {
        {"program not under its own name", false, true, true, false, false, {}},
        {"no newer version", true, false, true, true, false, {}},
        {"newer version handed over", true, true, true, true, true, {}},
        {"file changer missing", true, true, false, true, true, {changerMissing}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.texts.clear();
        for (const QString& name : {exe, "New_" + exe, QString("leave-new"), QString("swapfiles.exe"),
                                    QString("checker.log"), QString("changer.log")})
            QFile::remove(inFolder(name));
        if (c.exeInFolder)
            QFile(inFolder(exe)).open(QIODevice::WriteOnly);
        if (c.leaveNew)
            QFile(inFolder("leave-new")).open(QIODevice::WriteOnly);
        if (c.changer)
            QFile::copy(inFolder("swapfiles.exe.sh"), inFolder("swapfiles.exe"));

        int ended = 0;
        EXPECT_FALSE(modAutoUpdateV1_Launcher::RunAutoUpdate(true, HttpServer::host(), [&] { ++ended; }));
        EXPECT_EQ(ended, c.ends ? 1 : 0);
        EXPECT_EQ(boxes.texts, c.boxes);
        EXPECT_EQ(readAll(inFolder("checker.log")),
                  c.checkerRuns
                      ? QString("%1;%2|%3\n").arg(Version::Revision).arg(exe, folder.path()).toUtf8()
                      : QByteArray());
        if (c.ends && c.changer) {
            // Started without waiting: its note comes a moment later.
            for (int i = 0; i < 200 && !QFile::exists(inFolder("changer.log")); ++i)
                QThread::msleep(10);
            EXPECT_EQ(readAll(inFolder("changer.log")), (exe + ";New_" + exe + "\n").toUtf8());
        }
    }
    // Nothing asked of the update server when the checker check is skipped.
    EXPECT_TRUE(HttpServer::takeRequests().isEmpty());
}

} // namespace
