#include "HttpServer.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "ReleaseKey.h"
#include "TestSupport.h"
#include "Version.h"
#include "WindowsExecutable.h"
#include "modAutoUpdateV1_Download.h"
#include "modAutoUpdateV1_Launcher.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString UpdateFolder = QStringLiteral("download/자동업데이트_v1/");
// The loopback update server speaks plain HTTP.
const Tls::Policy InClear;

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

    QStringList files() const {
        QStringList names = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        names.sort();
        return names;
    }

    QTemporaryDir folder;
    MessageBoxRecorder boxes;
    // Made once for the suite, on first use: the release key the bot trusts and one it does not.
    static const ReleaseKey& releaseKey() {
        static const ReleaseKey made;
        return made;
    }
    static const ReleaseKey& strangerKey() {
        static const ReleaseKey made;
        return made;
    }
    const ReleaseKey& key = releaseKey();
    const ReleaseKey& stranger = strangerKey();
    static inline QTemporaryDir* pe = nullptr;
    static inline QString problem;
};

TEST_F(SelfUpdateTest, ReadUrlTextReadsTwentyFreshBytesAsCp949) {
    HttpServer::serve("long.txt", "12345678901234567890-and more");
    HttpServer::serve("hangul.txt", QByteArray("\xb9\xf6\xc0\xfc 8", 6)); // "버전 8" in CP949
    const QString base = "http://" + HttpServer::host() + "/";
    EXPECT_EQ(modAutoUpdateV1_Download::ReadUrlText(base + "long.txt", InClear),
              QStringLiteral("12345678901234567890"));
    EXPECT_EQ(modAutoUpdateV1_Download::ReadUrlText(base + "hangul.txt", InClear), QStringLiteral("버전 8"));
    // An error page is read like any answer.
    EXPECT_EQ(modAutoUpdateV1_Download::ReadUrlText(base + "missing.txt", InClear),
              QStringLiteral("<html><body><h1>404 "));
    EXPECT_EQ(modAutoUpdateV1_Download::ReadUrlText("http://127.0.0.1:1/x", InClear), QString());
}

TEST_F(SelfUpdateTest, ASignatureHoldsOnlyForItsKeyItsFileAndItsComment) {
    const QByteArray body = "a release\n";
    const QByteArray good = key.sign(body, "F 8");
    const QByteArray legacy = key.sign(body, "F 8", true);
    const auto trusted = ReleaseSignature::parsePublicKey(key.publicKeyLine());
    ASSERT_TRUE(trusted);
    QList<QByteArray> lines = good.split('\n');
    const QByteArray otherComment = lines[0] + "\n" + lines[1] + "\ntrusted comment: F 9\n" + lines[3] + "\n";
    QByteArray otherGlobal = good;
    // One base64 digit inside the global signature, swapped for another digit (a bit flip could make it no
    // base64 at all, or fall in the padding).
    const qsizetype digit =
        otherGlobal.lastIndexOf("trusted comment: ") + QByteArray("trusted comment: F 8\n").size() + 10;
    otherGlobal[digit] = otherGlobal[digit] == 'A' ? 'B' : 'A';
    const QString otherKey =
        QStringLiteral("signed by another key (%1, not the release key %2)")
            .arg(ReleaseSignature::keyIdText(*ReleaseSignature::parsePublicKey(stranger.publicKeyLine())),
                 ReleaseSignature::keyIdText(*trusted));
    struct Case {
        const char* name;
        QByteArray body, signature;
        QString comment, problem;
    };
    const Case cases[] = {
        {"prehashed", body, good, "F 8", ""},
        {"legacy", body, legacy, "F 8", ""},
        {"another key", body, stranger.sign(body, "F 8"), "F 8", otherKey},
        {"another file", "another release\n", good, "F 8", "the signature does not match the file"},
        {"another version", body, good, "F 9", "signed as \"F 8\", not \"F 9\""},
        {"another file name", body, good, "G 8", "signed as \"F 8\", not \"G 8\""},
        {"trusted comment edited", body, otherComment, "F 9", "the trusted comment is not the signed one"},
        {"global signature damaged", body, otherGlobal, "F 8", "the trusted comment is not the signed one"},
        {"no signature", body, "", "F 8", "the signature is not in minisign's format"},
        {"an HTML page", body, "<html><body><h1>404 Not Found</h1></body></html>", "F 8",
         "the signature is not in minisign's format"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReleaseSignature::verify(c.body, c.signature, *trusted, c.comment), c.problem);
    }

    // The trust root: a key line or the path of a .pub file, nothing else.
    EXPECT_EQ(ReleaseSignature::trustRoot(key.publicKeyLine()).key->key, trusted->key);
    EXPECT_EQ(ReleaseSignature::trustRoot(key.publicKeyFile()).key->keyId, trusted->keyId);
    for (const QString& wrong :
         {QString(), QString("RWQ-not-a-key"), QString("/nonexistent/key.pub"), QString("/etc/hostname")}) {
        SCOPED_TRACE(wrong.toStdString());
        const auto root = ReleaseSignature::trustRoot(wrong);
        EXPECT_FALSE(root.key);
        EXPECT_FALSE(root.problem.isEmpty());
    }
}

TEST_F(SelfUpdateTest, CheckerAndChangerAreBroughtUpToDateOnlyWhenSigned) {
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    const QByteArray servedChecker = "#!/bin/sh\necho new checker\n";
    const QByteArray servedChanger = "#!/bin/sh\necho new changer\n";
    const QString notReadable = QStringLiteral("VerProbeV1.exe의 최신버전 정보를 읽어올 수 없습니다!");
    const auto trusted = ReleaseSignature::parsePublicKey(key.publicKeyLine());
    ASSERT_TRUE(trusted);
    enum Signing { Signed, Unsigned, Stranger, OtherVersion, Endless };
    struct Case {
        const char* name;
        bool localBuild7;
        QByteArray remote; // empty: the version file is missing on the server
        bool changerServed;
        Signing checker, changer;
        bool result;
        bool checkerReplaced, changerReplaced;
        QStringList boxes;
        QString logged; // the error-log line, after "self-update: "
    };
    const Case cases[] = {
        {"same build", true, "7", true, Signed, Signed, true, false, false, {}, {}},
        {"newer build with CR LF", true, "8\r\n", true, Signed, Signed, true, true, true, {}, {}},
        {"not a number", true, "abc", true, Signed, Signed, true, false, false, {}, {}},
        {"error page", true, {}, true, Signed, Signed, true, false, false, {}, {}},
        {"spaces only", true, "   ", true, Signed, Signed, false, false, false, {notReadable}, {}},
        {"no local checker", false, "1", true, Signed, Signed, true, true, true, {}, {}},
        {"changer missing on the server",
         true,
         "9",
         false,
         Signed,
         Signed,
         false,
         true,
         false,
         {},
         "swapfiles.exe 9 refused: its signature swapfiles.exe.minisig: HTTP 404"},
        {"checker unsigned",
         true,
         "9",
         true,
         Unsigned,
         Signed,
         false,
         false,
         false,
         {},
         "VerProbeV1.exe 9 refused: its signature VerProbeV1.exe.minisig: HTTP 404"},
        {"checker signed by another key",
         true,
         "9",
         true,
         Stranger,
         Signed,
         false,
         false,
         false,
         {},
         "VerProbeV1.exe 9 refused: signed by another key"},
        {"changer signed for another version",
         true,
         "9",
         true,
         Signed,
         OtherVersion,
         false,
         true,
         false,
         {},
         "swapfiles.exe 9 refused: signed as \"swapfiles.exe 8\", not \"swapfiles.exe 9\""},
        {"checker without end",
         true,
         "9",
         true,
         Endless,
         Signed,
         false,
         false,
         false,
         {},
         "VerProbeV1.exe 9 refused: the answer is larger than its bound of 67108864 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpServer::reset();
        boxes.texts.clear();
        for (const QString& name : files())
            QFile::remove(inFolder(name));
        if (c.localBuild7) {
            ASSERT_TRUE(QFile::copy(pe->path() + "/build7.exe", inFolder("VerProbeV1.exe")));
        }
        const QByteArray localChecker = readAll(inFolder("VerProbeV1.exe"));
        const QString version = QString::fromLatin1(c.remote).trimmed();
        if (!c.remote.isEmpty())
            HttpServer::serve(UpdateFolder + "VerProbeV1_lastver.txt", c.remote);
        const auto serve = [&](const QString& name, const QByteArray& body, Signing signing) {
            HttpServer::serve(UpdateFolder + name, body);
            const QString comment = name + " " + (signing == OtherVersion ? QString("8") : version);
            if (signing != Unsigned)
                HttpServer::serve(UpdateFolder + name + ".minisig",
                                  (signing == Stranger ? stranger : key).sign(body, comment));
            if (signing == Endless)
                HttpServer::serve(UpdateFolder + name + ".endless", "");
        };
        serve("VerProbeV1.exe", servedChecker, c.checker);
        if (c.changerServed)
            serve("swapfiles.exe", servedChanger, c.changer);

        EXPECT_EQ(modAutoUpdateV1_Launcher::AutoUpdaterSelfUpdate(HttpServer::host(), *trusted, InClear),
                  c.result);
        EXPECT_EQ(boxes.texts, c.boxes);
        EXPECT_EQ(readAll(inFolder("VerProbeV1.exe")), c.checkerReplaced ? servedChecker : localChecker);
        EXPECT_EQ(readAll(inFolder("swapfiles.exe")), c.changerReplaced ? servedChanger : QByteArray());
        QStringList expected;
        if (c.localBuild7 || c.checkerReplaced)
            expected << "VerProbeV1.exe";
        if (c.checkerReplaced)
            expected << "VerProbeV1.exe.minisig";
        if (c.changerReplaced)
            expected << "swapfiles.exe"
                     << "swapfiles.exe.minisig";
        expected.sort();
        const QStringList log = TestSupport::takeErrorLog();
        EXPECT_EQ(files(), expected) << "nothing unverified is left behind";
        if (c.checkerReplaced) {
            EXPECT_TRUE(QFileInfo(inFolder("VerProbeV1.exe")).isExecutable());
        }
        if (c.logged.isEmpty()) {
            EXPECT_TRUE(log.isEmpty()) << log.join("\n").toStdString();
        } else {
            ASSERT_EQ(log.size(), 1) << log.join("\n").toStdString();
            EXPECT_TRUE(log[0].startsWith("self-update: " + c.logged)) << log[0].toStdString();
        }
        const QStringList requests = HttpServer::takeRequests();
        ASSERT_FALSE(requests.isEmpty());
        EXPECT_EQ(requests.first(), "/" + UpdateFolder + "VerProbeV1_lastver.txt");
    }

    boxes.texts.clear();
    EXPECT_FALSE(modAutoUpdateV1_Launcher::AutoUpdaterSelfUpdate("127.0.0.1:1", *trusted, InClear));
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
        bool keyed = true;
    };
    const QString changerMissing =
        "파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n" + inFolder("swapfiles.exe");
    const Case cases[] = {
        {"program not under its own name", false, true, true, false, false, {}},
        {"no newer version", true, false, true, true, false, {}},
        {"newer version handed over", true, true, true, true, true, {}},
        {"file changer missing", true, true, false, true, true, {changerMissing}},
        {"no release key", true, true, true, false, false, {}, false},
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
        EXPECT_FALSE(modAutoUpdateV1_Launcher::RunAutoUpdate(
            true, HttpServer::host(), c.keyed ? key.publicKeyLine() : QString(), InClear, [&] { ++ended; }));
        const QStringList log = TestSupport::takeErrorLog();
        EXPECT_EQ(log, c.keyed
                           ? QStringList()
                           : QStringList{"self-update: nothing downloaded: no release key (deployment.ini "
                                         "UpdatePublicKey, or one built in)"});
        EXPECT_EQ(ended, c.ends ? 1 : 0);
        EXPECT_EQ(boxes.texts, c.boxes);
        EXPECT_EQ(readAll(inFolder("checker.log")),
                  c.checkerRuns
                      ? QString("%1;%2|%3\n").arg(Version::Revision).arg(exe, folder.path()).toUtf8()
                      : QByteArray());
        if (c.ends && c.changer) {
            // Started without waiting: its note comes a moment later.
            TestSupport::waitUntil([&] { return QFile::exists(inFolder("changer.log")); }, 2000, 10);
            EXPECT_EQ(readAll(inFolder("changer.log")), (exe + ";New_" + exe + "\n").toUtf8());
        }
    }
    // Nothing asked of the update server when the checker check is skipped.
    EXPECT_TRUE(HttpServer::takeRequests().isEmpty());
}

} // namespace
