#include "ReportQueue.h"

#include "ErrorLog.h"
#include "OwnFile.h"
#include "VbError.h"

#include <QFile>

namespace ReportQueue {
namespace {

const QByteArray Magic = QByteArrayLiteral("ZEPJOB REPORT QUEUE 1\n");
const QString Module = QStringLiteral("ReportQueue");

QString pathIn(const QString& folder) {
    return folder + QLatin1Char('/') + FileName();
}

void logError(int number, const QString& description, const char* procedure, const QString& detail) {
    ErrorLog::WriteToFile(VbErrors::trappedText(number, description, QLatin1String(procedure),
                                                QStringLiteral("Module"), Module) +
                          QLatin1Char('(') + detail + QLatin1Char(')'));
}

// An empty list removes the file, which needs no free space.
bool save(const QString& folder, const QList<Report>& reports, const char* procedure, QString* error) {
    QString why;
    if (reports.isEmpty()) {
        QFile file(pathIn(folder));
        if (!file.exists() || file.remove())
            return true;
        why = file.errorString();
    } else {
        OwnFile::Replacement file(pathIn(folder));
        if (file.open() && file.write(Encode(reports)) && file.commit())
            return true;
        why = file.errorString();
    }
    logError(75, QStringLiteral("Path/File access error"), procedure, why);
    if (error)
        *error = why;
    return false;
}

QList<Report> bounded(QList<Report> reports, const char* procedure) {
    while (reports.size() > MaxReports) {
        const Report dropped = reports.takeFirst();
        logError(7, QStringLiteral("Out of memory"), procedure,
                 QStringLiteral("Dropped the oldest kept report to %1: %2")
                     .arg(dropped.recipient, dropped.text.section(QStringLiteral("\r\n"), 0, 0)));
    }
    return reports;
}

// The recipient as the file can hold it: one line, no TAB.
QString oneField(QString text) {
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

QString FileName() {
    return QStringLiteral("ReportQueue.txt");
}

QByteArray Encode(const QList<Report>& reports) {
    QByteArray bytes = Magic;
    for (const Report& r : reports) {
        const QByteArray text = r.text.toUtf8();
        bytes += oneField(r.recipient).toUtf8();
        bytes += '\t';
        bytes += QByteArray::number(text.size());
        bytes += '\n';
        bytes += text;
        bytes += '\n';
    }
    return bytes;
}

QList<Report> Decode(const QByteArray& bytes, bool* complete) {
    QList<Report> reports;
    bool whole = bytes.startsWith(Magic);
    qsizetype at = Magic.size();
    while (whole && at < bytes.size()) {
        const qsizetype lineEnd = bytes.indexOf('\n', at);
        const qsizetype tab = bytes.indexOf('\t', at);
        bool number = false;
        const qsizetype length = (lineEnd < 0 || tab < 0 || tab > lineEnd)
                                     ? -1
                                     : bytes.mid(tab + 1, lineEnd - tab - 1).toLongLong(&number);
        // The text and its closing LF must be there in full.
        if (!number || length < 0 || length > bytes.size() - lineEnd - 2 ||
            bytes.at(lineEnd + 1 + length) != '\n') {
            whole = false;
            break;
        }
        reports.append(
            {QString::fromUtf8(bytes.mid(at, tab - at)), QString::fromUtf8(bytes.mid(lineEnd + 1, length))});
        at = lineEnd + 1 + length + 1;
    }
    if (complete)
        *complete = whole;
    return reports;
}

QList<Report> Load(const QString& folder) {
    QFile file(pathIn(folder));
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        logError(75, QStringLiteral("Path/File access error"), "Load", file.errorString());
        return {};
    }
    bool complete = false;
    QList<Report> reports = Decode(file.readAll(), &complete);
    if (!complete)
        logError(VbErrors::TypeMismatch, VbErrors::describe(VbErrors::TypeMismatch), "Load",
                 QStringLiteral("%1 does not parse after %2 reports").arg(FileName()).arg(reports.size()));
    return reports;
}

bool Keep(const QString& folder, const Report& report, QString* error) {
    return save(folder, bounded(Load(folder) << report, "Keep"), "Keep", error);
}

QList<Report> Store::inFile() const {
    return Load(folder_).mid(goneOut_);
}

bool Store::keep(const Report& report, QString* why) {
    // Whatever waits in memory goes into the file with the new one, behind the file's own, once it can.
    const QList<Report> waiting = bounded(inFile() + held_ << report, "Keep");
    if (save(folder_, waiting, "Keep", why)) {
        goneOut_ = 0;
        held_.clear();
        return true;
    }
    held_ = bounded(held_ << report, "Keep");
    return false;
}

std::optional<Report> Store::next() const {
    const QList<Report> file = inFile();
    if (!file.isEmpty())
        return file.first();
    if (!held_.isEmpty())
        return held_.first();
    return std::nullopt;
}

void Store::sent() {
    const QList<Report> file = inFile();
    if (file.isEmpty()) {
        if (!held_.isEmpty())
            held_.removeFirst();
        return;
    }
    // Out of the file at once; where that fails the report is only remembered as gone, and leaves the file
    // with the next write that works (at the latest when the file's last report has gone and it is removed).
    ++goneOut_;
    if (save(folder_, file.mid(1), "sent", nullptr))
        goneOut_ = 0;
}

} // namespace ReportQueue
