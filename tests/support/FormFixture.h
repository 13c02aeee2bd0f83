#pragma once

// What the tests of the window model share: a program folder of its own, the endpoints on the test's own
// addresses, a fresh session, the server's acceptance of the bot's login, and the login itself.

#include "MessengerPeer.h"
#include "ProgramInfo.h"
#include "TestSupport.h"
#include "UserRecords.h"
#include "frmMain.h"
#include "modMain.h"
#include "modZEPProtocol.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace FormSetup {

constexpr int Bot = 123;
// The server's answer to the bot's login: accepted, the bot in 기술개발팀.
inline const QString Accepted = QStringLiteral("1\t") + userRecord(Bot, 3, "잡서버", 1);

// The program runs from `folder` and reaches the messenger at `messenger`, its other servers on loopback,
// with no user id and no half packet left from an earlier test.
inline void resetProgram(const QString& folder, const QString& messenger = QStringLiteral("127.0.0.1")) {
    ProgramInfo::setFolder(folder);
    modMain::ServerAddress = messenger;
    modMain::AddrMasterServer = modMain::AddrWebLogin = QStringLiteral("127.0.0.1");
    modMain::MyUserId = 0;
    modZEPProtocol::ClearRecvBuffer(0);
}

// deployment.ini of `folder`: its section with `lines`.
inline void writeDeployment(const QString& folder, const QByteArray& lines) {
    TestSupport::writeFile(folder + QStringLiteral("/deployment.ini"), "[Deployment]\r\n" + lines);
}

// The peer accepts the login it has taken and sends `list`; the bot answers the list with its version.
inline void acceptLogin(MessengerPeer& peer, const QString& list) {
    peer.send(50, Accepted);
    peer.send(51, list);
    ASSERT_TRUE(peer.take(10));
}

// Loads the window and takes it through login and user list.
inline void logIn(frmMain& form, MessengerPeer& peer, const QString& list) {
    form.Form_Load();
    ASSERT_TRUE(peer.take(50));
    acceptLogin(peer, list);
}

} // namespace FormSetup

// A program folder, a loopback peer and a fresh session for each test of the window model.
class FormFixture : public ::testing::Test {
protected:
    void SetUp() override { FormSetup::resetProgram(folder.path()); }

    // Timers short enough for a test; the schedule keeps its minute unless given.
    static frmMain::Intervals fast(int schedule = FormIntervals().schedule) {
        return {.logoutSensor = 400, .autoLogin = 300, .schedule = schedule, .work = 200};
    }

    QTemporaryDir folder;
    MessengerPeer peer;
};
