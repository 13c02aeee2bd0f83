#include "UserTable.h"

#include <QFile>

bool UserTable::load(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    QList<Row> rows;
    const QStringList lines = text.split(u'\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        const auto fail = [&](const QString& what) {
            *error = QStringLiteral("%1 line %2: %3").arg(path).arg(n + 1).arg(what);
            return false;
        };
        Row row;
        row.columns = line.split(u'\t');
        if (row.columns.size() != kColumns)
            return fail(QStringLiteral("expected %1 tab-separated columns, found %2")
                            .arg(kColumns)
                            .arg(row.columns.size()));
        bool ok = false;
        row.id = row.columns[0].toInt(&ok);
        if (!ok || row.id < 0)
            return fail(QStringLiteral("user id \"%1\" is not a non-negative number").arg(row.columns[0]));
        for (const Row& earlier : rows)
            if (earlier.id == row.id)
                return fail(QStringLiteral("user id %1 appears twice").arg(row.id));
        rows.append(std::move(row));
    }
    rows_ = std::move(rows);
    return true;
}

qsizetype UserTable::indexOf(int id) const {
    for (qsizetype i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id)
            return i;
    return -1;
}

QString UserTable::record(int id) const {
    const qsizetype i = indexOf(id);
    return i < 0 ? QString() : rows_[i].columns.join(u'\t');
}

void UserTable::setStatus(int id, int status) {
    const qsizetype i = indexOf(id);
    if (i >= 0)
        rows_[i].columns[kStatusColumn] = QString::number(status);
}

QString UserTable::listBody() const {
    QStringList lines;
    lines.reserve(rows_.size() + 1);
    lines.append(QString::number(rows_.size()));
    for (const Row& row : rows_)
        lines.append(row.columns.join(u'\t'));
    return lines.join(QLatin1String("\r\n"));
}
