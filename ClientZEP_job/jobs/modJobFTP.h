#pragma once

#include "JobContext.h"

#include <QString>

// The FTP jobs: the "_2" removal on the web host with the web database update that follows it, and the daily
// check of the database backups. The FTP layer keeps one connection for the whole module; a job opens it,
// uses it and closes it within one run.
namespace modJobFTP {

// Connects and logs in; passive data connections when `passive` is 1, active ones otherwise. Port 21 dials
// the FtpPort of deployment.ini; any other port is dialled as given. `names`: how the server spells file
// names. Never raises.
bool FTP_Open(const QString& host, const QString& user, const QString& password, int port, int passive,
              FtpClient::NameEncoding names = FtpClient::NameEncoding::Cp949);
void FTP_Close();

// Starts a search: lists the directory part of `pathWithMask` (up to its last "/") and keeps the names that
// match the mask part ("*", "?"; case counts; an empty mask keeps every name). Returns the first name,
// without the directory, or "" when nothing matches or the listing fails.
QString FTP_FindFirst(const QString& pathWithMask);
// The next name of the search, or "" once there is none (the search is then closed).
QString FTP_FindNext();
// Drops the search, found or not.
void FTP_CloseSearch();
// Whether the folder of the last FTP_FindFirst could be looked at: false when its listing failed, or came
// back empty for a folder the server does not have (some servers list a missing folder as empty).
bool FTP_FolderListed();

bool FTP_Rename(const QString& from, const QString& to);

// Renames every "*_2.*" file of the web host's download folders to its name without "_2", starts the code
// updater when one succeeded, and updates the web database's download names. `report` is replaced by the
// report; true when at least one rename succeeded. Raises VbError 6 (Overflow) past 32767 renames of one
// outcome, as its 16-bit counters always did.
bool FTP_2RemoveBatch(QString& report, const JobContext& context);

// Checks that today's daily folder of the backup server holds a backup of every listed server, for both
// backup kinds. `report` is replaced by the report; true when the check ran to its end.
bool DB_BackupCheck(QString& report, const JobContext& context);

// Copies the current download file names of the four products into the web tables the product pages read.
// Failures show message boxes; nothing is reported to the caller.
void ChangeRnameFile(const JobContext& context);

} // namespace modJobFTP
