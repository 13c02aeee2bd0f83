#pragma once

#include "MessageBox.h"

#include <QStringList>

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
