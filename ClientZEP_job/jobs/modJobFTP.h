#pragma once

#include "FtpClient.h"
#include "JobContext.h"
#include "Tls.h"

#include <QString>
#include <QStringList>

// The FTP jobs: the "_2" removal on the web host with the web database update that follows it, and the daily
// check of the database backups. The FTP layer keeps one connection for the whole module; a job opens it,
// uses it and closes it within one run, and holds its own FtpSearch over it.
namespace modJobFTP {

// Connects and logs in at `port`; passive data connections when `passive` is 1, active ones otherwise.
// `names`: how the server spells file names; `tls`: whether the session must be protected. Never raises.
bool FTP_Open(const QString& host, const QString& user, const QString& password, int port, int passive,
              FtpClient::NameEncoding names = FtpClient::NameEncoding::Cp949, const Tls::Policy& tls = {});
void FTP_Close();

bool FTP_Rename(const QString& from, const QString& to);

// One search over the module's connection: the names of one listing, handed out one at a time. A job holds
// it for as long as it walks the listing; each FTP_FindFirst starts it afresh.
class FtpSearch {
public:
    // Lists the directory part of `pathWithMask` (up to its last "/") and keeps the names that match the
    // mask part ("*", "?"; case counts; an empty mask keeps every name). Returns the first name, without the
    // directory, or "" when nothing matches or the listing fails. Raises VbError 7 past the listing's bound.
    QString FTP_FindFirst(const QString& pathWithMask);
    // The next name of the search, or "" once there is none (the search is then closed).
    QString FTP_FindNext();
    // Drops the search, found or not.
    void FTP_CloseSearch();
    // Whether the folder of the last FTP_FindFirst could be looked at: false when its listing failed, or came
    // back empty for a folder the server does not have (some servers list a missing folder as empty).
    bool FTP_FolderListed();

private:
    QStringList names_; // what the search has not handed out yet, from next_ on
    qsizetype next_ = 0;
    // The folder of the last listing, kept past the end of its search.
    QString directory_;
    bool failed_ = false;
    bool empty_ = false;
};

// Renames every "*_2.*" file of the web host's download folders to its name without "_2", starts the code
// updater when one succeeded, and updates the web database's download names. `report` is replaced by the
// report; true when at least one rename succeeded. Raises VbError 6 (Overflow) past 32767 renames of one
// outcome, as its 16-bit counters always did.
bool FTP_2RemoveBatch(QString& report, const JobContext& context);

// Checks that today's daily folder of the backup server holds a backup of every listed server, for both
// backup kinds. `report` is replaced by the report; true when the check ran to its end.
bool DB_BackupCheck(QString& report, const JobContext& context);

// Copies the current download file names of the four products into the web tables the product pages read.
// Failures show message boxes; the first of them comes back for the caller's report (empty when none).
QString ChangeRnameFile(const JobContext& context);

// The folders each job lists: the "_2" removal's download folders, and the backup check's server lists and
// the folders holding its daily folders, in the order the jobs come to them.
const QStringList& RemovalFolders();
const QStringList& BackupFolders();

} // namespace modJobFTP
