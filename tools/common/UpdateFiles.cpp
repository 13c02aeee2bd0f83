#include "UpdateFiles.h"

#include "OwnFile.h"
#include "ProgramInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace UpdateFiles {
namespace {

// Identification, type and machine: the first 20 bytes of an ELF header.
constexpr qsizetype HeaderBytes = 20;

// The first bytes of a plain file, never through a link or from a FIFO (the kernel's own link to this
// program excepted).
QByteArray header(const QString& path, bool followLink = false) {
    const int fd = OwnFile::openPlain(path, followLink);
    if (fd < 0)
        return {};
    QByteArray bytes(HeaderBytes, Qt::Uninitialized);
    const ssize_t n = ::pread(fd, bytes.data(), size_t(bytes.size()), 0);
    ::close(fd);
    return n > 0 ? bytes.left(n) : QByteArray();
}

quint16 half(const QByteArray& h, qsizetype at) {
    const auto a = quint8(h[at]), b = quint8(h[at + 1]);
    return h[5] == 2 ? quint16(a << 8 | b) : quint16(b << 8 | a);
}

} // namespace

QString executableProblem(const QString& path) {
    return executableProblem(header(path));
}

QString executableProblem(const QByteArray& bytes) {
    const QByteArray own = header(QStringLiteral("/proc/self/exe"), true);
    const QByteArray candidate = bytes.left(HeaderBytes);
    if (candidate.size() < HeaderBytes || !candidate.startsWith("\x7f"
                                                                "ELF"))
        return QStringLiteral("not an ELF program");
    if (own.size() < HeaderBytes)
        return QStringLiteral("cannot read this program's own header");
    if (candidate[4] != own[4] || candidate[5] != own[5])
        return QStringLiteral("an ELF file of another word size or byte order");
    const quint16 type = half(candidate, 16);
    if (type != 2 && type != 3) // executable or position-independent executable
        return QStringLiteral("an ELF file that is no program");
    if (half(candidate, 18) != half(own, 18))
        return QStringLiteral("an ELF program for machine %1, not %2")
            .arg(half(candidate, 18))
            .arg(half(own, 18));
    return QString();
}

bool makeExecutable(const QString& path) {
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                           QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
}

bool replace(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

void say(const QString& text) {
    // Run from a sealed memory file (a service's verified copy), the program is "/memfd:<name> (deleted)".
    const QString running = ProgramInfo::runningImage();
    QString name =
        running.startsWith(QLatin1String("/memfd:")) ? running.mid(7).section(QLatin1Char(' '), 0, 0)
        : QCoreApplication::instance() ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                                       : QStringLiteral("update");
    std::fprintf(stderr, "%s: %s\n", name.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace UpdateFiles
