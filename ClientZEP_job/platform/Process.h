#pragma once

#include <QString>
#include <QStringList>

// Starting other programs. Never through a shell: arguments are passed as a list.
namespace Process {

// Starts `program` without waiting for it. Returns false when it could not be started.
bool startDetached(const QString& program, const QStringList& arguments = {});

// Opens `folder` in the desktop's file browser.
bool openFolder(const QString& folder);

} // namespace Process
