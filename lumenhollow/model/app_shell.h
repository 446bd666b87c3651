#pragma once

// AppShell: what the camera model asks of the application around it, which
// only the window toolkit can do. The Qt application implements it; tests
// record the calls. Main executor only.

namespace lumenhollow {

class AppShell {
public:
    virtual ~AppShell() = default;

    // Makes the application an ordinary one again (with its window in the
    // task list) and gives it the focus.
    virtual void activateApplication() = 0;
    // Raises the main window and gives it the keyboard when it exists and is
    // visible; false when there is none or it is hidden.
    virtual bool bringMainWindowForward() = 0;

    // --- Quitting. The model asks for the end with requestTermination(); the
    // application answers, from a later turn of its event loop, by calling
    // CameraModel::handleTerminationRequest(), which runs the shutdown and
    // ends it with replyToTermination(). The model must live until then.

    // Ends every sheet attached to a window at once; true when there was one.
    virtual bool endAttachedSheets() = 0;
    // Asks the application to terminate.
    virtual void requestTermination() = 0;
    // The shutdown is over: the process may end. With `relaunch`, a new
    // instance of the program is started first. Called once.
    virtual void replyToTermination(bool relaunch) = 0;
};

}  // namespace lumenhollow
