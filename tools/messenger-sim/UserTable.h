#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The users the sim knows, in file order, loaded from a UTF-8 tab-separated file. Each row holds the nine
// columns of a user record exactly as they go on the wire: id, login name, unused, department code, display
// name, title, status, address, number. Lines starting with '#' and blank lines are skipped.
class UserTable {
public:
    static constexpr int kColumns = 9;
    static constexpr int kStatusColumn = 6;

    bool load(const QString& path, QString* error);

    bool contains(int id) const { return indexOf(id) >= 0; }
    // The record's columns joined by TAB; empty when the id is unknown.
    QString record(int id) const;
    // Updates the status column of a known user; unknown ids are ignored.
    void setStatus(int id, int status);
    // The user-list body: the record count, then one record per line, lines joined by CR LF.
    QString listBody() const;
    qsizetype size() const { return rows_.size(); }

private:
    struct Row {
        int id = 0;
        QStringList columns;
    };

    qsizetype indexOf(int id) const;

    QList<Row> rows_;
};
