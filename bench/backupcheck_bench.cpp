// The daily backup check (DB_BackupCheck) against Debian's pure-ftpd, whose passive replies used to leave
// libcurl asleep for a second before the data connection: two server lists of ten servers each, and today's
// folder of each kind, in one session. Over TLS (FtpTls=required, the log-in and the listings
// protected) against the same check in clear on the same server; the TLS handshakes of the data connections
// are the only difference, so the target is at most twice the clear run. The server is started here with
// bench/pureftpd.sh (or ZEPJOB_PUREFTPD_SCRIPT), whose binary scripts/setup.sh extracts.
#include "BenchReport.h"
#include "JobContext.h"
#include "ProgramInfo.h"
#include "modJobFTP.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

constexpr int ServersPerKind = 10;
QString serverFolder;
quint16 clearPort = 0, tlsPort = 0;

class FixedClock : public Clock {
public:
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 9), QTime(11, 0)); }
};

QString script() {
    const QString configured = qEnvironmentVariable("ZEPJOB_PUREFTPD_SCRIPT");
    return configured.isEmpty() ? QStringLiteral(ZEPJOB_PUREFTPD_SCRIPT) : configured;
}

quint16 portIn(const char* name) {
    QFile file(serverFolder + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? quint16(file.readAll().trimmed().toUInt()) : 0;
}

// Both kinds' server lists, and today's backup of every server.
bool layOut() {
    const QString home = serverFolder + QStringLiteral("/backup");
    for (const char* kind : {"csdb", "pvdb"}) {
        const QString servers = home + QStringLiteral("/%1_backup/servers").arg(kind);
        const QString daily = home + QStringLiteral("/%1_backup_new/daily/2026-12-09").arg(kind);
        if (!QDir().mkpath(servers) || !QDir().mkpath(daily))
            return false;
        for (int i = 0; i < ServersPerKind; ++i) {
            QFile server(servers + QStringLiteral("/%1%2").arg(kind).arg(i));
            QFile backup(daily + QStringLiteral("/(%1%2)_1209_0300.bak").arg(kind).arg(i));
            if (!server.open(QIODevice::WriteOnly) || !backup.open(QIODevice::WriteOnly))
                return false;
        }
    }
    return true;
}

void backupCheck(benchmark::State& state, bool tls) {
    QFile deployment(ProgramInfo::folder() + QStringLiteral("/deployment.ini"));
    QString text = QStringLiteral("[Deployment]\r\nFtpPort=%1\r\n").arg(tls ? tlsPort : clearPort);
    if (tls)
        text += QStringLiteral("FtpTls=required\r\nTlsCaFile=%1/ca.pem\r\n").arg(serverFolder);
    if (!deployment.open(QIODevice::WriteOnly) || deployment.write(text.toUtf8()) <= 0) {
        state.SkipWithError("cannot write deployment.ini");
        return;
    }
    deployment.close();
    FixedClock clock;
    const QString host = QStringLiteral("127.0.0.1");
    const JobContext context{clock, host, host, host, host, host, Deployment::load(ProgramInfo::folder())};
    const QString expected = QStringLiteral("결과: %1건 모두 정상입니다.").arg(2 * ServersPerKind);
    for (auto _ : state) {
        QString report;
        if (!modJobFTP::DB_BackupCheck(report, context) || !report.endsWith(expected)) {
            state.SkipWithError(("the check did not find every backup: " + report.toStdString()).c_str());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * 2 * ServersPerKind); // servers checked
}

void BM_BackupCheck(benchmark::State& state) {
    backupCheck(state, false);
}
void BM_BackupCheck_Tls(benchmark::State& state) {
    backupCheck(state, true);
}
BENCHMARK(BM_BackupCheck)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_BackupCheck_Tls)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    serverFolder = folder.filePath(QStringLiteral("pure-ftpd"));
    const auto server = [](const char* action) {
        return QProcess::execute(script(), {QString::fromLatin1(action), serverFolder}) == 0;
    };
    if (!server("start")) {
        std::fprintf(stderr, "backupcheck_bench: cannot start pure-ftpd with %s\n", qPrintable(script()));
        return 1;
    }
    clearPort = portIn("port");
    tlsPort = portIn("tlsport");
    ProgramInfo::setFolder(folder.path());
    QFile setup(folder.filePath(QStringLiteral("setup.ini")));
    // Passive in clear as well (over TLS it always is): the runs differ in TLS alone, and the clear one would
    // show the pause after a passive reply too.
    const bool ready = clearPort != 0 && tlsPort != 0 && layOut() && setup.open(QIODevice::WriteOnly) &&
                       setup.write("[General]\r\nFTP_PASV=1\r\n") > 0;
    setup.close();
    KeepingReporter reporter;
    if (ready)
        runInRounds(argc, argv, reporter);
    server("stop");
    if (!ready)
        return 1;

    const Figure clear = reporter.figure("BM_BackupCheck"), tls = reporter.figure("BM_BackupCheck_Tls");
    if (clear.value == 0 || tls.value == 0)
        return 0; // a filtered run: no summary
    std::printf("\nDB_BackupCheck, 20 servers of two kinds against pure-ftpd (medians): in clear %.1f ms +- "
                "%.1f %%, over TLS "
                "%.1f ms +- %.1f %%\n",
                clear.value / 1e6, clear.spread * 100, tls.value / 1e6, tls.spread * 100);
    return verdict("DB_BackupCheck over TLS / in clear, pure-ftpd", tls / clear, "x", "<=", 2.0) ? 0 : 1;
}
