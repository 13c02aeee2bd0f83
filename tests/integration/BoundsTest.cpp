#include "FormFixture.h"
#include "FtpClient.h"
#include "FtpServer.h"
#include "HttpServer.h"
#include "JobCatalogue.h"
#include "MariaDbServer.h"
#include "MessageBoxRecorder.h"
#include "ProcessFigures.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "TestSupport.h"
#include "modAutoUpdateV1_Download.h"
#include "modJobFTP.h"
#include "modServerAddressUtil.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

// Peers that never stop sending: every job ends within its bound with its failure report, the error log names
// the bound, and the bot's memory stays far below the service's MemoryMax=.
namespace {

using TestSupport::writeFile;

const QString Host = QStringLiteral("127.0.0.1");
// The unit's MemoryMax=, in kB.
constexpr long MemoryMaxKb = 256 * 1024;
// What a hostile peer may make the bot hold at its peak, in kB.
constexpr long HostilePeakKb = 64 * 1024;

TEST(BoundsTest, NoPeerOutgrowsItsBound) {
    ASSERT_NE(FtpServer::port(), 0);
    ASSERT_FALSE(HttpServer::port().isEmpty());
    ASSERT_NE(MariaDbServer::port(), 0);
    QTemporaryDir folder;
    ProgramInfo::setFolder(folder.path());
    writeFile(folder.path() + QStringLiteral("/deployment.ini"),
              QStringLiteral("[Deployment]\r\nDirectoryServer=%1\r\nFtpPort=%2\r\nMySqlPort=%3\r\n")
                  .arg(HttpServer::host())
                  .arg(FtpServer::port())
                  .arg(MariaDbServer::port())
                  .toLatin1());
    writeFile(folder.path() + QStringLiteral("/setup.ini"), "[General]\r\nFTP_PASV=1\r\n");
    HttpServer::reset();
    FtpServer::reset();
    MessageBoxRecorder boxes;
    MariaDbServer::Admin admin;
    ASSERT_TRUE(admin.connected());
    const TestSupport::FixedClock clock(QDateTime(QDate(2026, 3, 10), QTime(9, 5)));
    const JobContext context{clock, Host, Host, Host, Host, Host, Deployment::load(folder.path())};
    const auto directory = modServerAddressUtil::DirectoryServer::of(context.settings);
    // The report of one job of the catalogue, run against this folder's servers.
    const auto reportOf = [&context](JobCatalogue::JobId id) {
        return [&context, id] { return JobCatalogue::job(id).run(context).report; };
    };

    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::function<QString()> run; // the job's report, or what stands for it
        QString report;
        QString logged; // in the error log
        int seconds;    // it ends within this
        std::function<void()> finish = {};
        bool peakBounded = false; // the peak of resident memory stays under HostilePeakKb
    };
    const QString removalTitle = QStringLiteral("[FTP의 _2제거 일괄작업 처리결과]\r\n\r\n");
    const QString backupTitle = QStringLiteral("< DB 백업결과 보고서 >\r\n\r\n");
    const QString names = QStringLiteral("has more than its bound of 100000 names");
    const QString longName = QStringLiteral("has more than its bound of 8388608 bytes");
    // The disk-space job reads hddfree_t as a view of `select`, with one master row, while a case runs.
    const auto viewHddfree = [&admin](const char* select) {
        admin.setRows(QStringLiteral("qz_logs.hddfree_m"), {});
        admin.exec(QStringLiteral("RENAME TABLE qz_logs.hddfree_t TO qz_logs.hddfree_t_kept"));
        admin.exec(QStringLiteral("CREATE VIEW qz_logs.hddfree_t AS ") + QLatin1String(select));
        admin.exec(QStringLiteral("INSERT INTO qz_logs.hddfree_m VALUES (1, '127.0.0.1', '2026-03-09')"));
    };
    const auto keepHddfree = [&admin] {
        admin.exec(QStringLiteral("DROP VIEW qz_logs.hddfree_t"));
        admin.exec(QStringLiteral("RENAME TABLE qz_logs.hddfree_t_kept TO qz_logs.hddfree_t"));
        admin.setRows(QStringLiteral("qz_logs.hddfree_m"), {});
    };
    QString maxAllowedPacket;
    const QList<Case> cases = {
        {"one endless name",
         [] {
             FtpServer::createFile(FtpServer::backupHome() + QStringLiteral("/csdb_backup/servers/endless"));
         },
         reportOf(JobCatalogue::JobId::DbBackup),
         backupTitle + QStringLiteral("Error 7 (the listing of /csdb_backup/servers/ ") + longName +
             QStringLiteral(") in procedure DB_BackupCheck of Module modFTPJob"),
         longName,
         30,
         {},
         true},
        {"a cell of 400 MB",
         [&] {
             maxAllowedPacket = admin.exec(QStringLiteral("SELECT @@GLOBAL.max_allowed_packet"));
             // The server may send it: only the bot's own bound stands in the way.
             admin.exec(QStringLiteral("SET GLOBAL max_allowed_packet = 1073741824"));
             viewHddfree("SELECT 1 AS mseq, 'D:' AS drvname, REPEAT('5', 400 * 1024 * 1024) AS freesize, "
                         "'0' AS diffsize");
         },
         reportOf(JobCatalogue::JobId::DiskSpace),
         QStringLiteral("하드   잔량    감소 Days 결과\r\n-----------------------------\r\nError 91 (Object "
                        "variable or With block variable not set) in procedure ServersHDDFreeCheck of Module "
                        "modJobMain"),
         QStringLiteral("a row of more than its bound of 16777216 bytes ends it so"), 30,
         [&] {
             keepHddfree();
             admin.exec(QStringLiteral("SET GLOBAL max_allowed_packet = ") + maxAllowedPacket);
         },
         true},
        {"a messenger server that never reads while it sends chat lines of 1 MiB",
         [] {},
         [&] {
             FormSetup::resetProgram(folder.path());
             MessengerPeer peer;
             frmMain form(peer.port(), {.autoLogin = 300});
             const QString users = userList({userRecord(17, 1, "김민준", 1)});
             FormSetup::logIn(form, peer, users);
             const auto line = [](int size) {
                 return TestSupport::frame(1, QStringLiteral("17;123"), QString(size, u'x'));
             };
             peer.floodWithoutReading(line(1 << 20), 400);
             // The echoes of those fit into the system's buffers; more lines, until the bot has had enough.
             peer.floodWithoutReading(line(16 << 10), 20000);
             // Closed by the bot once its bound was passed, and made again.
             const bool again = peer.take(50, 10000).has_value();
             if (again)
                 FormSetup::acceptLogin(peer, users);
             return QStringLiteral("%1 connections, logged in again: %2").arg(peer.connections).arg(again);
         },
         QStringLiteral("2 connections, logged in again: 1"),
         QStringLiteral("more than its bound of 524288 bytes; the connection is closed and made again"),
         60,
         {},
         true},
        {"a directory answer that never ends",
         [] { HttpServer::serve(QStringLiteral("serverinfo/server-address-checker.php.endless"), {}); },
         [&] { return QString::number(modServerAddressUtil::RefreshServerDirectory(QString(), directory)); },
         QStringLiteral("0"), QStringLiteral("the answer is larger than its bound of 65536 bytes"), 5},
        {"a directory answer that trickles for ever",
         [] { HttpServer::serve(QStringLiteral("serverinfo/server-address-checker.php.trickle"), {}); },
         [&] {
             HttpClient::Options options;
             options.totalTimeoutMs = 1500;
             return modServerAddressUtil::AskServerDirectory(QString(), directory, options).response.bound;
         },
         QStringLiteral("the exchange took longer than its bound of 1.5 s"), QString(), 5},
        {"a download that never ends",
         [] {
             HttpServer::serve(QStringLiteral("endless.exe.endless"), {});
             HttpServer::serve(QStringLiteral("endless.exe.minisig"), "untrusted comment: any\n");
         },
         [&] {
             // Taken in memory up to its bound and refused there, before any signature is looked at.
             const modAutoUpdateV1_Download::Release release = modAutoUpdateV1_Download::FetchRelease(
                 QStringLiteral("http://%1/").arg(HttpServer::host()), QStringLiteral("endless.exe"),
                 QStringLiteral("1"), ReleaseSignature::PublicKey{QByteArray(8, 'k'), QByteArray(32, 'k')},
                 Tls::Policy{});
             return QString::number(release.body.has_value()) + QLatin1Char(' ') + release.problem;
         },
         QStringLiteral("0 the answer is larger than its bound of 67108864 bytes"), QString(), 30},
        {"a server list of a million names",
         [] {
             FtpServer::createFile(FtpServer::backupHome() + QStringLiteral("/csdb_backup/servers/million"));
         },
         reportOf(JobCatalogue::JobId::DbBackup),
         backupTitle + QStringLiteral("Error 7 (the listing of /csdb_backup/servers/ ") + names +
             QStringLiteral(") in procedure DB_BackupCheck of Module modFTPJob"),
         names, 30},
        {"a download folder of a million names",
         [] {
             FtpServer::createFile(FtpServer::webHome() + QStringLiteral("/public_html/download/million"));
         },
         reportOf(JobCatalogue::JobId::Remove2),
         removalTitle + QStringLiteral("Error 7 (the listing of /public_html/download/ ") + names +
             QStringLiteral(") in procedure FTP_2RemoveBatch of Module modJobFTP"),
         names, 30},
        {"a listing that trickles for ever", [] {},
         [] {
             const std::chrono::milliseconds bound(1500);
             FtpClient client(FtpClient::Timeouts{bound, bound, bound, bound});
             if (!client.open(Host, QStringLiteral("qzc1"), QStringLiteral("qrw4#KLBcvx2"), FtpServer::port(),
                              true))
                 return client.lastError();
             const bool listed = client.listNames(QStringLiteral("/trickle/")).has_value();
             return QString::number(listed) + QString::number(client.lastWasBound()) +
                    client.lastError().left(48);
         },
         QStringLiteral("01the exchange took longer than its bound of 1.5 s"), QString(), 5},
        {"ten million rows",
         [&] {
             viewHddfree("SELECT 1 AS mseq, 'D:' AS drvname, '5000' AS freesize, '0' AS diffsize FROM "
                         "qz_logs.seq_1_to_10000000");
         },
         reportOf(JobCatalogue::JobId::DiskSpace),
         QStringLiteral("하드   잔량    감소 Days 결과\r\n-----------------------------\r\nError 91 (Object "
                        "variable or With block variable not set) in procedure ServersHDDFreeCheck of Module "
                        "modJobMain"),
         QStringLiteral("the result has more than its bound of 200000 rows"), 30, keepHddfree},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(folder.path() + QStringLiteral("/ErrorLog.txt"));
        c.prepare();
        const bool peakMeasured = ProcessFigures::MemoryIsMeasurable && ProcessFigures::resetPeak();
        QElapsedTimer took;
        took.start();
        EXPECT_EQ(c.run(), c.report);
        EXPECT_LT(took.elapsed(), c.seconds * 1000);
        std::printf("%s: %lld ms, %ld kB resident, %ld kB at the peak\n", c.name, took.elapsed(),
                    ProcessFigures::residentKb(), ProcessFigures::peakResidentKb());
        if (c.peakBounded && peakMeasured) {
            EXPECT_LT(ProcessFigures::peakResidentKb(), HostilePeakKb);
        }
        if (c.finish)
            c.finish();
        const QString log = TestSupport::readCp949(folder.path() + QStringLiteral("/ErrorLog.txt"));
        EXPECT_TRUE(log.contains(c.logged)) << log.toStdString();
        if (ProcessFigures::MemoryIsMeasurable) {
            EXPECT_LT(ProcessFigures::residentKb(), MemoryMaxKb);
        }
        HttpServer::reset();
        FtpServer::reset();
    }
    modJobFTP::FTP_Close();
}

} // namespace
