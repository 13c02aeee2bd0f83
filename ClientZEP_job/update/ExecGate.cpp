#include "ExecGate.h"

#include "Deployment.h"
#include "ProgramInfo.h"
#include "ReleaseSignature.h"
#include "Version.h"
#include "modAutoUpdateV1_Download.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace ExecGate {
namespace {

void say(const QString& line) {
    std::fprintf(stderr, "ClientZEP_job: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

// A regular file of at most `bound` bytes read from an open descriptor; nothing otherwise.
std::optional<QByteArray> readDescriptor(int fd, qsizetype bound) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > bound)
        return std::nullopt;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), off_t(done));
        if (n <= 0)
            return std::nullopt;
        done += n;
    }
    return bytes;
}

// A file that only root can have written: owned by root, writable by no one else (a link is followed: the
// file it leads to is what counts).
std::optional<QByteArray> readRootOwned(const QString& path, qsizetype bound) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &st) == 0 && st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        bytes = readDescriptor(fd, bound);
    ::close(fd);
    return bytes;
}

// The release key the gate trusts: the one built in, or the UpdatePublicKey of a deployment.ini (and .pub
// file) that the service's account cannot have written. The program folder's deployment.ini is the
// account's to replace, so its word alone counts for nothing here.
std::optional<ReleaseSignature::PublicKey> trustedKey(const QString& folder, QString& why) {
    QString configured = Deployment::defaults().UpdatePublicKey;
    if (const auto text = readRootOwned(Deployment::path(folder), 1024 * 1024)) {
        const QString given = Deployment::parse(QString::fromUtf8(*text)).values.UpdatePublicKey;
        if (!given.isEmpty())
            configured = given;
    }
    if (configured.startsWith(QLatin1Char('/'))) {
        const auto file = readRootOwned(configured, 4096);
        if (!file) {
            why = QStringLiteral("the release key %1 is not a file of root's").arg(configured);
            return std::nullopt;
        }
        configured = QString::fromUtf8(*file);
    }
    const auto key = ReleaseSignature::parsePublicKey(configured);
    if (!key)
        why = QStringLiteral("no release key in a file of root's, none built in");
    return key;
}

// `path` copied into a memory file that nobody can change any more, and the bytes it holds.
struct Sealed {
    int fd = -1;
    QByteArray bytes;
};
std::optional<Sealed> seal(const QString& path, const QString& name) {
    const int source = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (source < 0)
        return std::nullopt;
    const auto bytes = readDescriptor(source, modAutoUpdateV1_Download::MaxProgramBytes);
    ::close(source);
    if (!bytes)
        return std::nullopt;
    const int memory = ::memfd_create(name.toLocal8Bit().constData(), MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (memory < 0)
        return std::nullopt;
    qsizetype done = 0;
    while (done < bytes->size()) {
        const ssize_t n = ::write(memory, bytes->constData() + done, size_t(bytes->size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    std::optional<Sealed> sealed;
    if (done == bytes->size() &&
        ::fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0) {
        // What is checked is what the memory file holds now, which is what runs.
        if (auto held = readDescriptor(memory, modAutoUpdateV1_Download::MaxProgramBytes))
            sealed = Sealed{memory, std::move(*held)};
    }
    if (!sealed)
        ::close(memory);
    return sealed;
}

// A program of the folder, sealed and verified against the trusted key for `comment` (its trusted comment,
// which the caller has judged); nothing, with the reason in `why`, otherwise.
std::optional<int> verified(const QString& folder, const QString& name, const QByteArray& signature,
                            const QString& comment, QString& why) {
    const auto key = trustedKey(folder, why);
    if (!key)
        return std::nullopt;
    auto sealed = seal(folder + QLatin1Char('/') + name, name);
    if (!sealed) {
        why = QStringLiteral("it cannot be read as a plain file of at most %1 bytes")
                  .arg(modAutoUpdateV1_Download::MaxProgramBytes);
        return std::nullopt;
    }
    why = ReleaseSignature::verify(sealed->bytes, signature, *key, comment);
    if (!why.isEmpty()) {
        ::close(sealed->fd);
        return std::nullopt;
    }
    return sealed->fd;
}

std::optional<QByteArray> signatureOf(const QString& path) {
    const int fd = ::open(QFile::encodeName(path + QStringLiteral(".minisig")).constData(),
                          O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    auto bytes = readDescriptor(fd, modAutoUpdateV1_Download::MaxSignatureBytes);
    ::close(fd);
    return bytes;
}

bool sameFile(const QString& a, const QString& b) {
    QFile first(a), second(b);
    if (first.size() != second.size() || !first.open(QIODevice::ReadOnly) ||
        !second.open(QIODevice::ReadOnly))
        return false;
    while (!first.atEnd())
        if (first.read(1 << 20) != second.read(1 << 20))
            return false;
    return true;
}

QString ownPath() {
    return ProgramInfo::runningImage();
}

// The packaged folder this process came from when it runs as such a service, else nothing.
std::optional<QString> installedFolder() {
    const QString folder = qEnvironmentVariable(ProgramFolderVariable);
    if (folder.isEmpty())
        return std::nullopt;
    const QString installed = qEnvironmentVariable(InstalledFolderVariable);
    if (!installed.isEmpty())
        return installed;
    const QString own = QFileInfo(ownPath()).absolutePath();
    if (QDir(own).canonicalPath() == QDir(folder).canonicalPath())
        return std::nullopt;
    return own;
}

} // namespace

void RunNewerBuild(char** argv) {
    const QString folder = qEnvironmentVariable(ProgramFolderVariable);
    const QString own = ownPath();
    // Not such a service, or already the build of a memory file.
    if (folder.isEmpty() || own.startsWith(QLatin1String("/memfd:")))
        return;
    const auto installed = installedFolder();
    if (!installed)
        return;
    const QString name = QFileInfo(own).fileName();
    const QString candidate = folder + QLatin1Char('/') + name;
    if (!QFileInfo(candidate).exists() && !QFileInfo(candidate).isSymLink())
        return;
    const auto refuse = [&](const QString& why) {
        say(QStringLiteral("the build in %1 does not run: %2; running the packaged build %3")
                .arg(candidate, why, QString::fromLatin1(Version::Text)));
    };
    const auto signature = signatureOf(candidate);
    if (!signature) {
        // The package's own copy, as its installation leaves it: nothing to say.
        if (!sameFile(candidate, own))
            refuse(QStringLiteral("it has no signature %1.minisig").arg(name));
        return;
    }
    const QString comment = ReleaseSignature::trustedComment(*signature).value_or(QString());
    const QString prefix = name + QLatin1Char(' ');
    bool numeric = false;
    const qint64 revision = comment.startsWith(prefix) ? comment.mid(prefix.size()).toLongLong(&numeric) : 0;
    // The same build or an older one (the package was upgraded past it): the packaged build is current.
    if (!numeric || revision <= Version::Revision) {
        if (!numeric)
            refuse(QStringLiteral("its signature names no revision of %1").arg(name));
        return;
    }
    QString why;
    const auto fd = verified(folder, name, *signature, comment, why);
    if (!fd)
        return refuse(why);
    qputenv("ZEPJOB_PROGRAM_NAME", name.toLocal8Bit());
    qputenv(InstalledFolderVariable, installed->toLocal8Bit());
    ::fexecve(*fd, argv, environ);
    refuse(QStringLiteral("it cannot be started (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
    ::close(*fd);
}

QString Runnable(const QString& folder, const QString& name) {
    const QString path = folder + QLatin1Char('/') + name;
    const auto installed = installedFolder();
    if (!installed)
        return path;
    // One sealed copy per program at a time; the last one stays open for its run.
    static QMap<QString, int> sealedCopies;
    if (sealedCopies.contains(name))
        ::close(sealedCopies.take(name));
    if (const auto signature = signatureOf(path)) {
        const QString comment = ReleaseSignature::trustedComment(*signature).value_or(QString());
        QString why;
        if (comment.startsWith(name + QLatin1Char(' '))) {
            if (const auto fd = verified(folder, name, *signature, comment, why)) {
                sealedCopies.insert(name, *fd);
                return QStringLiteral("/proc/self/fd/%1").arg(*fd);
            }
        }
    }
    return *installed + QLatin1Char('/') + name;
}

} // namespace ExecGate
