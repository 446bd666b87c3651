#pragma once

// AppLifecycle: the application's side of quitting, and the model's
// AppShell. Every way out (the Quit commands, SIGTERM, SIGINT, SIGHUP, the
// session's logout) calls quit(), the model's quit request; the model then
// asks for termination, which is answered on a later turn with the model's
// shutdown; its one reply relaunches when asked and ends the event loop.
//
// However many quit requests, termination requests and window closes come
// in, the shutdown runs once and the process is ended once: the model
// ignores later requests, and the reply is passed on only the first time.
// A relaunch that fails is logged and the process still ends.
//
// Toolkit-free: the window and the process are reached through Hooks, so
// the whole sequence runs on a ManualExecutor in tests. Main executor only.

#include <functional>
#include <memory>

#include "hollowkit/base/executor.h"
#include "lumenhollow/app/close_policy.h"
#include "lumenhollow/model/app_shell.h"

namespace lumenhollow {

class CameraModel;

class AppLifecycle final : public AppShell {
public:
    struct Hooks {
        // Raises the main window and gives it the keyboard when it exists and
        // is visible; false otherwise.
        std::function<bool()> bringMainWindowForward;
        // Ends every open sheet; true when there was one.
        std::function<bool()> endAttachedSheets;
        // Hides the main window, the application staying reachable elsewhere.
        std::function<void()> hideMainWindow;
        // Where the application can be reached once its window is gone.
        std::function<bool()> islandAvailable;
        std::function<bool()> trayAvailable;
        // The program has begun to end (once, as termination is asked for).
        std::function<void()> terminating;
        // Starts a new process of this program; false when it could not.
        std::function<bool()> relaunch;
        // Ends the event loop with `status`.
        std::function<void(int status)> exit;
    };

    AppLifecycle(hollowkit::MainExecutor& main, Hooks hooks);

    // The model, once made; the lifecycle holds it weakly.
    void setModel(const std::shared_ptr<CameraModel>& model) { model_ = model; }

    // Every quit path: the model's quit request.
    void quit();
    // The main window was closed by the user: quit or keep running, as
    // afterMainWindowClosed() decides from the model's settings.
    AfterMainWindowClosed mainWindowClosed();

    bool hasReplied() const { return replied_; }

    // AppShell.
    void activateApplication() override {}
    bool bringMainWindowForward() override;
    bool endAttachedSheets() override;
    void requestTermination() override;
    void replyToTermination(bool relaunch) override;

private:
    hollowkit::MainExecutor& main_;
    const Hooks hooks_;
    std::weak_ptr<CameraModel> model_;
    bool terminating_ = false;
    bool replied_ = false;
};

}  // namespace lumenhollow
