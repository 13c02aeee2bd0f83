#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Local file-system services of the jobs: the space of the volume that holds a directory, and the
// file-pattern test the backup checks make.
namespace FileSystem {

// The volume that holds a directory, counted in clusters (statvfs fragments) the way the disk-space call of
// the original platform counted them. Free clusters are those an unprivileged process may use.
struct DiskSpace {
    quint64 clusterBytes = 0;
    quint64 totalClusters = 0;
    quint64 freeClusters = 0;
    // 0 when the figures are valid. Otherwise a classic run-time error number (76 "Path not found" class for
    // a missing or unreachable path, 75 for refused access, 57 for any other failure) and the system's text.
    int errorNumber = 0;
    QString errorDescription;

    bool ok() const { return errorNumber == 0; }
    quint64 totalBytes() const { return clusterBytes * totalClusters; }
    quint64 freeBytes() const { return clusterBytes * freeClusters; }
};

inline constexpr int DeviceIoError = 57;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;

DiskSpace diskSpace(const QString& directory);

// The name of the first file, in name order, that matches the last component of `pattern`, where "*" stands
// for any run of characters and "?" for exactly one; every other character is literal. Names compare without
// regard to case, as the backup folders were always matched. Folders and hidden files do not match. Nothing
// when the folder is missing or holds no match.
std::optional<QString> firstMatch(const QString& pattern);

} // namespace FileSystem
