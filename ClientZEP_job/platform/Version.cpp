#include "Version.h"

// The revision of the build folder, unless the executable compiles its own copy of this file with another.
#ifndef ZEPJOB_REVISION
#define ZEPJOB_REVISION ZEPJOB_VERSION_REVISION
#endif

#define ZEPJOB_TEXT(x) #x
#define ZEPJOB_VERSION_TEXT(major, minor, revision)                                                          \
    ZEPJOB_TEXT(major) "." ZEPJOB_TEXT(minor) "." ZEPJOB_TEXT(revision)

namespace Version {
const int Revision = ZEPJOB_REVISION;
const char* const Text = ZEPJOB_VERSION_TEXT(ZEPJOB_VERSION_MAJOR, ZEPJOB_VERSION_MINOR, ZEPJOB_REVISION);
} // namespace Version
