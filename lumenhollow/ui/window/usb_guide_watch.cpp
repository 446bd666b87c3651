#include "lumenhollow/ui/window/usb_guide_watch.h"

namespace lumenhollow {

UsbGuideWatch::UsbGuideWatch(hollowkit::MainExecutor& main, Hooks hooks) : main_(main), hooks_(std::move(hooks)) {}

UsbGuideWatch::~UsbGuideWatch() {
    stop();
}

void UsbGuideWatch::start() {
    if (started_ || stopped_) return;
    started_ = true;
    check();
}

void UsbGuideWatch::closed() {
    const bool pausing = isPausing();
    stop();
    if (pausing) hooks_.switchToUSB();
}

void UsbGuideWatch::stop() {
    stopped_ = true;
    if (task_ != 0) main_.cancel(task_);
    task_ = 0;
}

void UsbGuideWatch::check() {
    task_ = 0;
    if (stopped_) return;
    if (!hooks_.isPocketConnected()) {
        // A camera plugged in and pulled out between two checks goes unseen.
        task_ = main_.after(kPollInterval, [this] { check(); });
        return;
    }
    detected_ = true;
    if (hooks_.found) hooks_.found();
    if (stopped_) return;
    task_ = main_.after(kSwitchDelay, [this] {
        task_ = 0;
        if (stopped_) return;
        stopped_ = true;
        hooks_.switchToUSB();
    });
}

}  // namespace lumenhollow
