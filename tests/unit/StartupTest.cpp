#include "TestSupport.h"
#include "VbError.h"
#include "modMain.h"

#include <gtest/gtest.h>

namespace {

TEST(StartupTest, MessengerHostFromTheCommandLine) {
    modMain::AddrMessenger = QStringLiteral("127.0.0.9");
    const std::pair<QString, QString> cases[] = {
        {"", "127.0.0.9"},
        {"#", "127.0.0.9"},
        {"#127.0.0.5 anything", "127.0.0.9"},
        {"127.0.0.5", "127.0.0.5"},
        {" 127.0.0.5", " 127.0.0.5"}, // a leading blank stays: the text is the host, unchanged
        {"messenger.local # note", "messenger.local # note"},
    };
    for (const auto& [commandLine, host] : cases)
        EXPECT_EQ(modMain::ChooseServerAddress(commandLine), host) << commandLine.toStdString();
}

TEST(StartupTest, EndpointsFromTheDirectoryWithDefaultsFillingTheGaps) {
    TestSupport::takeErrorLog();
    Deployment defaults = Deployment::defaults();
    defaults.AddrMasterServer = "127.0.1.1";
    defaults.AddrWebLogin = "127.0.1.2";
    defaults.AddrAutoUpdate = "127.0.1.3";
    defaults.AddrBackupFtp = "127.0.1.4";
    defaults.AddrMessenger = "127.0.1.5";

    QStringList asked;
    modMain::ResolveEndpoints(
        [&](const QString& entry) -> QString {
            asked << entry;
            if (entry == QStringLiteral("토박마스터서버"))
                return QStringLiteral("127.0.2.1");
            if (entry == QStringLiteral("자동업데이트_런처"))
                throw VbError(13, QStringLiteral("Json"), QStringLiteral("Type mismatch"));
            if (entry == QStringLiteral("사내메신저소켓"))
                return QStringLiteral("127.0.2.5");
            return QString();
        },
        defaults, false);

    EXPECT_EQ(asked, QStringList({"토박마스터서버", "토박소프트_웹_로그인", "자동업데이트_런처",
                                  "작업서버_DB백업_FTP", "사내메신저소켓"}));
    EXPECT_EQ(modMain::AddrMasterServer, QStringLiteral("127.0.2.1"));
    EXPECT_EQ(modMain::AddrWebLogin, QStringLiteral("127.0.1.2"));
    EXPECT_EQ(modMain::AddrAutoUpdate, QStringLiteral("127.0.1.3"));
    EXPECT_EQ(modMain::AddrBackupFtp, QStringLiteral("127.0.1.4"));
    EXPECT_EQ(modMain::AddrMessenger, QStringLiteral("127.0.2.5"));
    EXPECT_EQ(TestSupport::takeErrorLog(),
              QStringList({"Error 13 (Type mismatch) in procedure Main of Module modMain"}));

    // No directory at all: every default.
    modMain::ResolveEndpoints([](const QString&) { return QString(); }, defaults, false);
    EXPECT_EQ(modMain::AddrMasterServer, QStringLiteral("127.0.1.1"));
    EXPECT_EQ(modMain::AddrMessenger, QStringLiteral("127.0.1.5"));
}

} // namespace
