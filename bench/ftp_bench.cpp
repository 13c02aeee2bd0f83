// FTP_2RemoveBatch renaming 1,000 files (500 in the download folder, 500 in versions) on a loopback pyftpdlib
// server, against Debian's lftp doing the same 1,000 renames in one session on the same server. The server is
// the tests' FTP fixture, started here (tests/integration/ftp/fixture.sh, found in the source tree or through
// ZEPJOB_FTP_FIXTURE_SCRIPT). The web database update that ends the job dials a closed port, so it fails at
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

QString fixtureScript() {
    const QString configured = qEnvironmentVariable("ZEPJOB_FTP_FIXTURE_SCRIPT");
    return !configured.isEmpty() ? configured : QStringLiteral(ZEPJOB_FTP_FIXTURE_SCRIPT);
}

QString fixtureFolder;
quint16 ftpPort = 0;

QString home() {
    return fixtureFolder + QStringLiteral("/webhost");
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

void BM_FTP_2RemoveBatch(benchmark::State& state) {
    FixedClock clock;
    const QString host = QStringLiteral("127.0.0.1");
    const JobContext context{clock, host, host, host, host, host};
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
        if (!ok || !report.endsWith(QStringLiteral("처리완료:1000, 처리실패:0")) || !allRenamed()) {
            state.SkipWithError("the batch did not rename every file");
            return;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * FilesPerFolder);
}

void BM_LftpOneSession(benchmark::State& state) {
    QTemporaryDir scratch;
    const QString script = scratch.filePath(QStringLiteral("renames.lftp"));
    {
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot write the lftp script");
            return;
        }
        QByteArray text = "set ftp:ssl-allow no\nset ftp:passive-mode on\nset cmd:fail-exit yes\n"
                          "set net:max-retries 1\nopen -u \"qzc1,qrw4#KLBcvx2\" -p " +
                          QByteArray::number(ftpPort) + " 127.0.0.1\n";
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

BENCHMARK(BM_FTP_2RemoveBatch)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_LftpOneSession)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

bool runFixture(const char* action) {
    return QProcess::execute(fixtureScript(), {QString::fromLatin1(action), fixtureFolder}) == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);

    QTemporaryDir folder;
    fixtureFolder = folder.filePath(QStringLiteral("ftp-fixture"));
    if (!runFixture("start")) {
        std::fprintf(stderr, "ftp_bench: cannot start the FTP server with %s\n", qPrintable(fixtureScript()));
        return 1;
    }
    QFile portFile(fixtureFolder + QStringLiteral("/port"));
    ftpPort = portFile.open(QIODevice::ReadOnly) ? quint16(portFile.readAll().trimmed().toUInt()) : 0;

    // A port nobody listens on, for the database update.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        closedPort = probe.serverPort();
    }
    ProgramInfo::setFolder(folder.path());
    QFile deployment(folder.filePath(QStringLiteral("deployment.ini")));
    QFile setup(folder.filePath(QStringLiteral("setup.ini")));
    const bool configured = ftpPort != 0 && deployment.open(QIODevice::WriteOnly) &&
                            setup.open(QIODevice::WriteOnly) &&
                            deployment.write(QStringLiteral("[Deployment]\r\nFtpPort=%1\r\nMySqlPort=%2\r\n")
                                                 .arg(ftpPort)
                                                 .arg(closedPort)
                                                 .toLatin1()) > 0 &&
                            setup.write("[General]\r\nFTP_PASV=1\r\n") > 0;
    deployment.close();
    setup.close();

    KeepingReporter reporter;
    if (configured)
        runInRounds(argc, argv, reporter);
    runFixture("stop");
    if (!configured)
        return 1;

    const Figure ours = reporter.figure("BM_FTP_2RemoveBatch"), lftp = reporter.figure("BM_LftpOneSession");
    if (ours.value == 0 || lftp.value == 0)
        return 0; // a filtered run: no summary
    std::printf("\n1,000 renames over loopback (medians): FTP_2RemoveBatch %.1f ms, lftp %.1f ms\n",
                ours.value / 1e6, lftp.value / 1e6);
    // Both sides wait for the same single-threaded Python server, one RNFR/RNTO pair per file in one session:
    // its turnaround bounds both, so the target is parity within a margin, not a win.
    const bool met =
        verdict("FTP_2RemoveBatch / lftp, 1,000 renames in one session", ours / lftp, "x", "<=", 1.0, 0.15);
    return met ? 0 : 1;
}
