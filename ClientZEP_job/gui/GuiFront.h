#pragma once

class MessageBoxService;
class QCoreApplication;
class QObject;
class frmMain;

// The window front. The program loads it as a plugin (ClientZEP_job_gui.so beside the executable) only when
// it has a display, so the headless bot never maps the Widgets and GUI libraries.
struct GuiFrontApi {
    // The widget application; created before anything else, as the event loop of the whole program.
    QCoreApplication* (*createApplication)(int& argc, char** argv);
    // Modal message boxes on screen.
    MessageBoxService* (*createMessageBoxService)();
    // The main window over `form`, shown. It closes itself when the form unloads.
    QObject* (*createWindow)(frmMain& form);
};

// The plugin's one exported symbol.
extern "C" const GuiFrontApi* zepgui_front();

inline constexpr const char* GuiFrontPluginName = "ClientZEP_job_gui";
inline constexpr const char* GuiFrontEntry = "zepgui_front";
