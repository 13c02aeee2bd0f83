#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/stat.h>

// The files the program writes beside itself (the error log, the directory cache, the kept reports,
// downloads). Whoever can write the program folder can put a link in a file's place; these never write
// through one: an append refuses anything but a plain file with one name, and a replacement puts a new file
// in the name's place (a rename replaces a link, it does not follow it). The folder itself is trusted.
namespace OwnFile {

// Opens `path` for reading: never through a link in its place (unless `followLink`, for the kernel's own
// links such as /proc/self/exe), never waiting on whatever else is there (a FIFO would hold the reader for
// good). The descriptor when a plain file is there, else -1 with errno set (ELOOP for a link, EINVAL for
// anything but a plain file). `status`, when given, receives the file's status.
int openPlain(const QString& path, bool followLink = false, struct stat* status = nullptr);

// All of the plain file open as `fd` when it holds at most `bound` bytes; nothing otherwise.
std::optional<QByteArray> readAll(int fd, qsizetype bound);

// All of the plain file `path`, opened as openPlain() does, when it holds at most `bound` bytes.
std::optional<QByteArray> readPlain(const QString& path, qsizetype bound, bool followLink = false);

// Appends `bytes` to `path`, creating it when missing. False, with the reason in `error`, when a link,
// a file with a second (hard) link or anything else but a plain file is in its place, or the write fails.
bool append(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// A whole new content for `path`: written to a temporary file beside it, which takes the name only when all
// of it reached the disk. Until then, and after any failure, the old file stays as it was and the temporary
// goes when this object does.
class Replacement {
public:
    explicit Replacement(const QString& path);
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // `mode` gives the new file its permission bits; without it a plain file replaced keeps its own.
    bool open(int mode = -1);
    bool write(const char* data, qsizetype size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    // Synced and renamed over `path`; false leaves the old file.
    bool commit();
    // Drops what was written.
    void cancel();
    // Why the last step failed.
    const QString& errorString() const { return error_; }

private:
    bool fail(const QString& what, int error);

    QByteArray path_;
    QByteArray temporary_;
    int fd_ = -1;
    bool failed_ = false;
    QString error_;
};

} // namespace OwnFile
