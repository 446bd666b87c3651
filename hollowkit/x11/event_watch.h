#pragma once

// EventWatch: one kind of the X server's events, heard over a connection of
// its own, so the selections of other clients in the process (Qt's own
// XInput and XFixes ones, the clipboard's) stay untouched. It opens the
// connection, checks the extension and its version, and selects the events
// on the default screen's root window; the owner waits for fd() to become
// readable (a poll loop or a toolkit's socket notifier) and calls drain().
// A watch whose connection breaks says so in the log, once, and drain()
// reports it; the owner then falls back to what it did without one.
// One thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hollowkit/base/result.h"
#include "hollowkit/x11/xcb_connection.h"

namespace hollowkit::x11 {

// The compositor selection of a connection's screen, whose owner changes
// are told to that connection.
struct CompositorSelection {
    uint32_t atom = 0;        // _NET_WM_CM_S<n>
    uint8_t notifyEvent = 0;  // the event number of XFixes' selection notify

    bool operator==(const CompositorSelection&) const = default;
};

// Asks the server to tell `connection` of every change of the owner of its
// screen's compositor selection (XFixes selection events on the root
// window), so a compositing manager that starts or stops is followed
// whatever else changes. The error says why not, for the log. The
// connection's thread.
Result<CompositorSelection, std::string> followCompositorSelection(const Connection& connection);

class EventWatch {
public:
    enum class Kind : uint8_t {
        none = 0,
        pointerActivity,  // XInput 2.1 raw motion and button presses anywhere
        keyPresses,       // XInput 2.1 raw key presses anywhere
        compositorOwner,  // XFixes: the owner of the screen's compositor selection
        primaryButton,    // XInput 2.1 raw presses and releases of the primary (left) button
    };

    struct Drained {
        int events = 0;       // of the watched kind
        bool broke = false;   // the connection broke now (reported once)
        // primaryButton: each change in the order the server sent them,
        // true where the button went down, and where the pointer was when
        // they were read (root-window pixels; nothing when not asked).
        std::vector<bool> primaryButton;
        std::optional<std::pair<int32_t, int32_t>> pointer;
        // The root's child under the pointer then (a top-level window or a
        // frame); 0 over the bare desktop or when not asked.
        uint32_t pointerChild = 0;
        bool operator==(const Drained&) const = default;
    };

    // Opens the watch on `displayName` ("" for $DISPLAY). The error says
    // why not, for the log.
    static Result<std::unique_ptr<EventWatch>, std::string> open(Kind kind, const std::string& displayName = {});
    ~EventWatch();
    EventWatch(const EventWatch&) = delete;
    EventWatch& operator=(const EventWatch&) = delete;

    Kind kind() const { return kind_; }
    // Readable while events wait (or once the connection broke).
    int fd() const;
    // Takes every event waiting, including those a reply brought along,
    // which the socket will not announce again.
    Drained drain();
    bool broken() const { return connection_.broken(); }

    // compositorOwner only: whether a compositing manager owns the screen
    // now (asked of the server). False once broken.
    bool compositorRuns() const;

    // What the log calls a watch of `kind`.
    static std::string_view describe(Kind kind);

private:
    EventWatch(Kind kind, Connection connection) : kind_(kind), connection_(std::move(connection)) {}

    const Kind kind_;
    Connection connection_;
    uint8_t inputOpcode_ = 0;    // XInput's, for the raw kinds
    uint32_t selection_ = 0;     // the compositor selection's atom
    uint32_t primaryButton_ = 1;  // the device button the server maps to button 1
    bool brokeReported_ = false;
};

}  // namespace hollowkit::x11
