#include "Version.h"

#ifndef ZEPJOB_REVISION
#error "ZEPJOB_REVISION must be defined by the build"
#endif

#define ZEPJOB_TEXT(x) #x
#define ZEPJOB_VERSION_TEXT(major, minor, revision)                                                          \
    ZEPJOB_TEXT(major) "." ZEPJOB_TEXT(minor) "." ZEPJOB_TEXT(revision)

namespace Version {
const int Major = 3;
const int Minor = 4;
const int Revision = ZEPJOB_REVISION;
const char* const Text = ZEPJOB_VERSION_TEXT(3, 4, ZEPJOB_REVISION);
} // namespace Version
