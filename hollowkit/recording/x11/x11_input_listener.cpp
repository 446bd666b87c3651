#include "hollowkit/recording/x11/x11_input_listener.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "hollowkit/base/thread_name.h"

namespace hollowkit {

Result<std::unique_ptr<X11InputListener>, std::string> X11InputListener::start(x11::EventWatch::Kind kind,
                                                                              const std::string& displayName,
                                                                              std::string_view threadLabel,
                                                                              Handler handler) {
    auto opened = x11::EventWatch::open(kind, displayName);
    if (!opened) return unexpected(std::move(opened.error()));
    std::unique_ptr<X11InputListener> listener(new X11InputListener());
    listener->watch_ = std::move(opened.value());
    listener->wake_ = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!listener->wake_) return unexpected(std::string("no eventfd for the input thread"));

    x11::EventWatch* watch = listener->watch_.get();
    const int wake = listener->wake_.get();
    listener->thread_ = std::thread([watch, wake, label = std::string(threadLabel), handler = std::move(handler)] {
        enterLibraryThread(label);
        pollfd fds[2] = {{watch->fd(), POLLIN, 0}, {wake, POLLIN, 0}};
        for (;;) {
            const x11::EventWatch::Drained drained = watch->drain();
            if (drained.events > 0 || drained.broke) handler(drained, SteadyClock::now());
            if (watch->broken()) return;
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if ((fds[1].revents & POLLIN) != 0) return;
        }
    });
    return listener;
}

X11InputListener::~X11InputListener() {
    const uint64_t one = 1;
    (void)::write(wake_.get(), &one, sizeof one);
    if (thread_.joinable()) thread_.join();
}

}  // namespace hollowkit
