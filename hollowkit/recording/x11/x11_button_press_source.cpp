#include "hollowkit/recording/x11/x11_button_press_source.h"

#include "hollowkit/base/pocket_log.h"

namespace hollowkit {
namespace {

constexpr std::string_view kButtonsThread = "HollowKit.Buttons";

}  // namespace

X11ButtonPressSource::X11ButtonPressSource(std::string displayName) : displayName_(std::move(displayName)) {}

X11ButtonPressSource::~X11ButtonPressSource() {
    stop();
}

bool X11ButtonPressSource::start() {
    MutexLock control(controlMutex_);
    if (listener_) return true;
    {
        MutexLock lock(mutex_);
        changes_.clear();
        broken_ = false;
    }
    auto started = X11InputListener::start(
        x11::EventWatch::Kind::primaryButton, displayName_, kButtonsThread,
        [this](const x11::EventWatch::Drained& drained, TimePoint arrived) { note(drained, arrived); });
    if (!started) {
        PocketLog::logf("Button presses are only sampled: %s", started.error().c_str());
        return false;
    }
    listener_ = std::move(started.value());
    return true;
}

void X11ButtonPressSource::stop() {
    std::unique_ptr<X11InputListener> listener;
    {
        MutexLock control(controlMutex_);
        listener = std::move(listener_);
    }
    // Joined here, outside the lock.
    listener.reset();
}

std::optional<std::vector<ButtonChange>> X11ButtonPressSource::takeChanges() {
    MutexLock lock(mutex_);
    if (broken_) return std::nullopt;
    std::vector<ButtonChange> taken;
    taken.swap(changes_);
    return taken;
}

void X11ButtonPressSource::note(const x11::EventWatch::Drained& drained, TimePoint arrived) {
    MutexLock lock(mutex_);
    if (drained.broke) broken_ = true;
    std::optional<RootPoint> at;
    if (drained.pointer) at = RootPoint{drained.pointer->first, drained.pointer->second};
    for (const bool down : drained.primaryButton) changes_.push_back({arrived, down, at});
    if (changes_.size() > kMaxKeptChanges) {
        changes_.erase(changes_.begin(), changes_.end() - static_cast<std::ptrdiff_t>(kMaxKeptChanges));
    }
}

}  // namespace hollowkit
