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
                                                               context.settings.UpdatePublicKey, {},
                                                               context.settings.httpTls())};
}

} // namespace

const QList<Job>& Jobs() {
    static const QList<Job> jobs = {
        {JobId::DiskSpace,
         QStringLiteral("disk-space"),
         QStringLiteral("the servers' disk-space report (09:05)"),
         QStringLiteral("the disk-space report"),
         CommandJob::None,
         {},
         0,
         {},
         diskSpace},
        {JobId::Remove2,
         QStringLiteral("remove-2"),
         QStringLiteral("the \"_2\" removal (09:10 Wed/Thu). It does the real work: renames\n"
                        "              the files on the web host's FTP server, updates the web database"),
         QStringLiteral("the \"_2\" removal"),
         CommandJob::Remove2,
         RemovalRecipient,
         ReportPacketCode,
         {},
         filled<modJobFTP::FTP_2RemoveBatch>},
        {JobId::DbBackup,
         QStringLiteral("db-backup"),
         QStringLiteral("the DB backup check on the backup FTP server (11:00)"),
         QStringLiteral("the DB backup check"),
         CommandJob::None,
         {},
         0,
         {},
         filled<modJobFTP::DB_BackupCheck>},
        {JobId::CsBackup,
         QStringLiteral("cs-backup"),
         QStringLiteral("the CS backup download check under CSBackupPath (14:00)"),
         QStringLiteral("the CS backup check"),
         CommandJob::None,
         {},
         0,
         {},
         csBackup},
        // The requester hears back as a chat line only when nothing was applied.
        {JobId::SelfUpdate, QString(), QString(), QStringLiteral("the self-update"), CommandJob::SelfUpdate,
         QString(), ChatPacketCode, QStringLiteral("이미 최신버전이거나, 업데이트를 실패했습니다."),
         selfUpdate},
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
        {QTime(9, 10), Wednesday, true, JobId::Remove2, RemovalRecipient, false},
        // Thursday's report only after at least one rename.
        {QTime(9, 10), Thursday, true, JobId::Remove2, RemovalRecipient, true},
        {QTime(11, 0), EveryDay, false, JobId::DbBackup, AdminRecipient, false},
        {QTime(14, 0), EveryDay, false, JobId::CsBackup, AdminRecipient, false},
    };
    return rows;
}

} // namespace JobCatalogue
