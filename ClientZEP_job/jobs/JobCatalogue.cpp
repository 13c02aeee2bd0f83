#include "JobCatalogue.h"

#include "modAutoUpdateV1_Launcher.h"
#include "modJobFTP.h"
#include "modJobMain.h"

namespace JobCatalogue {
namespace {

// A job that fills a report and says whether it succeeded, as the FTP jobs do.
template <bool (*Fill)(QString&, const JobContext&)> JobResult filled(const JobContext& context) {
    JobResult result;
    result.succeeded = Fill(result.report, context);
    return result;
}

JobResult diskSpace(const JobContext& context) {
    return {modJobMain::ServersHDDFreeCheck(context), true};
}

JobResult csBackup(const JobContext& context) {
    JobResult result{QString(), true};
    modJobMain::CSDB_DownloadCheck(result.report, context);
    return result;
}

// An applied update ends the program inside the call; one that returns applied nothing.
JobResult selfUpdate(const JobContext& context) {
    return {QString(), modAutoUpdateV1_Launcher::RunAutoUpdate(false, context.autoUpdate,
                                                               context.settings.UpdatePublicKey,
                                                               context.settings.httpTls())};
}

} // namespace

const QList<Job>& Jobs() {
    static const QList<Job> jobs = {
        {.id = JobId::DiskSpace,
         .runJobName = QStringLiteral("disk-space"),
         .summary = QStringLiteral("the servers' disk-space report (09:05)"),
         .status = QStringLiteral("the disk-space report"),
         .run = diskSpace},
        {.id = JobId::Remove2,
         .runJobName = QStringLiteral("remove-2"),
         .summary =
             QStringLiteral("the \"_2\" removal (09:10 Wed/Thu). It does the real work: renames\n"
                            "              the files on the web host's FTP server, updates the web database"),
         .status = QStringLiteral("the \"_2\" removal"),
         .run = filled<modJobFTP::FTP_2RemoveBatch>,
         .commandRecipient = RemovalRecipient,
         .commandCode = ReportPacketCode},
        {.id = JobId::DbBackup,
         .runJobName = QStringLiteral("db-backup"),
         .summary = QStringLiteral("the DB backup check on the backup FTP server (11:00)"),
         .status = QStringLiteral("the DB backup check"),
         .run = filled<modJobFTP::DB_BackupCheck>},
        {.id = JobId::CsBackup,
         .runJobName = QStringLiteral("cs-backup"),
         .summary = QStringLiteral("the CS backup download check under CSBackupPath (14:00)"),
         .status = QStringLiteral("the CS backup check"),
         .run = csBackup},
        // No --run-job: it would replace the running build. The requester hears back as a chat line, and
        // only when nothing was applied.
        {.id = JobId::SelfUpdate,
         .status = QStringLiteral("the self-update"),
         .run = selfUpdate,
         .commandCode = ChatPacketCode,
         .failureNotice = QStringLiteral("이미 최신버전이거나, 업데이트를 실패했습니다.")},
    };
    return jobs;
}

const Job& job(JobId id) {
    for (const Job& entry : Jobs())
        if (entry.id == id)
            return entry;
    Q_UNREACHABLE();
}

const QList<ScheduleRow>& Schedule() {
    constexpr int EveryDay = 0, Wednesday = 4, Thursday = 5;
    static const QList<ScheduleRow> rows = {
        {QTime(9, 5), EveryDay, false, JobId::DiskSpace, AdminRecipient, false},
        // The removal changes the public web site, which must not happen at an hour nobody expects: never
        // late.
        {QTime(9, 10), Wednesday, true, JobId::Remove2, RemovalRecipient, false, false},
        // Thursday's report only after at least one rename.
        {QTime(9, 10), Thursday, true, JobId::Remove2, RemovalRecipient, true, false},
        {QTime(11, 0), EveryDay, false, JobId::DbBackup, AdminRecipient, false},
        {QTime(14, 0), EveryDay, false, JobId::CsBackup, AdminRecipient, false},
    };
    return rows;
}

} // namespace JobCatalogue
