#include "FtpClient.h"

#include "FtpServer.h"
#include "QStringPrinter.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace {

const QString Host = QStringLiteral("127.0.0.1");
const QString User = QStringLiteral("qzc1");
const QString Password = QStringLiteral("qrw4#KLBcvx2");

class FtpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(FtpServer::port(), 0) << "no FTP fixture in " << FtpServer::folder().toStdString();
        FtpServer::reset();
    }
    void TearDown() override { FtpServer::reset(); }
};

TEST_F(FtpClientTest, ListsAndRenamesInCp949OnOneSession) {
    const QString download = FtpServer::webHome() + QStringLiteral("/public_html/download/");
    FtpServer::createFile(download + QStringLiteral("새버전_2.exe"));
    FtpServer::createFile(download + QStringLiteral("a b_2.exe"));

    FtpClient ftp;
    ASSERT_TRUE(ftp.open(Host, User, Password, FtpServer::port(), true)) << ftp.lastError().toStdString();
    EXPECT_EQ(ftp.listNames(QStringLiteral("/public_html/download")),
              QStringList(
                  {QStringLiteral("a b_2.exe"), QStringLiteral("versions"), QStringLiteral("새버전_2.exe")}));
    EXPECT_EQ(ftp.listNames(QStringLiteral("/public_html/nowhere/")), std::nullopt);

    EXPECT_TRUE(ftp.rename(QStringLiteral("/public_html/download/새버전_2.exe"),
                           QStringLiteral("/public_html/download/새버전.exe")));
    EXPECT_FALSE(ftp.rename(QStringLiteral("/public_html/download/missing_2.exe"),
                            QStringLiteral("/public_html/download/missing.exe")));
    EXPECT_FALSE(ftp.rename(QStringLiteral("/public_html/download/a b_2.exe"),
                            QStringLiteral("/public_html/download/x\r\nDELE a b_2.exe")));
    // A refusal does not end the session.
    EXPECT_TRUE(ftp.rename(QStringLiteral("public_html/download/a b_2.exe"),
                           QStringLiteral("public_html/download/a b.exe")));
    EXPECT_EQ(FtpServer::names(download), QStringList({QStringLiteral("a b.exe"), QStringLiteral("versions/"),
                                                       QStringLiteral("새버전.exe")}));

    ftp.close();
    EXPECT_EQ(ftp.listNames(QStringLiteral("/")), std::nullopt);
    EXPECT_FALSE(ftp.open(Host, User, QStringLiteral("wrong"), FtpServer::port(), true));
}

TEST_F(FtpClientTest, ServerThatStopsAnsweringEndsTheCall) {
    const FtpClient::Timeouts quick{std::chrono::milliseconds(500), std::chrono::milliseconds(1000),
                                    std::chrono::milliseconds(1000)};
    QElapsedTimer clock;

    // Accepts connections (the kernel does, in the backlog) and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    FtpClient mute(quick);
    clock.start();
    EXPECT_FALSE(mute.open(Host, User, Password, silent.serverPort(), true));
    EXPECT_LT(clock.elapsed(), 3000);

    // Logs in, then never answers a listing.
    FtpClient stalled(quick);
    ASSERT_TRUE(stalled.open(Host, User, Password, FtpServer::port(), true));
    clock.start();
    EXPECT_EQ(stalled.listNames(QStringLiteral("/stall/")), std::nullopt);
    EXPECT_LT(clock.elapsed(), 4000);
}

} // namespace
