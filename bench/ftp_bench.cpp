// FTP_2RemoveBatch renaming 1,000 files (500 in the download folder, 500 in versions) on a loopback pyftpdlib
// server, against Debian's lftp doing the same 1,000 renames in one session on the same server; in clear, and
// over explicit TLS (FtpTls=required against the TLS fixture's server, lftp with ftp:ssl-force and the same
// CA). The servers are the tests' FTP and TLS fixtures, started here (tests/integration/ftp/fixture.sh and
// tls/fixture.sh, found in the source tree or through ZEPJOB_FTP_FIXTURE_SCRIPT and
// ZEPJOB_TLS_FIXTURE_SCRIPT). The web database update that ends the job dials a closed port, so it fails at
// once; its message box goes to a recorder.
#include "BenchReport.h"
#include "JobContext.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "modJobFTP.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

namespace {

constexpr int FilesPerFolder = 500;
const QString Folders[] = {QStringLiteral("/public_html/download/"),
                           QStringLiteral("/public_html/download/versions/")};

QString fixtureScript(bool tls) {
    const QString configured =
        qEnvironmentVariable(tls ? "ZEPJOB_TLS_FIXTURE_SCRIPT" : "ZEPJOB_FTP_FIXTURE_SCRIPT");
    return !configured.isEmpty() ? configured
           : tls                 ? QStringLiteral(ZEPJOB_TLS_FIXTURE_SCRIPT)
                                 : QStringLiteral(ZEPJOB_FTP_FIXTURE_SCRIPT);
}

// The plain server and the TLS one: their fixture folders and ports.
QString fixtureFolder, tlsFolder;
quint16 ftpPort = 0, ftpsPort = 0, closedPort = 0;
bool tlsLink = false; // the link the benchmark running now uses

QString home() {
    return tlsLink ? tlsFolder + QStringLiteral("/peers/webhost")
                   : fixtureFolder + QStringLiteral("/webhost");
}
QString caFile() {
    return tlsFolder + QStringLiteral("/certs/ca.pem");
}

// deployment.ini for the link: its port, TLS with the fixture's CA or none.
bool configure(bool tls) {
    tlsLink = tls;
    QFile deployment(ProgramInfo::folder() + QStringLiteral("/deployment.ini"));
    QString text = QStringLiteral("[Deployment]\r\nFtpPort=%1\r\nMySqlPort=%2\r\n")
                       .arg(tls ? ftpsPort : ftpPort)
                       .arg(closedPort);
    if (tls)
        text += QStringLiteral("FtpTls=required\r\nTlsCaFile=") + caFile() + QStringLiteral("\r\n");
    return deployment.open(QIODevice::WriteOnly) && deployment.write(text.toUtf8()) > 0;
}

QString fileName(int i, bool renamed) {
    return QStringLiteral("pkg%1%2.bin").arg(i, 4, 10, QLatin1Char('0')).arg(renamed ? "" : "_2");
}

// 500 "_2" files in each folder, and nothing else.
bool prepareFiles() {
    for (const QString& folder : Folders) {
        QDir dir(home() + folder);
        for (const QString& name : dir.entryList(QDir::Files))
            dir.remove(name);
        for (int i = 0; i < FilesPerFolder; ++i) {
            QFile file(dir.filePath(fileName(i, false)));
            if (!file.open(QIODevice::WriteOnly))
                return false;
        }
    }
    return true;
}

bool allRenamed() {
    for (const QString& folder : Folders)
        for (int i = 0; i < FilesPerFolder; ++i)
            if (!QFile::exists(home() + folder + fileName(i, true)))
                return false;
    return true;
}

class FixedClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

void removeBatch(benchmark::State& state, bool tls) {
    if (!configure(tls)) {
        state.SkipWithError("cannot write deployment.ini");
        return;
    }
    FixedClock clock;
    const QString host = QStringLiteral("127.0.0.1");
    const JobContext context{clock, host, host, host, host, host, Deployment::load(ProgramInfo::folder())};
    MessageBoxRecorder boxes;
    for (auto _ : state) {
        state.PauseTiming();
        if (!prepareFiles()) {
            state.SkipWithError("cannot create the files");
            return;
        }
        state.ResumeTiming();
        QString report;
        const bool ok = modJobFTP::FTP_2RemoveBatch(report, context);
        state.PauseTiming();
        // The counts, then the line of the web database update, which dials a closed port.
        if (!ok || !report.contains(QStringLiteral("\r\n처리완료:1000, 처리실패:0\r\n웹DB 갱신실패! ")) ||
            !allRenamed()) {
            state.SkipWithError("the batch did not rename every file");
            return;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * FilesPerFolder);
}

void lftpOneSession(benchmark::State& state, bool tls) {
    tlsLink = tls;
    QTemporaryDir scratch;
    const QString script = scratch.filePath(QStringLiteral("renames.lftp"));
    {
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot write the lftp script");
            return;
        }
        QByteArray text = tls ? "set ftp:ssl-force true\nset ftp:ssl-protect-data true\n"
                                "set ssl:verify-certificate yes\nset ssl:ca-file " +
                                    caFile().toUtf8() + "\n"
                              : QByteArray("set ftp:ssl-allow no\n");
        text += "set ftp:passive-mode on\nset cmd:fail-exit yes\n"
                "set net:max-retries 1\nopen -u \"qzc1,qrw4#KLBcvx2\" -p " +
                QByteArray::number(tls ? ftpsPort : ftpPort) + " 127.0.0.1\n";
        for (const QString& folder : Folders)
            for (int i = 0; i < FilesPerFolder; ++i)
                text += "mv " + (folder + fileName(i, false)).toUtf8() + ' ' +
                        (folder + fileName(i, true)).toUtf8() + '\n';
        file.write(text + "quit\n");
    }
    for (auto _ : state) {
        state.PauseTiming();
        if (!prepareFiles()) {
            state.SkipWithError("cannot create the files");
            return;
        }
        state.ResumeTiming();
        const int exitCode = QProcess::execute(QStringLiteral("lftp"), {QStringLiteral("-f"), script});
        state.PauseTiming();
        if (exitCode != 0 || !allRenamed()) {
            state.SkipWithError("lftp did not rename every file");
            return;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * FilesPerFolder);
}

void BM_FTP_2RemoveBatch(benchmark::State& state) {
    removeBatch(state, false);
}
void BM_LftpOneSession(benchmark::State& state) {
    lftpOneSession(state, false);
}
void BM_FTP_2RemoveBatch_Tls(benchmark::State& state) {
    removeBatch(state, true);
}
void BM_LftpOneSession_Tls(benchmark::State& state) {
    lftpOneSession(state, true);
}

BENCHMARK(BM_FTP_2RemoveBatch)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_LftpOneSession)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_FTP_2RemoveBatch_Tls)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_LftpOneSession_Tls)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

bool runFixture(const char* action, bool tls) {
    return QProcess::execute(fixtureScript(tls),
                             {QString::fromLatin1(action), tls ? tlsFolder : fixtureFolder}) == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);

    QTemporaryDir folder;
    fixtureFolder = folder.filePath(QStringLiteral("ftp-fixture"));
    tlsFolder = folder.filePath(QStringLiteral("tls-fixture"));
    for (const bool tls : {false, true})
        if (!runFixture("start", tls)) {
            std::fprintf(stderr, "ftp_bench: cannot start the FTP server with %s\n",
                         qPrintable(fixtureScript(tls)));
            runFixture("stop", false);
            return 1;
        }
    QFile portFile(fixtureFolder + QStringLiteral("/port"));
    ftpPort = portFile.open(QIODevice::ReadOnly) ? quint16(portFile.readAll().trimmed().toUInt()) : 0;
    // The TLS fixture's first server is its explicit-TLS FTP server.
    QFile tlsPortFile(tlsFolder + QStringLiteral("/peers/port"));
    ftpsPort = tlsPortFile.open(QIODevice::ReadOnly) ? quint16(tlsPortFile.readAll().trimmed().toUInt()) : 0;

    // A port nobody listens on, for the database update.
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        closedPort = probe.serverPort();
    }
    ProgramInfo::setFolder(folder.path());
    QFile setup(folder.filePath(QStringLiteral("setup.ini")));
    const bool configured = ftpPort != 0 && ftpsPort != 0 && setup.open(QIODevice::WriteOnly) &&
                            setup.write("[General]\r\nFTP_PASV=1\r\n") > 0;
    setup.close();

    KeepingReporter reporter;
    if (configured)
        runInRounds(argc, argv, reporter);
    runFixture("stop", false);
    runFixture("stop", true);
    if (!configured)
        return 1;

    bool met = true;
    for (const char* link : {"", "_Tls"}) {
        const Figure ours = reporter.figure(std::string("BM_FTP_2RemoveBatch") + link),
                     lftp = reporter.figure(std::string("BM_LftpOneSession") + link);
        if (ours.value == 0 || lftp.value == 0)
            continue; // a filtered run: no summary
        const char* words = *link ? "over TLS" : "in clear";
        std::printf("\n1,000 renames over loopback %s (medians): FTP_2RemoveBatch %.1f ms, lftp %.1f ms\n",
                    words, ours.value / 1e6, lftp.value / 1e6);
        // Both sides wait for the same single-threaded Python server, one RNFR/RNTO pair per file in one
        // session: its turnaround bounds both, so the target is parity within a margin, not a win.
        const std::string what =
            std::string("FTP_2RemoveBatch / lftp, 1,000 renames in one session ") + words;
        met = verdict(what.c_str(), ours / lftp, "x", "<=", 1.0, 0.15) && met;
    }
    return met ? 0 : 1;
}
