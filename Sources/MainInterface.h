// The main interface definition: creates the one window with its controls and the wizard
// controller, connects the controller's outlets and wires the next and previous buttons.
#pragma once

#include <memory>

class ZVUninstaller;
class ZVUninstallerWindow;

class MainInterface {
public:
    // Loads the interface; the controller has its outlets but has not been woken yet.
    MainInterface();
    ~MainInterface();

    ZVUninstallerWindow *window() const { return m_window.get(); }
    ZVUninstaller *controller() const { return m_controller.get(); }

private:
    std::unique_ptr<ZVUninstallerWindow> m_window;
    std::unique_ptr<ZVUninstaller> m_controller;
};

// The application main routine: loads the interface, wakes the controller and runs the
// event loop until the application is terminated.
int NSApplicationMain();
