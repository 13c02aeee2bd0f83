#include "ProgramInfo.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

// The window tests need a widget application on a display; the program folder is a temporary directory so the
// error log and the received-files folder never land beside the binary.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot create a temporary program folder\n");
        return 1;
    }
    ProgramInfo::setFolder(folder.path());
    return RUN_ALL_TESTS();
}
