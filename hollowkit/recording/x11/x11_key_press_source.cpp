#include "hollowkit/recording/x11/x11_key_press_source.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cstdint>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/x11/event_watch.h"

namespace hollowkit {
namespace {

constexpr std::string_view kThreadLabel = "HollowKit.KeyPresses";

}  // namespace

struct X11KeyPressSource::Listener {
    std::unique_ptr<x11::EventWatch> watch;
    UniqueFd wake;
    std::thread thread;
};

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

    auto opened = x11::EventWatch::open(x11::EventWatch::Kind::keyPresses, displayName_);
    if (!opened) {
        PocketLog::logf("Key presses are not recorded: %s", opened.error().c_str());
        return false;
    }
    auto listener = std::make_unique<Listener>();
    listener->watch = std::move(opened.value());
    listener->wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!listener->wake) return false;

    Listener* raw = listener.get();
    listener->thread = std::thread([this, raw] {
        enterLibraryThread(kThreadLabel);
        pollfd fds[2] = {{raw->watch->fd(), POLLIN, 0}, {raw->wake.get(), POLLIN, 0}};
        for (;;) {
            // Only that a key went down; which one is never looked at.
            const x11::EventWatch::Drained drained = raw->watch->drain();
            const TimePoint arrived = SteadyClock::now();
            for (int i = 0; i < drained.events; ++i) noteKeyDown(arrived);
            if (raw->watch->broken()) return;
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if ((fds[1].revents & POLLIN) != 0) return;
        }
    });
    listener_ = std::move(listener);
    return true;
}

void X11KeyPressSource::stop() {
    std::unique_ptr<Listener> listener;
    {
        MutexLock control(controlMutex_);
        listener = std::move(listener_);
    }
    if (!listener) return;
    const uint64_t one = 1;
    (void)::write(listener->wake.get(), &one, sizeof one);
    if (listener->thread.joinable()) listener->thread.join();
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
