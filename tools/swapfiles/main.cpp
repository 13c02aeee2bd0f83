// swapfiles: the file changer. The bot's self-update starts it as "swapfiles.exe <exe>;New_<exe>" in the
// program folder, once the update checker has left a new build there that it verified against the release
// key. The changer runs nothing it has not been handed that way: it never starts the new build to judge it.
//
// On its own (a desktop, a terminal): it waits, bounded, until the bot has ended (its instance lock is free),
// keeps the running build as "<exe>.old", renames the new build (and its signature, "New_<exe>.minisig", to
// "<exe>.minisig") over "<exe>" unless the new file is missing or not a program for this machine, and starts
// the bot again with the arguments the bot handed over (see ServiceManager.h), holding the lock meanwhile so
// that no other copy starts in the middle.
//
// Under a service manager (systemd): the bot waits for the changer and ends afterwards with a status that
// makes the manager start the program again; so the changer swaps at once (renaming over a running program is
// safe) and never starts a copy itself.
//
// At every moment "<exe>" is a whole build, the old or the new one: a changer killed half-way leaves a bot
// that starts. One line on standard error says what happened; the exit status is 0 when the new build is in
// place.

#include "InstanceLock.h"
#include "OwnFile.h"
#include "ProgramInfo.h"
#include "ServiceManager.h"
#include "UpdateFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <unistd.h>

namespace {

constexpr int Failed = 1;
constexpr int Usage = 2;
// How long the bot may take to end after it started the changer.
constexpr int LockWaitMs = 30000;

int lockWaitMs() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("SWAPFILES_LOCK_WAIT_MS", &ok);
    return ok && ms >= 0 ? ms : LockWaitMs;
}

bool isFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/'));
}

// A copy of the plain file `from` as `to` (new, never through a link), the program's permissions kept.
bool copyPlain(const QString& from, const QString& to) {
    const auto bytes = OwnFile::readPlain(from, qsizetype(1) << 30);
    if (!bytes)
        return false;
    OwnFile::Replacement copy(to);
    return copy.open(0755) && copy.write(*bytes) && copy.commit();
}

// `to` becomes a copy of `from` in one step: a hard link when the file system has them, else a copy, renamed
// into place.
bool duplicate(const QString& from, const QString& to) {
    const QString staging = to + QStringLiteral(".tmp");
    QFile::remove(staging);
    const bool made =
        ::link(QFile::encodeName(from).constData(), QFile::encodeName(staging).constData()) == 0 ||
        copyPlain(from, staging);
    if (made && UpdateFiles::replace(staging, to))
        return true;
    QFile::remove(staging);
    return false;
}

// The bot again, detached, in its folder, with the arguments it handed over.
void restart(const QString& exe, const QString& folder) {
    const QByteArray handed = qgetenv(ServiceManager::ArgumentsVariable);
    QStringList arguments;
    if (!handed.isEmpty()) {
        if (const auto decoded = ServiceManager::decodeArguments(handed))
            arguments = *decoded;
        else
            UpdateFiles::say(QStringLiteral("unreadable %1; starting without arguments")
                                 .arg(QLatin1String(ServiceManager::ArgumentsVariable)));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QString::fromLatin1(ServiceManager::ArgumentsVariable));
    QProcess process;
    process.setProgram(exe);
    process.setArguments(arguments);
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached())
        UpdateFiles::say(QStringLiteral("cannot start %1 again").arg(exe));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList parts =
        argc == 2 ? QString::fromLocal8Bit(argv[1]).split(QLatin1Char(';')) : QStringList();
    if (parts.size() != 2 || !isFileName(parts[0]) || parts[1] != QStringLiteral("New_") + parts[0]) {
        UpdateFiles::say(QStringLiteral("usage: swapfiles.exe <exe>;New_<exe>"));
        return Usage;
    }
    const QString folder = ProgramInfo::folder();
    const QString exe = folder + QLatin1Char('/') + parts[0];
    const QString newFile = folder + QLatin1Char('/') + parts[1];
    const QString oldFile = exe + QStringLiteral(".old");
    const bool managed = ServiceManager::active();

    InstanceLock lock(folder);
    if (!managed && !lock.tryLock(lockWaitMs())) {
        UpdateFiles::say(
            QStringLiteral("%1 still runs after %2 ms; nothing changed").arg(parts[0]).arg(lockWaitMs()));
        return Failed;
    }
    // Outside a service manager the bot is started again whatever the outcome: the new build or the old one.
    const auto finish = [&](int status, const QString& line) {
        UpdateFiles::say(line);
        if (!managed) {
            lock.unlock();
            restart(exe, folder);
        }
        return status;
    };

    if (!QFileInfo(newFile).isFile())
        return finish(Failed, QStringLiteral("%1 is missing; %2 stays as it was").arg(parts[1], parts[0]));
    if (const QString problem = UpdateFiles::executableProblem(newFile); !problem.isEmpty()) {
        QFile::remove(newFile);
        return finish(Failed,
                      QStringLiteral("%1 is %2; %3 stays as it was").arg(parts[1], problem, parts[0]));
    }
    const bool hadOld = QFileInfo(exe).isFile();
    if (hadOld && !duplicate(exe, oldFile))
        return finish(Failed, QStringLiteral("cannot keep %1 as %1.old; nothing changed").arg(parts[0]));
    // The signature goes first: a build in place always has its own beside it, or none (then a service's
    // launcher runs its packaged build instead).
    const QString newSignature = newFile + QStringLiteral(".minisig");
    const QString signature = exe + QStringLiteral(".minisig");
    QFile::remove(signature);
    if (QFileInfo(newSignature).isFile() && !UpdateFiles::replace(newSignature, signature))
        return finish(Failed,
                      QStringLiteral("cannot move %1.minisig into place; nothing changed").arg(parts[1]));
    if (!UpdateFiles::makeExecutable(newFile) || !UpdateFiles::replace(newFile, exe))
        return finish(
            Failed, QStringLiteral("cannot move %1 into place; %2 stays as it was").arg(parts[1], parts[0]));
    return finish(0, hadOld ? QStringLiteral("%1 is the new build; the previous one is %1.old").arg(parts[0])
                            : QStringLiteral("%1 is the new build").arg(parts[0]));
}
