#pragma once

#include "MessageBox.h"

// Message boxes on screen: a modal box titled with the program name and an OK button. Called from another
// thread, the box is shown by the GUI thread and the caller waits for it; without a widget application the
// text goes to standard error, as the headless service does.
class GuiMessageBoxService : public MessageBoxService {
public:
    void show(const QString& text) override;
};
