#pragma once

#include <QString>

// Where the program lives and what it is called.
namespace ProgramInfo {

// The folder that holds the executable, without a trailing separator; the folder that ZEPJOB_PROGRAM_FOLDER
// names when it is set (a service's program folder, see ExecGate.h).
QString folder();

// The executable's own file name as the file system lists it (no ".exe" on Linux), or ZEPJOB_PROGRAM_NAME
// when it is set (a build run from a memory file).
QString exeName();

// What the kernel runs in this process (the link /proc/self/exe as it reads): a path, or "/memfd:<name>
// (deleted)" for a program run from a memory file.
QString runningImage();

// The program version as "major.minor.revision".
QString versionText();

// Points folder() elsewhere; tests and tools run the program's logic in a temporary folder this way.
void setFolder(const QString& path);

} // namespace ProgramInfo
