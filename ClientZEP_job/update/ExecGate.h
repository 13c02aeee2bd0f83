#pragma once

#include <QString>

// What a service may run from the program folder, which its own account can write: only a program whose
// release signature holds for the very bytes that are then executed. The program is copied into a sealed
// memory file, checked there and executed from there (fexecve), so no one can change it between the check
// and the run. Anything else in that folder never runs (the unit mounts it noexec); the packaged,
// root-owned copy runs instead. Root itself (real or effective user id 0) runs only the packaged build.
//
// The release key is the one of the system's deployment.ini (only root writes it; read by its fixed path,
// never through a link) or the one built in; a service's folder has no say in it. Every file read here is
// opened without following a link and without waiting, and read only when it is a plain file.
//
// The unit starts the packaged program with ZEPJOB_PROGRAM_FOLDER naming the program folder. A build run
// from a memory file learns its folder and name from ZEPJOB_PROGRAM_FOLDER and ZEPJOB_PROGRAM_NAME (see
// ProgramInfo), and the packaged folder from ZEPJOB_INSTALLED_FOLDER.
namespace ExecGate {

inline constexpr const char* ProgramFolderVariable = "ZEPJOB_PROGRAM_FOLDER";
inline constexpr const char* InstalledFolderVariable = "ZEPJOB_INSTALLED_FOLDER";

// At the start of main: when the program is started from outside the program folder that
// ZEPJOB_PROGRAM_FOLDER names, and that folder holds "<own name>" with "<own name>.minisig" signed by the
// release key as "<own name> <revision>" with a revision above this build's, that build replaces this
// process and this call does not return (never for root). Otherwise it returns, with a line on standard error
// when a build was there but refused, and this build runs.
void RunNewerBuild(char** argv);

// The path to run the sibling program `name` by: outside such a service `folder`/`name` itself; inside it, a
// sealed memory file of `folder`/`name` when that copy's signature holds ("<name> <any version>"), else the
// packaged copy (the folder's copy may just be the package's own, which is no reason to say anything).
// Root is given the packaged copy alone.
QString Runnable(const QString& folder, const QString& name);

// Starts the program `name` of `folder`, which has no packaged copy to fall back on, without waiting for it
// and in that folder, only from a sealed copy whose release signature holds ("<name> <any version>"), in a
// service or not. The empty text when it started, else why not.
QString StartSigned(const QString& folder, const QString& name);

} // namespace ExecGate
