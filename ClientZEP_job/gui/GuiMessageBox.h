#pragma once

#include "MessageBox.h"

// Message boxes on screen: a modal box titled with the program name and an OK button.
class GuiMessageBoxService : public MessageBoxService {
public:
    void show(const QString& text) override;
};
