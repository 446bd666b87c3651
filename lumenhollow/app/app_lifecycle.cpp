#include "lumenhollow/app/app_lifecycle.h"

#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

AppLifecycle::AppLifecycle(hollowkit::MainExecutor& main, Hooks hooks) : main_(main), hooks_(std::move(hooks)) {}

void AppLifecycle::quit() {
    if (auto model = model_.lock()) {
        model->afterClosingSheets();
    } else if (!replied_) {
        // Quitting before the model exists: nothing to shut down.
        replyToTermination(false);
    }
}

AfterMainWindowClosed AppLifecycle::mainWindowClosed() {
    auto model = model_.lock();
    if (!model) return AfterMainWindowClosed::quit;
    CloseSituation situation;
    situation.closeBehavior = model->state().closeBehavior;
    situation.showInNotch = model->state().showInNotch;
    situation.islandAvailable = hooks_.islandAvailable && hooks_.islandAvailable();
    // The tray is asked only where it decides: its answer comes from the
    // desktop, over the session bus.
    situation.trayAvailable = false;
    AfterMainWindowClosed after = afterMainWindowClosed(situation);
    situation.trayAvailable = true;
    if (const AfterMainWindowClosed withTray = afterMainWindowClosed(situation);
        withTray != after && hooks_.trayAvailable && hooks_.trayAvailable()) {
        after = withTray;
    }
    if (after == AfterMainWindowClosed::quit) {
        // As the last window closing does: straight to termination, without
        // the sheets' quit request (the window and its sheets are gone).
        requestTermination();
    } else if (hooks_.hideMainWindow) {
        hooks_.hideMainWindow();
    }
    return after;
}

bool AppLifecycle::bringMainWindowForward() {
    return hooks_.bringMainWindowForward && hooks_.bringMainWindowForward();
}

bool AppLifecycle::endAttachedSheets() {
    return hooks_.endAttachedSheets && hooks_.endAttachedSheets();
}

void AppLifecycle::requestTermination() {
    // Every way out comes here once the model agrees to end, and nothing
    // turns it back.
    if (!std::exchange(terminating_, true) && hooks_.terminating) hooks_.terminating();
    // Answered from a later turn, as the toolkit answers; the model ignores
    // a second request while its shutdown runs.
    main_.post([this] {
        if (auto model = model_.lock()) {
            model->handleTerminationRequest();
        } else {
            replyToTermination(false);  // nothing to shut down
        }
    });
}

void AppLifecycle::replyToTermination(bool relaunch) {
    if (replied_) return;
    replied_ = true;
    if (relaunch && hooks_.relaunch && !hooks_.relaunch()) {
        hollowkit::PocketLog::log("Could not start Lumenhollow again; quitting without it");
    }
    if (hooks_.exit) hooks_.exit(0);
}

}  // namespace lumenhollow
