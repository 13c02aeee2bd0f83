#include "TestSupport.h"
#include "modWaitProc.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using TestSupport::readAll;

TEST(RunAndWaitTest, WaitsForTheProgramToEnd) {
    QTemporaryDir dir;
    for (const auto& [hidden, minimised] :
         {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        SCOPED_TRACE(testing::Message() << "hidden " << hidden << ", minimised " << minimised);
        QFile::remove(dir.path() + "/done");
        QElapsedTimer timer;
        timer.start();
        modWaitProc::RunAndWait("/bin/sh", 0, "-c \"sleep 0.3; echo finished > done\"", dir.path(), hidden,
                                minimised);
        EXPECT_GE(timer.elapsed(), 300);
        EXPECT_EQ(readAll(dir.path() + "/done"), QByteArray("finished\n"));
    }
}

TEST(RunAndWaitTest, PassesTheParametersAsWordsWithoutAShell) {
    QTemporaryDir dir;
    const QString script = dir.path() + "/print-args";
    TestSupport::writeScript(script, "printf '%s|' \"$@\" > args\n");

    // Words split at blanks, double quotes group; nothing else is special, as on the command line of the
    // system the callers were written for.
    modWaitProc::RunAndWait(script, 0, "12  \"two words\" '$HOME' a'b ; `x`", dir.path(), true, false);
    EXPECT_EQ(readAll(dir.path() + "/args"), QByteArray("12|two words|'$HOME'|a'b|;|`x`|"));
}

TEST(RunAndWaitTest, ATalkativeChildDoesNotBlock) {
    QTemporaryDir dir;
    // Far more than a pipe holds.
    modWaitProc::RunAndWait("/bin/sh", 0, "-c \"head -c 300000 /dev/zero; echo > done\"", dir.path(), true,
                            false);
    EXPECT_TRUE(QFile::exists(dir.path() + "/done"));
}

TEST(RunAndWaitTest, AProgramThatCannotStartReturnsAtOnce) {
    QTemporaryDir dir;
    const QString notExecutable = dir.path() + "/plain.txt";
    TestSupport::touch(notExecutable);
    for (const QString& program : {dir.path() + "/missing-program", notExecutable}) {
        SCOPED_TRACE(program.toStdString());
        QElapsedTimer timer;
        timer.start();
        modWaitProc::RunAndWait(program, 0, "x", dir.path(), false, false);
        EXPECT_LT(timer.elapsed(), 2000);
    }
    // A working directory that does not exist cannot start the program either.
    modWaitProc::RunAndWait("/bin/sh", 0, "-c \"echo x > /dev/null\"", dir.path() + "/no-such-dir", false,
                            false);
}

} // namespace
