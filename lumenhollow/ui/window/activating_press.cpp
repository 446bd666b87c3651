#include "lumenhollow/ui/window/activating_press.h"

namespace lumenhollow {

void ActivatingPress::windowActivated() {
    // Openbox focuses the window before it sends the take-focus; another
    // manager may send it first. Either way the two belong together when no
    // press and no loss of focus came between them.
    if (waiting_ && !waiting_->activated) {
        waiting_->activated = true;
        return;
    }
    activatedAhead_ = true;
}

void ActivatingPress::windowDeactivated() {
    // Else a take-focus no press answered (one at start, or one for a click
    // on the frame) would take the next activation for itself.
    waiting_.reset();
    activatedAhead_ = false;
}

void ActivatingPress::takeFocus(uint32_t serverTime) {
    // A later take-focus replaces the last: a keyboard activation's own
    // take-focus is answered by no press, and the click after it brings a
    // new one without an activation.
    waiting_ = TakeFocus{serverTime, activatedAhead_};
    activatedAhead_ = false;
}

bool ActivatingPress::pressed(uint32_t serverTime) {
    const bool activating = waiting_ && waiting_->activated && waiting_->serverTime == serverTime;
    waiting_.reset();
    activatedAhead_ = false;
    return activating;
}

}  // namespace lumenhollow
