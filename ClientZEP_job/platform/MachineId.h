#pragma once

#include <QString>

// The two identifiers the bot sends with its login.
namespace MachineId {

// Hardware address of the first interface that is up, not loopback, and has both an IP address and a hardware
// address: hex digits with every "-" and ":" removed, upper case. Empty when there is none.
QString macAddress();

// Low 32 bits of the file system id of the file system holding `path` (the program folder when empty),
// upper-case hex without leading zeros; "FFFFFFFF" when it cannot be read.
QString driveSerial(const QString& path);

// The formatting rules, apart from the system calls.
QString formatMac(const QString& hardwareAddress);
QString formatSerial(quint32 serial);

} // namespace MachineId
