#include "hollowkit/recording/x11/x11_window_owner.h"

#include <xcb/xcb.h>

#include <optional>
#include <vector>

#include "hollowkit/x11/xcb_connection.h"

namespace hollowkit::x11 {
namespace {

// How deep below a top-level window its client window is looked for: a
// window manager's frame holds it directly or one or two levels down.
constexpr int kClientSearchDepth = 3;
// Windows looked at on one level of that search.
constexpr size_t kClientSearchWidth = 64;

// What one window says about who it belongs to.
struct OwnerMarks {
    std::optional<uint32_t> pid;  // _NET_WM_PID
    bool managed = false;         // WM_STATE: a window manager's client window
};

// Asks for the marks of every window in `windows` at once, then waits.
std::vector<OwnerMarks> readOwnerMarks(xcb_connection_t* c, const std::vector<uint32_t>& windows, uint32_t pidAtom,
                                       uint32_t wmStateAtom) {
    std::vector<xcb_get_property_cookie_t> pids;
    std::vector<xcb_get_property_cookie_t> states;
    for (const uint32_t w : windows) {
        pids.push_back(xcb_get_property(c, 0, w, pidAtom, XCB_ATOM_CARDINAL, 0, 1));
        states.push_back(xcb_get_property(c, 0, w, wmStateAtom, XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
    }
    std::vector<OwnerMarks> marks(windows.size());
    for (size_t i = 0; i < windows.size(); ++i) {
        auto pid = ask(xcb_get_property_reply, c, pids[i]);
        if (pid && pid->type == XCB_ATOM_CARDINAL && pid->format == 32 &&
            xcb_get_property_value_length(pid.get()) >= 4) {
            marks[i].pid = *static_cast<const uint32_t*>(xcb_get_property_value(pid.get()));
        }
        auto state = ask(xcb_get_property_reply, c, states[i]);
        marks[i].managed = state && state->type != XCB_ATOM_NONE;
    }
    return marks;
}

// The children of every window in `windows`, in order, at most `limit`.
std::vector<uint32_t> childrenOf(xcb_connection_t* c, const std::vector<uint32_t>& windows, size_t limit) {
    std::vector<xcb_query_tree_cookie_t> cookies;
    for (const uint32_t w : windows) cookies.push_back(xcb_query_tree(c, w));
    std::vector<uint32_t> children;
    for (const auto& cookie : cookies) {
        auto tree = ask(xcb_query_tree_reply, c, cookie);
        if (!tree) continue;
        const xcb_window_t* ids = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        for (int i = 0; i < count && children.size() < limit; ++i) children.push_back(ids[i]);
    }
    return children;
}

}  // namespace

WindowOwner::WindowOwner(xcb_connection_t* connection, uint32_t pid)
    : connection_(connection),
      pid_(pid),
      pidAtom_(internAtom(connection, "_NET_WM_PID")),
      wmStateAtom_(internAtom(connection, "WM_STATE")) {}

bool WindowOwner::owns(uint32_t topLevel) const {
    xcb_connection_t* c = connection_;
    const OwnerMarks top = readOwnerMarks(c, {topLevel}, pidAtom_, wmStateAtom_).front();
    if (top.managed) return top.pid == pid_;
    std::optional<uint32_t> innerPid;
    std::vector<uint32_t> level{topLevel};
    for (int depth = 1; depth <= kClientSearchDepth; ++depth) {
        level = childrenOf(c, level, kClientSearchWidth);
        if (level.empty()) break;
        const std::vector<OwnerMarks> marks = readOwnerMarks(c, level, pidAtom_, wmStateAtom_);
        for (const OwnerMarks& m : marks) {
            if (m.managed) return m.pid == pid_;
            if (m.pid && !innerPid) innerPid = m.pid;
        }
    }
    // No window manager: the window's own mark, else the first below it.
    // (A panel of another program that holds one of our windows, such as a
    // tray icon, carries its own mark and stays.)
    return (top.pid ? top.pid : innerPid) == pid_;
}

}  // namespace hollowkit::x11
