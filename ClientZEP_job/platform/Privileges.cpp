#include "Privileges.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Privileges {
namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

Outcome refused(const QString& folder, const QString& why) {
    return {false, QStringLiteral("not running as root on %1: %2").arg(folder, why)};
}

} // namespace

Outcome actAsOwnerOf(const QString& folder) {
    if (::geteuid() != 0 && ::getuid() != 0)
        return {};
    struct stat status {};
    if (::stat(QFile::encodeName(folder).constData(), &status) != 0)
        return refused(folder, QStringLiteral("cannot tell who owns it (%1)").arg(systemError()));
    const uid_t uid = status.st_uid;
    if (uid == 0)
        return {};

    // The account's own groups when it has an entry; else the folder's group alone.
    const passwd* account = ::getpwuid(uid);
    const QByteArray name = account ? QByteArray(account->pw_name) : QByteArray::number(uint(uid));
    const gid_t gid = account ? account->pw_gid : status.st_gid;
    // Groups first, while we may still change them; the user last, after which nothing can be changed back.
    if ((account ? ::initgroups(name.constData(), gid) : ::setgroups(0, nullptr)) != 0)
        return refused(folder, QStringLiteral("cannot take the groups of %1 (%2)")
                                   .arg(QString::fromLocal8Bit(name), systemError()));
    if (::setresgid(gid, gid, gid) != 0)
        return refused(folder, QStringLiteral("cannot take the group %1 (%2)").arg(gid).arg(systemError()));
    if (::setresuid(uid, uid, uid) != 0)
        return refused(
            folder, QStringLiteral("cannot become %1 (%2)").arg(QString::fromLocal8Bit(name), systemError()));

    uid_t ruid = 0, euid = 0, suid = 0;
    gid_t rgid = 0, egid = 0, sgid = 0;
    const bool dropped = ::getresuid(&ruid, &euid, &suid) == 0 && ::getresgid(&rgid, &egid, &sgid) == 0 &&
                         ruid == uid && euid == uid && suid == uid && rgid == gid && egid == gid &&
                         sgid == gid && ::setuid(0) != 0;
    if (!dropped)
        return refused(folder, QStringLiteral("the rights of root could not be given up for good"));
    ::prctl(PR_SET_DUMPABLE, 0);
    return {true, QStringLiteral("run as root: acting as %1, the owner of %2")
                      .arg(QString::fromLocal8Bit(name), folder)};
}

} // namespace Privileges
