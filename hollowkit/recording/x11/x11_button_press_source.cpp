#include "hollowkit/recording/x11/x11_button_press_source.h"

#include <unistd.h>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/x11/x11_window_owner.h"
#include "hollowkit/x11/xcb_connection.h"

namespace hollowkit {
namespace {

constexpr std::string_view kButtonsThread = "HollowKit.Buttons";

// Whose the window under the pointer is, asked on the listener's thread
// over a connection of its own (the watch's carries only its events).
struct WindowsUnderPointer {
    x11::Connection connection;
    std::unique_ptr<x11::WindowOwner> owner;

    std::optional<bool> overOwnWindow(const x11::EventWatch::Drained& drained) {
        if (!drained.pointer || !owner || connection.broken()) return std::nullopt;
        return drained.pointerChild != 0 && owner->owns(drained.pointerChild);
    }
};

}  // namespace

X11ButtonPressSource::X11ButtonPressSource(std::string displayName, uint32_t ownerPid)
    : displayName_(std::move(displayName)),
      ownerPid_(ownerPid != 0 ? ownerPid : static_cast<uint32_t>(::getpid())) {}

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
    // Without it a change is still kept, its place's owner left unknown.
    std::shared_ptr<WindowsUnderPointer> windows;
    if (auto opened = x11::openConnection(displayName_)) {
        windows = std::make_shared<WindowsUnderPointer>(WindowsUnderPointer{std::move(opened.value()), nullptr});
        windows->owner = std::make_unique<x11::WindowOwner>(windows->connection.get(), ownerPid_);
    }
    auto started = X11InputListener::start(
        x11::EventWatch::Kind::primaryButton, displayName_, kButtonsThread,
        [this, windows](const x11::EventWatch::Drained& drained, TimePoint arrived) {
            const bool changed = !drained.primaryButton.empty();
            note(drained, arrived, changed && windows ? windows->overOwnWindow(drained) : std::nullopt);
        });
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

void X11ButtonPressSource::note(const x11::EventWatch::Drained& drained, TimePoint arrived,
                                std::optional<bool> overApp) {
    MutexLock lock(mutex_);
    if (drained.broke) broken_ = true;
    std::optional<RootPoint> at;
    if (drained.pointer) at = RootPoint{drained.pointer->first, drained.pointer->second};
    for (const bool down : drained.primaryButton) changes_.push_back({arrived, down, at, overApp});
    if (changes_.size() > kMaxKeptChanges) {
        changes_.erase(changes_.begin(), changes_.end() - static_cast<std::ptrdiff_t>(kMaxKeptChanges));
    }
}

}  // namespace hollowkit
