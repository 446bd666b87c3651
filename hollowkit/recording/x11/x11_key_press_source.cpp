#include "hollowkit/recording/x11/x11_key_press_source.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdint>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/recording/x11/xcb_connection.h"

namespace hollowkit {
namespace {

constexpr std::string_view kThreadLabel = "HollowKit.KeyPresses";

}  // namespace

struct X11KeyPressSource::Listener {
    x11::Connection connection;
    uint8_t inputOpcode = 0;
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

    auto opened = x11::openConnection(displayName_);
    if (!opened) {
        PocketLog::logf("Key presses are not recorded: %s", opened.error().c_str());
        return false;
    }
    auto listener = std::make_unique<Listener>();
    listener->connection = std::move(opened.value());
    xcb_connection_t* c = listener->connection.get();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_input_id);
    auto version = extension != nullptr && extension->present != 0
                       ? x11::ask(xcb_input_xi_query_version_reply, c, xcb_input_xi_query_version(c, 2, 2))
                       : nullptr;
    // Raw events reach a root-window client regardless of focus from 2.1 on.
    if (!version || (version->major_version < 2) ||
        (version->major_version == 2 && version->minor_version < 1)) {
        PocketLog::log("Key presses are not recorded: the display has no XInput 2.1");
        return false;
    }
    listener->inputOpcode = extension->major_opcode;

    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{};
    selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    selection.head.mask_len = 1;
    selection.mask = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS;
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, listener->connection.root, 1, &selection.head));
    if (error != nullptr) {
        std::free(error);
        PocketLog::log("Key presses are not recorded: the display refused the selection");
        return false;
    }
    listener->wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!listener->wake) return false;

    Listener* raw = listener.get();
    listener->thread = std::thread([this, raw] {
        enterLibraryThread(kThreadLabel);
        xcb_connection_t* connection = raw->connection.get();
        pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {raw->wake.get(), POLLIN, 0}};
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                const TimePoint arrived = SteadyClock::now();
                if ((event->response_type & 0x7F) == XCB_GE_GENERIC) {
                    const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
                    // Only that a key went down; which one is never looked at.
                    if (generic->extension == raw->inputOpcode && generic->event_type == XCB_INPUT_RAW_KEY_PRESS) {
                        noteKeyDown(arrived);
                    }
                }
                std::free(event);
            }
            if (xcb_connection_has_error(connection) != 0) return;
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
