#include "ProgramInfo.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every test runs with the program folder in a temporary directory, so logs never land beside the binary.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir folder;
    ProgramInfo::setFolder(folder.path());
    return RUN_ALL_TESTS();
}
