#pragma once

#include <QString>

// One record of the messenger's user list: id, login name, an unused column, department, name, title, status,
// login text and login number, TAB-separated.
inline QString userRecord(int id, int dept, const QString& name, int status) {
    return QStringLiteral("%1\tlogin%1\t\t%2\t%3\t사원\t%4\t127.0.0.1\t0")
        .arg(id)
        .arg(dept)
        .arg(name)
        .arg(status);
}
