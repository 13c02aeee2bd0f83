#pragma once

#include "JobContext.h"

#include <QString>

// The daily reports about disks: the servers' free space from the log database, and the arrival of the CS
// database backup on this machine.
namespace modJobMain {

// The disk-space report of yesterday's collection on the log database at context.masterServer. Never raises:
// a failure becomes report text (the table so far and the trapped error, or the failed connection).
QString ServersHDDFreeCheck(const JobContext& context);

// Free and total size in gigabytes, to two decimals, of the volume that holds `drive`. On Linux `drive` is a
// directory (the backup root itself) rather than a drive letter. After a failure the error log gets a line
// and 0 is returned; total then keeps its value.
double GetMyFreeDisk(const QString& drive, double& total);

// Whether today's CS backup zip arrived under setup.ini's CSBackupPath and the volume still has room;
// `report` is replaced by the one-line notice.
void CSDB_DownloadCheck(QString& report, const JobContext& context);

// The pieces of the jobs above that decide a figure or a text on their own.

// A figure of the log database shown "#,##0": read as a decimal number, rounded half away from zero,
// thousands separated by ",". Raises VbError 13 when the text is no number, 6 when it is out of range.
QString FormatFigure(const QString& figure);

// Gigabytes of `clusters` clusters of `clusterBytes` bytes: the clusters taken in thousands (1,024, ties to
// even), then the product rounded to hundredths (ties to even).
double DiskGigabytes(quint64 clusterBytes, quint64 clusters);

// The notice for a backup that arrived on a volume with `freeGigabytes` left.
QString DownloadNotice(double freeGigabytes, const QString& root);

} // namespace modJobMain
