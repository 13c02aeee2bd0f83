#pragma once

#include <QFile>
#include <QProcess>
#include <QString>

// Builds `folder`/`name`, a 32-bit Windows executable whose version resource holds FileVersion `version`,
// with the real mingw-w64 resource compiler and linker. Returns what went wrong, or the empty text.
inline QString buildVersionedExecutable(const QString& folder, const QString& name, const QString& version) {
    const QString stem = folder + "/" + QString(name).replace('.', '_');
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    if (!write(stem + ".c", "int main(void) { return 0; }\n") ||
        !write(stem + ".rc",
               "1 VERSIONINFO\nBEGIN\nBLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"041204B0\"\nBEGIN\n"
               "VALUE \"FileVersion\", \"" +
                   version.toLatin1() + "\"\nEND\nEND\nEND\n"))
        return "cannot write the sources in " + folder;
    const std::pair<QString, QStringList> steps[] = {
        {"i686-w64-mingw32-windres", {stem + ".rc", "-O", "coff", "-o", stem + ".o"}},
        {"i686-w64-mingw32-gcc", {"-s", stem + ".c", stem + ".o", "-o", folder + "/" + name}},
    };
    for (const auto& [program, arguments] : steps) {
        QProcess p;
        p.start(program, arguments);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return program + ": " + p.errorString() + " " + QString::fromLocal8Bit(p.readAllStandardError());
    }
    for (const char* suffix : {".c", ".rc", ".o"})
        QFile::remove(stem + suffix);
    return QString();
}
