#pragma once

#include <QString>

// The web certificate-code updater that lives beside the program.
namespace SiblingTool {

// File name of the updater tool in the program folder.
QString CodeUpdaterFileName();

// Starts the updater from `folder` without waiting, when the file is there. Returns whether it was started.
bool StartCodeUpdater(const QString& folder);

} // namespace SiblingTool
