#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <sys/statvfs.h>

namespace FileSystem {
namespace {

int classicNumber(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return PathNotFound;
    case EACCES:
    case EPERM:
        return PathFileAccessError;
    default:
        return DeviceIoError;
    }
}

// "*" and "?" as wildcards, everything else literal; "[" and "]" are ordinary characters in file names here.
QRegularExpression namePattern(const QString& name) {
    QString expression;
    expression.reserve(name.size() * 2 + 2);
    for (const QChar c : name) {
        if (c == u'*')
            expression += QStringLiteral(".*");
        else if (c == u'?')
            expression += QLatin1Char('.');
        else
            expression += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                              QRegularExpression::CaseInsensitiveOption |
                                  QRegularExpression::DotMatchesEverythingOption);
}

} // namespace

DiskSpace diskSpace(const QString& directory) {
    DiskSpace space;
    struct statvfs figures {};
    if (statvfs(QFile::encodeName(directory).constData(), &figures) != 0) {
        const int error = errno;
        space.errorNumber = classicNumber(error);
        space.errorDescription = QString::fromLocal8Bit(std::strerror(error));
        return space;
    }
    space.clusterBytes = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
    space.totalClusters = figures.f_blocks;
    space.freeClusters = figures.f_bavail;
    return space;
}

std::optional<QString> firstMatch(const QString& pattern) {
    const qsizetype slash = pattern.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0    ? QStringLiteral(".")
                           : slash == 0 ? QStringLiteral("/")
                                        : pattern.left(slash);
    const QRegularExpression name = namePattern(pattern.mid(slash + 1));
    const QDir dir(folder);
    if (!dir.exists())
        return std::nullopt;
    for (const QString& entry : dir.entryList(QDir::Files, QDir::Name)) {
        if (name.match(entry).hasMatch())
            return entry;
    }
    return std::nullopt;
}

} // namespace FileSystem
