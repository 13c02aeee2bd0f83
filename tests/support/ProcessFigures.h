#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <malloc.h>

// What this process holds right now, read from /proc: the figures a long run must keep flat.
namespace ProcessFigures {

// AddressSanitizer holds freed memory in its quarantine (256 MB by default) and counts no heap in mallinfo2,
// so memory figures say nothing under it; its leak check at exit stands in for them there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool MemoryIsMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool MemoryIsMeasurable = false;
#else
inline constexpr bool MemoryIsMeasurable = true;
#endif
#else
inline constexpr bool MemoryIsMeasurable = true;
#endif

// Open file descriptors (the listing's own descriptor is counted alike every time).
inline int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

// A memory figure of /proc/self/status in kB ("VmRSS:"), or -1 when it cannot be read.
inline long statusKb(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Resident memory in kB (VmRSS), or -1 when it cannot be read.
inline long residentKb() {
    return statusKb("VmRSS:");
}

// The peak of resident memory in kB (VmHWM) since the start or the last resetPeak(), or -1.
inline long peakResidentKb() {
    return statusKb("VmHWM:");
}

// Starts the peak over from what is resident now; false where the kernel does not offer it.
inline bool resetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

// Bytes of the heap in use (allocated and not freed): what a leak shows in, whatever the allocator keeps.
inline long long heapInUseBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

} // namespace ProcessFigures
