#include "HeadlessFront.h"

#include "frmMain.h"

#include <cstdio>

namespace {
void print(const QString& line) {
    std::fprintf(stderr, "ClientZEP_job: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}
} // namespace

HeadlessFront::HeadlessFront(frmMain& form) : QObject(&form) {
    connect(&form, &frmMain::stateLine, this, print);
    connect(&form, &frmMain::captionChanged, this, [](const QString& caption) { print(QStringLiteral("window: ") + caption); });
}
