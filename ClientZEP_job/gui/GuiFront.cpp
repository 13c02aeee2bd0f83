#include "GuiFront.h"

#include "GuiMessageBox.h"
#include "MainWindow.h"

#include <QApplication>

namespace {

QCoreApplication* createApplication(int& argc, char** argv) {
    return new QApplication(argc, argv);
}

MessageBoxService* createMessageBoxService() {
    return new GuiMessageBoxService;
}

QObject* createWindow(frmMain& form) {
    auto* window = new MainWindow(form);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

const GuiFrontApi api{createApplication, createMessageBoxService, createWindow};

} // namespace

extern "C" Q_DECL_EXPORT const GuiFrontApi* zepgui_front() {
    return &api;
}
