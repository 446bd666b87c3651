#include "lumenhollow/ui/window/activating_press.h"

#include <algorithm>

namespace lumenhollow {

void ActivatingPress::windowActivated() {
    // Openbox focuses the window before it sends the take-focus; another
    // manager may send it first. Either way the two belong together when no
    // press and no loss of focus came between them.
    if (waitingCount_ > 0 && !waiting_[waitingCount_ - 1].activated) {
        waiting_[waitingCount_ - 1].activated = true;
        return;
    }
    activatedAhead_ = true;
}

void ActivatingPress::windowDeactivated() {
    // Else a take-focus no press answered (one at start, or one for a click
    // on the frame) would take the next activation for itself.
    waitingCount_ = 0;
    activatedAhead_ = false;
}

void ActivatingPress::takeFocus(uint32_t serverTime) {
    // A later take-focus does not replace the one before: a keyboard
    // activation's own take-focus is answered by no press, and the click
    // after it brings a new one without an activation; but openbox's answer
    // to the window asking to be activated may come after the click's
    // take-focus and before its press. The press's time tells which it is.
    if (waitingCount_ == kKept) {
        std::move(waiting_.begin() + 1, waiting_.end(), waiting_.begin());
        --waitingCount_;
    }
    waiting_[waitingCount_++] = TakeFocus{serverTime, activatedAhead_};
    activatedAhead_ = false;
}

bool ActivatingPress::pressed(uint32_t serverTime) {
    // A take-focus of the press's time came with it; the manager's answer
    // to the activation request may carry the same time, without an
    // activation of its own.
    const auto end = waiting_.begin() + static_cast<std::ptrdiff_t>(waitingCount_);
    const bool activating = std::any_of(waiting_.begin(), end, [serverTime](const TakeFocus& waiting) {
        return waiting.activated && waiting.serverTime == serverTime;
    });
    waitingCount_ = 0;
    activatedAhead_ = false;
    return activating;
}

}  // namespace lumenhollow
