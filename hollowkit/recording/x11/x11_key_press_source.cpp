#include "hollowkit/recording/x11/x11_key_press_source.h"

#include "hollowkit/base/pocket_log.h"

namespace hollowkit {
namespace {

constexpr std::string_view kKeyPressesThread = "HollowKit.KeyPresses";

}  // namespace

X11KeyPressSource::X11KeyPressSource(std::string displayName) : displayName_(std::move(displayName)) {}

X11KeyPressSource::~X11KeyPressSource() {
    stop();
}

bool X11KeyPressSource::start() {
    MutexLock control(controlMutex_);
    if (listener_) return true;
    {
        MutexLock lock(mutex_);
        lastKeyDown_.reset();
    }
    count_.store(0);

    // Only that a key went down; which one is never looked at.
    auto started = X11InputListener::start(
        x11::EventWatch::Kind::keyPresses, displayName_, kKeyPressesThread,
        [this](const x11::EventWatch::Drained& drained, TimePoint arrived) {
            for (int i = 0; i < drained.events; ++i) noteKeyDown(arrived);
        });
    if (!started) {
        PocketLog::logf("Key presses are not recorded: %s", started.error().c_str());
        return false;
    }
    listener_ = std::move(started.value());
    return true;
}

void X11KeyPressSource::stop() {
    std::unique_ptr<X11InputListener> listener;
    {
        MutexLock control(controlMutex_);
        listener = std::move(listener_);
    }
    // Joined here, outside the lock.
    listener.reset();
}

std::optional<TimePoint> X11KeyPressSource::lastKeyDown() const {
    MutexLock lock(mutex_);
    return lastKeyDown_;
}

void X11KeyPressSource::noteKeyDown(TimePoint time) {
    {
        MutexLock lock(mutex_);
        lastKeyDown_ = time;
    }
    count_.fetch_add(1);
}

}  // namespace hollowkit
