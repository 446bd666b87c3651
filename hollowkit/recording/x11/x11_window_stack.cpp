#include "hollowkit/recording/x11/x11_window_stack.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <unordered_set>

#include "hollowkit/x11/xcb_connection.h"

namespace hollowkit::x11 {

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
    : connection_(connection), root_(root), owner_(connection, ownerPid) {
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
        if (known == owned_.end()) known = owned_.emplace(w.id, owner_.owns(w.id)).first;
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

}  // namespace hollowkit::x11
