#pragma once

// The program's own version: shown in the caption, the "ver" reply and the version packet. The revision is a
// build option (ZEPJOB_REVISION); the values live in Version.cpp, compiled into each executable's link, so
// that a second executable of the same libraries can carry another revision.
namespace Version {
extern const int Major;
extern const int Minor;
extern const int Revision;
// "major.minor.revision"
extern const char* const Text;
} // namespace Version
