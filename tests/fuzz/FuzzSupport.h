#pragma once

#include "MessageBox.h"
#include "ProgramInfo.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What every fuzz target shares: a Qt application object (never run: no event loop, so no timer ever fires),
// a program folder of its own on a RAM-backed file system, message boxes that nobody has to dismiss, and the
// abort that libFuzzer reports as a finding.
namespace FuzzSupport {

// Counts the message boxes instead of showing them.
class SilentMessageBoxes : public MessageBoxService {
public:
    void show(const QString&) override { ++shown; }
    long shown = 0;
};

struct Environment {
    QTemporaryDir folder;
    SilentMessageBoxes boxes;

    // Files written for every input belong in memory, not on the disk.
    static QString scratchRoot() {
        const QString shm = QStringLiteral("/dev/shm");
        const QFileInfo info(shm);
        return info.isDir() && info.isWritable() ? shm : QDir::tempPath();
    }

    Environment() : folder(scratchRoot() + QStringLiteral("/zepjob-fuzz-XXXXXX")) {
        if (!folder.isValid()) {
            std::fprintf(stderr, "fuzz: cannot make a program folder under %s\n", qPrintable(scratchRoot()));
            std::abort();
        }
        ProgramInfo::setFolder(folder.path());
        MessageBox::install(&boxes);
    }
};

// Sets everything up once, from LLVMFuzzerInitialize or the first input.
inline Environment& environment() {
    static int argc = 1;
    static char name[] = "zepjob-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Environment env;
    return env;
}

inline QString programFolder() {
    return environment().folder.path();
}

// Replaces `path` with `bytes`; a failure here is the machine's, not the program's, so it stops the run.
inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

inline QByteArray bytesOf(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A property of the code under test does not hold: libFuzzer keeps the input as a crash.
[[noreturn]] inline void violated(const char* property, const QString& detail = QString()) {
    std::fprintf(stderr, "fuzz: property violated: %s\n%s\n", property, qPrintable(detail));
    std::abort();
}

} // namespace FuzzSupport
