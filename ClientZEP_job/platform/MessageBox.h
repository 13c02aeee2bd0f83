#pragma once

#include <QString>

// Modal message boxes with an OK button. The GUI front shows a real box; headless, the text goes to standard
// error and the call returns as if OK had been pressed; tests install a recorder.
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual void show(const QString& text) = 0;
};

namespace MessageBox {

// Shows `text` through the installed service and returns when it is dismissed.
void show(const QString& text);

// Installs `service` (not owned) and returns the previous one; nullptr restores the standard-error service.
MessageBoxService* install(MessageBoxService* service);

} // namespace MessageBox
