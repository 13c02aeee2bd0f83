#include "MachineId.h"

#include "ProgramInfo.h"

#include <QNetworkInterface>
#include <sys/statvfs.h>

namespace MachineId {

QString formatMac(const QString& hardwareAddress) {
    QString mac = hardwareAddress;
    mac.remove(QLatin1Char('-'));
    mac.remove(QLatin1Char(':'));
    return mac.toUpper();
}

QString formatSerial(quint32 serial) {
    return QString::number(serial, 16).toUpper();
}

QString macAddress() {
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& nic : interfaces) {
        const auto flags = nic.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        if (nic.addressEntries().isEmpty())
            continue;
        const QString mac = formatMac(nic.hardwareAddress());
        if (!mac.isEmpty() && mac != QLatin1String("000000000000"))
            return mac;
    }
    return QString();
}

QString driveSerial(const QString& path) {
    const QString target = path.isEmpty() ? ProgramInfo::folder() : path;
    struct statvfs info {};
    if (::statvfs(target.toLocal8Bit().constData(), &info) != 0)
        return QStringLiteral("FFFFFFFF");
    return formatSerial(static_cast<quint32>(info.f_fsid & 0xFFFFFFFFu));
}

} // namespace MachineId
