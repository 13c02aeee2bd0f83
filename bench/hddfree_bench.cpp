// The disk-space report over 10,000 drive rows (2,500 servers x 4 drives of yesterday, as many of the day
// before to be left out), against the mariadb command-line client running the same query on the same server
// and printing its rows. The server is the test fixture's MariaDB, started with jobs.sql; its folder comes in
// ZEPJOB_MARIADB (scripts/bench.sh starts one).
#include "BenchReport.h"
#include "MariaDbFixture.h"
#include "ProgramInfo.h"
#include "modJobMain.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <mysql.h>

namespace {

constexpr int Servers = 2'500;
constexpr int DrivesPerServer = 4;
const char* const Query = "select m.svrip, t.drvname, t.freesize, t.diffsize from `hddfree_m` m inner join "
                          "`hddfree_t` t on m.mseq=t.mseq where m.log_date = '2026-03-09' order by m.svrip, "
                          "t.drvname";

class FixedClock : public Clock {
public:
    QDateTime now() const override { return QDateTime(QDate(2026, 3, 10), QTime(9, 5)); }
};

using MariaDbFixture::port;

bool prepareRows() {
    MYSQL mysql;
    mysql_init(&mysql);
    const QByteArray socket = (MariaDbFixture::folder() + "/mysqld.sock").toLocal8Bit();
    const char* const statements[] = {
        "DELETE FROM hddfree_t",
        "DELETE FROM hddfree_m",
        "INSERT INTO hddfree_m SELECT seq, CONCAT('10.', seq DIV 256, '.', seq MOD 256, '.1'), '2026-03-09' "
        "FROM seq_1_to_2500",
        "INSERT INTO hddfree_m SELECT seq + 2500, CONCAT('10.', seq DIV 256, '.', seq MOD 256, '.1'), "
        "'2026-03-08' FROM seq_1_to_2500",
        "INSERT INTO hddfree_t SELECT m.seq, CONCAT(CHAR(66 + d.seq), ':'), "
        "(m.seq * 7919 + d.seq * 104729) MOD 2000000, CAST((m.seq * 31 + d.seq * 17) MOD 3000 AS SIGNED) - "
        "100 "
        "FROM seq_1_to_5000 m JOIN seq_1_to_4 d",
    };
    bool ok = mysql_real_connect(&mysql, nullptr, "root", nullptr, "qz_logs", 0, socket.constData(), 0);
    for (const char* sql : statements)
        ok = ok && mysql_query(&mysql, sql) == 0;
    if (!ok)
        std::fprintf(stderr, "hddfree_bench: %s\n", mysql_error(&mysql));
    mysql_close(&mysql);
    return ok;
}

void BM_MariadbClient(benchmark::State& state) {
    const QString program = QStandardPaths::findExecutable("mariadb");
    const QStringList arguments = {
        "--no-defaults", "-h127.0.0.1", "-P" + QString::fromLatin1(port()), "-uqz_logs_read", "-ppomel3526",
        "qz_logs",       "-e",          QString::fromLatin1(Query)};
    for (auto _ : state) {
        QProcess client;
        client.start(program, arguments);
        client.waitForFinished(-1);
        const QByteArray output = client.readAllStandardOutput();
        // A header line and one line per drive.
        if (client.exitCode() != 0 || output.count('\n') != 1 + Servers * DrivesPerServer)
            state.SkipWithError("the client did not list every row");
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations() * Servers * DrivesPerServer);
}

void BM_ServersHDDFreeCheck(benchmark::State& state) {
    const FixedClock clock;
    const JobContext context{clock, "127.0.0.1", {}, {}, {}, {}, Deployment::load(ProgramInfo::folder())};
    for (auto _ : state) {
        const QString report = modJobMain::ServersHDDFreeCheck(context);
        // Summary (7 lines), table header (3), per server its address and drives, a blank line between
        // servers.
        if (report.count(QStringLiteral("\r\n")) != 7 + 2 + Servers * (2 + DrivesPerServer) - 1)
            state.SkipWithError("the report does not list every drive");
        benchmark::DoNotOptimize(report.constData());
    }
    state.SetItemsProcessed(state.iterations() * Servers * DrivesPerServer);
}

BENCHMARK(BM_MariadbClient)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ServersHDDFreeCheck)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    if (!MariaDbFixture::useAsProgramFolder(folder, "hddfree_bench"))
        return 1;
    if (!prepareRows())
        return 1;

    KeepingReporter reporter;
    runInRounds(argc, argv, reporter);

    const Figure client = reporter.figure("BM_MariadbClient"),
                 ours = reporter.figure("BM_ServersHDDFreeCheck");
    if (client.value == 0 || ours.value == 0)
        return 0; // a filtered run: no summary
    std::printf("\n10,000 drive rows over loopback (medians): report %.1f ms, mariadb client %.1f ms\n",
                ours.value / 1e6, client.value / 1e6);
    const bool met = verdict("disk-space report / mariadb client, same query", ours / client, "x", "<=", 2.0);
    return met ? 0 : 1;
}
