#pragma once

#include "ErrorLog.h"
#include "VbError.h"

#include <QString>
#include <exception>

namespace FormGuard {

// Runs one of the main window's event handlers so that nothing it throws escapes into the event loop: what it
// throws is logged as a trapped error of `procedure` of the window.
template <typename Handler> void guarded(const char* procedure, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ErrorLog::WriteToFile(VbErrors::trappedText(e, QLatin1String(procedure), QStringLiteral("Form"),
                                                    QStringLiteral("frmMain")));
    }
}

} // namespace FormGuard
