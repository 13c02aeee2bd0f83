#pragma once

#include <QString>

// The web certificate-code updater that lives beside the program.
namespace SiblingTool {

// File name of the updater tool in the program folder.
QString CodeUpdaterFileName();

// Starts the updater from `folder` without waiting, when the file is there and its release signature holds
// ("인증코드갱신툴.exe <version>", by the key the exec gate trusts): it runs from a sealed copy of the bytes
// that were checked. A missing tool is no fault: the empty text, and nothing starts. A tool that is there but
// is not run is named in one error-log line, and the reason is returned.
QString StartCodeUpdater(const QString& folder);

} // namespace SiblingTool
