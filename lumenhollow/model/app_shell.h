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
};

}  // namespace lumenhollow
