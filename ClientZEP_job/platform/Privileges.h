#pragma once

#include <QString>

// Root's rights kept away from what another account controls.
namespace Privileges {

struct Outcome {
    bool ok = true;
    QString words; // what was done, or why it could not be; empty when nothing needed doing
};

// Run as root on a program folder that another account owns (the service's), the process becomes that
// account for good: its groups, its group and then its user, real, effective and saved ids alike, checked
// afterwards, and no longer dumpable, so that the account's own processes cannot reach into it. Whatever the
// account put in the folder is then read and written with the account's rights alone. Not root, or a folder
// of root's own: nothing changes. When the owner cannot be told or the change fails, `ok` is false and the
// caller must not go on.
Outcome actAsOwnerOf(const QString& folder);

} // namespace Privileges
