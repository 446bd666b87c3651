#include "hollowkit/recording/x11/x11_window_stack.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "hollowkit/x11/xcb_connection.h"

namespace hollowkit::x11 {
namespace {

// How deep below a top-level window its client window is looked for: a
// window manager's frame holds it directly or one or two levels down.
constexpr int kClientSearchDepth = 3;
// Windows looked at on one level of that search.
constexpr size_t kClientSearchWidth = 64;

uint32_t atomNamed(xcb_connection_t* c, std::string_view name) {
    auto reply = ask(xcb_intern_atom_reply, c,
                     xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.data()));
    return reply ? reply->atom : uint32_t{XCB_ATOM_NONE};
}

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

PixelRect PixelRect::intersected(const PixelRect& other) const {
    const int left = std::max(x, other.x);
    const int top = std::max(y, other.y);
    const int right = std::min(x + width, other.x + other.width);
    const int bottom = std::min(y + height, other.y + other.height);
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

PixelRect boundingRect(const std::vector<PixelRect>& rects) {
    if (rects.empty()) return {};
    int left = rects.front().x;
    int top = rects.front().y;
    int right = left + rects.front().width;
    int bottom = top + rects.front().height;
    for (const PixelRect& r : rects) {
        left = std::min(left, r.x);
        top = std::min(top, r.y);
        right = std::max(right, r.x + r.width);
        bottom = std::max(bottom, r.y + r.height);
    }
    return {left, top, right - left, bottom - top};
}

std::vector<PixelRect> intersections(const std::vector<PixelRect>& a, const std::vector<PixelRect>& b) {
    std::vector<PixelRect> meet;
    for (const PixelRect& r : a) {
        for (const PixelRect& t : b) {
            const PixelRect part = r.intersected(t);
            if (!part.empty()) meet.push_back(part);
        }
    }
    return meet;
}

std::vector<CoveredPart> coveredByOurs(const std::vector<TopWindow>& windows, const PixelRect& display) {
    std::vector<CoveredPart> covered;
    for (const TopWindow& w : windows) {
        if (!w.ours) continue;
        for (const PixelRect& r : w.shape) {
            const PixelRect part = r.intersected(display);
            if (part.empty()) continue;
            covered.push_back({{part.x - display.x, part.y - display.y, part.width, part.height}, w.id});
        }
    }
    return covered;
}

WindowStack::WindowStack(xcb_connection_t* connection, uint32_t root, uint32_t ownerPid)
    : connection_(connection), root_(root), ownerPid_(ownerPid) {
    pidAtom_ = atomNamed(connection_, "_NET_WM_PID");
    wmStateAtom_ = atomNamed(connection_, "WM_STATE");
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(connection_, &xcb_shape_id);
    hasShape_ = shape != nullptr && shape->present != 0;
    if (hasShape_) shapeEvent_ = shape->first_event;
}

bool WindowStack::refresh() {
    if (!stale_) return false;
    stale_ = false;
    windows_.clear();
    xcb_connection_t* c = connection_;
    auto tree = ask(xcb_query_tree_reply, c, xcb_query_tree(c, root_));
    if (!tree) return true;
    const xcb_window_t* ids = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    // Every window's attributes and geometry are asked for before any
    // answer is awaited: one round trip for the whole stack.
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    std::vector<xcb_get_geometry_cookie_t> geometries;
    attributes.reserve(static_cast<size_t>(count));
    geometries.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        attributes.push_back(xcb_get_window_attributes(c, ids[i]));
        geometries.push_back(xcb_get_geometry(c, ids[i]));
    }
    std::unordered_set<uint32_t> present;
    std::vector<int> borders;
    for (int i = 0; i < count; ++i) {
        present.insert(ids[i]);
        auto a = ask(xcb_get_window_attributes_reply, c, attributes[static_cast<size_t>(i)]);
        auto g = ask(xcb_get_geometry_reply, c, geometries[static_cast<size_t>(i)]);
        if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE || a->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) continue;
        const int border = g->border_width;
        const PixelRect area{g->x, g->y, g->width + 2 * border, g->height + 2 * border};
        windows_.push_back(TopWindow{ids[i], area, {area}, a->visual, false});
        borders.push_back(border);
    }
    std::erase_if(owned_, [&](const auto& entry) { return !present.contains(entry.first); });
    std::erase_if(shapeWatched_, [&](uint32_t id) { return !present.contains(id); });
    if (hasShape_) readShapes(borders);
    for (TopWindow& w : windows_) {
        auto known = owned_.find(w.id);
        if (known == owned_.end()) known = owned_.emplace(w.id, belongsToOwner(w.id)).first;
        w.ours = known->second;
    }
    return true;
}

void WindowStack::readShapes(const std::vector<int>& borders) {
    xcb_connection_t* c = connection_;
    std::vector<xcb_shape_get_rectangles_cookie_t> cookies;
    for (const TopWindow& w : windows_) {
        // Told of every later change; asked once per window.
        if (shapeWatched_.insert(w.id).second) xcb_shape_select_input(c, w.id, 1);
        cookies.push_back(xcb_shape_get_rectangles(c, w.id, XCB_SHAPE_SK_BOUNDING));
    }
    for (size_t i = 0; i < windows_.size(); ++i) {
        auto shape = ask(xcb_shape_get_rectangles_reply, c, cookies[i]);
        if (!shape) continue;
        TopWindow& w = windows_[i];
        // The rectangles are relative to the window's origin, inside its border.
        const int originX = w.area.x + borders[i];
        const int originY = w.area.y + borders[i];
        const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(shape.get());
        const int count = xcb_shape_get_rectangles_rectangles_length(shape.get());
        w.shape.clear();
        for (int r = 0; r < count; ++r) {
            const PixelRect part =
                PixelRect{originX + rects[r].x, originY + rects[r].y, rects[r].width, rects[r].height}.intersected(
                    w.area);
            if (!part.empty()) w.shape.push_back(part);
        }
    }
}

bool WindowStack::belongsToOwner(uint32_t window) {
    xcb_connection_t* c = connection_;
    // A window manager's client window (WM_STATE) decides by its own mark,
    // whether it is the top-level window or sits inside a frame, which may
    // carry the window manager's mark.
    const OwnerMarks top = readOwnerMarks(c, {window}, pidAtom_, wmStateAtom_).front();
    if (top.managed) return top.pid == ownerPid_;
    std::optional<uint32_t> innerPid;
    std::vector<uint32_t> level{window};
    for (int depth = 1; depth <= kClientSearchDepth; ++depth) {
        level = childrenOf(c, level, kClientSearchWidth);
        if (level.empty()) break;
        const std::vector<OwnerMarks> marks = readOwnerMarks(c, level, pidAtom_, wmStateAtom_);
        for (const OwnerMarks& m : marks) {
            if (m.managed) return m.pid == ownerPid_;
            if (m.pid && !innerPid) innerPid = m.pid;
        }
    }
    // No window manager: the window's own mark, else the first below it.
    // (A panel of another program that holds one of our windows, such as a
    // tray icon, carries its own mark and stays.)
    return (top.pid ? top.pid : innerPid) == ownerPid_;
}

}  // namespace hollowkit::x11
