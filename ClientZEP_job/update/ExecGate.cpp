#include "ExecGate.h"

#include "Deployment.h"
#include "OwnFile.h"
#include "Process.h"
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

// A file that only root, or outside a service the account running the program, can have written: owned by
// that account, writable by no one else, and no link (whatever a link leads to, whoever could place the link
// chose it).
std::optional<QByteArray> readTrusted(const QString& path, qsizetype bound, bool ownAccount) {
    struct stat st {};
    const int fd = OwnFile::openPlain(path, false, &st);
    if (fd < 0)
        return std::nullopt;
    std::optional<QByteArray> bytes;
    const bool owner = st.st_uid == 0 || (ownAccount && st.st_uid == ::geteuid());
    if (owner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        bytes = OwnFile::readAll(fd, bound);
    ::close(fd);
    return bytes;
}

bool asRoot() {
    return ::getuid() == 0 || ::geteuid() == 0;
}

// The release key the gate trusts: the UpdatePublicKey of the system's deployment.ini (and .pub file), which
// only root writes, else the one built in. A program folder's deployment.ini counts only outside a service
// and only when it is the running account's own: a service's folder is the service account's to fill, and
// nothing there may choose what root or the service then trusts.
std::optional<ReleaseSignature::PublicKey> trustedKey(const QString& folder, bool service, QString& why) {
    const bool ownAccount = !service && !asRoot();
    QString configured = Deployment::defaults().UpdatePublicKey;
    QStringList files = {QStringLiteral(ZEPJOB_SYSTEM_DEPLOYMENT)};
    if (!service)
        files.append(Deployment::path(folder));
    for (const QString& file : files) {
        if (const auto text = readTrusted(file, 1024 * 1024, ownAccount)) {
            const QString given = Deployment::parse(QString::fromUtf8(*text)).values.UpdatePublicKey;
            if (!given.isEmpty())
                configured = given;
        }
    }
    if (configured.startsWith(QLatin1Char('/'))) {
        const auto file = readTrusted(configured, 4096, ownAccount);
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
    const auto bytes = OwnFile::readPlain(path, modAutoUpdateV1_Download::MaxProgramBytes);
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
        if (auto held = OwnFile::readAll(memory, modAutoUpdateV1_Download::MaxProgramBytes))
            sealed = Sealed{memory, std::move(*held)};
    }
    if (!sealed)
        ::close(memory);
    return sealed;
}

// A program of the folder, sealed and verified against the trusted key for `comment` (its trusted comment,
// which the caller has judged); nothing, with the reason in `why`, otherwise.
std::optional<int> verified(const QString& folder, bool service, const QString& name,
                            const QByteArray& signature, const QString& comment, QString& why) {
    const auto key = trustedKey(folder, service, why);
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
    return OwnFile::readPlain(path + QStringLiteral(".minisig"), modAutoUpdateV1_Download::MaxSignatureBytes);
}

// Whether the folder's `candidate` is the running program's own bytes (the package's copy as installed).
bool sameFile(const QString& candidate, const QString& own) {
    const auto theirs = OwnFile::readPlain(candidate, modAutoUpdateV1_Download::MaxProgramBytes);
    return theirs && theirs == OwnFile::readPlain(own, modAutoUpdateV1_Download::MaxProgramBytes, true);
}

// The program `name` of `folder` sealed and verified when its signature names it ("<name> <version>"), else
// nothing with the reason in `why`.
std::optional<int> signedProgram(const QString& folder, bool service, const QString& name, QString& why) {
    const QString path = folder + QLatin1Char('/') + name;
    const auto signature = signatureOf(path);
    if (!signature) {
        why = QStringLiteral("it has no signature %1.minisig").arg(name);
        return std::nullopt;
    }
    const QString comment = ReleaseSignature::trustedComment(*signature).value_or(QString());
    if (!comment.startsWith(name + QLatin1Char(' '))) {
        why = QStringLiteral("its signature does not name %1").arg(name);
        return std::nullopt;
    }
    return verified(folder, service, name, *signature, comment, why);
}

QString descriptorPath(int fd) {
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
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
    // Root runs the packaged build alone, whatever the folder holds and whoever signed it.
    if (asRoot())
        return;
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
    const auto fd = verified(folder, true, name, *signature, comment, why);
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
    const QString packaged = *installed + QLatin1Char('/') + name;
    if (asRoot())
        return packaged;
    // One sealed copy per program at a time; the last one stays open for its run.
    static QMap<QString, int> sealedCopies;
    if (sealedCopies.contains(name))
        ::close(sealedCopies.take(name));
    QString why;
    if (const auto fd = signedProgram(folder, true, name, why)) {
        sealedCopies.insert(name, *fd);
        return descriptorPath(*fd);
    }
    return packaged;
}

QString StartSigned(const QString& folder, const QString& name) {
    QString why;
    const auto fd = signedProgram(folder, installedFolder().has_value(), name, why);
    if (!fd)
        return why;
    // The started program keeps the sealed copy open: a script's interpreter reads it by that descriptor.
    ::fcntl(*fd, F_SETFD, 0);
    const bool started = Process::startDetached(descriptorPath(*fd), {}, folder);
    ::close(*fd);
    return started ? QString() : QStringLiteral("it cannot be started");
}

} // namespace ExecGate
