#pragma once

// X11InputListener: one raw-input EventWatch (key presses, the primary
// button) heard on a thread and connection of its own, from start() until
// it is destroyed. Each batch of events goes to the handler on that thread
// with the moment it arrived; the handler must not block. A connection that
// breaks is handed on once (Drained::broke) and ends the thread (the watch
// logs it). Owned by one input source;
// destroying it stops and joins the thread.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/x11/event_watch.h"

namespace hollowkit {

class X11InputListener {
public:
    using Handler = std::function<void(const x11::EventWatch::Drained& drained, TimePoint arrived)>;

    // The error says why the events cannot be heard here, for the log.
    static Result<std::unique_ptr<X11InputListener>, std::string> start(x11::EventWatch::Kind kind,
                                                                        const std::string& displayName,
                                                                        std::string_view threadLabel,
                                                                        Handler handler);
    ~X11InputListener();
    X11InputListener(const X11InputListener&) = delete;
    X11InputListener& operator=(const X11InputListener&) = delete;

private:
    X11InputListener() = default;

    std::unique_ptr<x11::EventWatch> watch_;
    UniqueFd wake_;
    std::thread thread_;
};

}  // namespace hollowkit
