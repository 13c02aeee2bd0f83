#pragma once

#include <QByteArray>
#include <QString>

// The files the program writes beside itself (the error log, the directory cache, the kept reports,
// downloads). Whoever can write the program folder can put a link in a file's place; these never write
// through one: an append refuses anything but a plain file with one name, and a replacement puts a new file
// in the name's place (a rename replaces a link, it does not follow it). The folder itself is trusted.
namespace OwnFile {

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
