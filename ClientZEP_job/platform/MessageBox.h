#pragma once

#include <QString>
#include <QStringList>

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

// Keeps every text shown while it is installed; for tests.
class MessageBoxRecorder : public MessageBoxService {
public:
    MessageBoxRecorder() : previous_(MessageBox::install(this)) {}
    ~MessageBoxRecorder() override { MessageBox::install(previous_); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    void show(const QString& text) override { texts.append(text); }
    QStringList texts;

private:
    MessageBoxService* previous_;
};
