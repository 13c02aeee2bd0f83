#pragma once

#include <QString>
#include <QStringList>

// One record of the messenger's user list: id, login name, an unused column, department, name, title, status,
// login text and login number, TAB-separated.
inline QString userRecord(int id, int dept, const QString& name, int status) {
    return QStringLiteral("%1\tlogin%1\t\t%2\t%3\t사원\t%4\t127.0.0.1\t0")
        .arg(id)
        .arg(dept)
        .arg(name)
        .arg(status);
}

// `count` colleagues 1000, 1001, ... of department 1, of whom the first `online` are online.
inline QStringList colleagues(int count, int online) {
    QStringList records;
    for (int i = 0; i < count; ++i)
        records << userRecord(1000 + i, 1, QStringLiteral("사용자%1").arg(i), i < online ? 1 : 0);
    return records;
}

// The body of a user-list packet: the number of records (theirs unless given), then the records, one a line.
inline QString userList(const QStringList& records, int count = -1) {
    return QString::number(count < 0 ? records.size() : count) + QStringLiteral("\r\n") +
           records.join(QStringLiteral("\r\n"));
}
