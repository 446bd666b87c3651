#include "hollowkit/recording/x11/x11_window_exclusion.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "hollowkit/base/pocket_log.h"

namespace hollowkit::x11 {
namespace {

bool serverHas(xcb_connection_t* c, xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data != nullptr && data->present != 0;
}

uint32_t rootVisualOf(xcb_connection_t* c, uint32_t root) {
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it)) {
        if (it.data->root == root) return it.data->root_visual;
    }
    return 0;
}

xcb_rectangle_t xRectangle(const PixelRect& r) {
    return {static_cast<int16_t>(r.x), static_cast<int16_t>(r.y), static_cast<uint16_t>(r.width),
            static_cast<uint16_t>(r.height)};
}

// Why the windows cannot be rebuilt from pixmaps on this connection; empty
// when they can.
std::string_view compositeMissing(xcb_connection_t* c) {
    if (!serverHas(c, &xcb_composite_id)) return "the display has no Composite extension";
    if (!serverHas(c, &xcb_render_id)) return "the display has no Render extension";
    if (!serverHas(c, &xcb_damage_id)) return "the display has no Damage extension";
    // Naming a window's pixmap came with Composite 0.2.
    auto composite = ask(xcb_composite_query_version_reply, c, xcb_composite_query_version(c, 0, 4));
    if (!composite || (composite->major_version == 0 && composite->minor_version < 2)) {
        return "the display's Composite extension is too old";
    }
    if (!ask(xcb_render_query_version_reply, c, xcb_render_query_version(c, 0, 11))) {
        return "the display's Render extension does not answer";
    }
    if (!ask(xcb_damage_query_version_reply, c, xcb_damage_query_version(c, 1, 1))) {
        return "the display's Damage extension does not answer";
    }
    return {};
}

}  // namespace

WindowExclusion::WindowExclusion(const Connection& connection, Setup setup)
    : connection_(connection), setup_(setup), stack_(connection.get(), connection.root, setup.ownerPid) {
    xcb_connection_t* c = connection_.get();
    const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, connection_.root, XCB_CW_EVENT_MASK, &events);
    const std::string_view why = setup_.useComposite ? startComposite() : "compositing is turned off";
    if (why.empty()) {
        mode_ = Mode::rebuilt;
        return;
    }
    mode_ = Mode::blackedOut;
    PocketLog::logf("Screen capture: %.*s, so this app's windows are blacked out in the recording",
                    static_cast<int>(why.size()), why.data());
}

WindowExclusion::~WindowExclusion() {
    if (mode_ != Mode::rebuilt || connection_.broken()) return;
    xcb_connection_t* c = connection_.get();
    for (auto& [window, picture] : pictures_) {
        releasePicture(picture);
        if (picture.damage != 0) xcb_damage_destroy(c, picture.damage);
    }
    if (patchPicture_ != 0) xcb_render_free_picture(c, patchPicture_);
    if (patchPixmap_ != 0) xcb_free_pixmap(c, patchPixmap_);
    if (background_ != 0) xcb_render_free_picture(c, background_);
    xcb_composite_unredirect_subwindows(c, connection_.root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    xcb_flush(c);
}

std::string_view WindowExclusion::startComposite() {
    xcb_connection_t* c = connection_.get();
    if (const std::string_view missing = compositeMissing(c); !missing.empty()) return missing;
    damageEvent_ = xcb_get_extension_data(c, &xcb_damage_id)->first_event;

    constexpr std::string_view kNoFormat = "the display's Render extension has no format for the screen";
    auto formats = ask(xcb_render_query_pict_formats_reply, c, xcb_render_query_pict_formats(c));
    if (!formats) return kNoFormat;
    for (auto screen = xcb_render_query_pict_formats_screens_iterator(formats.get()); screen.rem > 0;
         xcb_render_pictscreen_next(&screen)) {
        for (auto depth = xcb_render_pictscreen_depths_iterator(screen.data); depth.rem > 0;
             xcb_render_pictdepth_next(&depth)) {
            for (auto visual = xcb_render_pictdepth_visuals_iterator(depth.data); visual.rem > 0;
                 xcb_render_pictvisual_next(&visual)) {
                visualFormats_.emplace(visual.data->visual, visual.data->format);
            }
        }
    }
    const auto root = visualFormats_.find(rootVisualOf(c, connection_.root));
    if (root == visualFormats_.end()) return kNoFormat;
    rootFormat_ = root->second;

    // Automatic: the server still draws the screen from the pixmaps, so it
    // looks the same, and a compositing manager's own redirection stays.
    xcb_generic_error_t* error = xcb_request_check(
        c, xcb_composite_redirect_subwindows_checked(c, connection_.root, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    if (error != nullptr) {
        std::free(error);
        return "the display refused to redirect its windows";
    }
    constexpr std::string_view kRootPixmap = "_XROOTPMAP_ID";
    auto atom = ask(xcb_intern_atom_reply, c,
                    xcb_intern_atom(c, 0, static_cast<uint16_t>(kRootPixmap.size()), kRootPixmap.data()));
    rootPixmapAtom_ = atom ? atom->atom : uint32_t{XCB_ATOM_NONE};
    readBackground();
    return {};
}

void WindowExclusion::readBackground() {
    xcb_connection_t* c = connection_.get();
    if (background_ != 0) xcb_render_free_picture(c, background_);
    background_ = 0;
    if (rootPixmapAtom_ == XCB_ATOM_NONE) return;
    auto property = ask(xcb_get_property_reply, c,
                        xcb_get_property(c, 0, connection_.root, rootPixmapAtom_, XCB_ATOM_PIXMAP, 0, 1));
    if (!property || property->type != XCB_ATOM_PIXMAP || xcb_get_property_value_length(property.get()) < 4) return;
    const uint32_t pixmap = *static_cast<const uint32_t*>(xcb_get_property_value(property.get()));
    // A wallpaper smaller than the screen is tiled, as the desktop shows it.
    const uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
    const uint32_t picture = xcb_generate_id(c);
    xcb_generic_error_t* error = xcb_request_check(
        c, xcb_render_create_picture_checked(c, picture, pixmap, rootFormat_, XCB_RENDER_CP_REPEAT, &repeat));
    if (error != nullptr) {
        // A stale name or a pixmap of another depth: black instead.
        std::free(error);
        return;
    }
    background_ = picture;
}

void WindowExclusion::handle(const void* raw) {
    const auto& event = *static_cast<const xcb_generic_event_t*>(raw);
    const uint8_t type = event.response_type & 0x7F;
    // Errors of requests nobody waited for (a window gone meanwhile).
    if (type == 0) return;
    if (mode_ == Mode::rebuilt && type == damageEvent_ + XCB_DAMAGE_NOTIFY) {
        const auto& damage = *static_cast<const xcb_damage_notify_event_t*>(raw);
        // Emptied at once, so the next change reports again.
        xcb_damage_subtract(connection_.get(), damage.damage, XCB_NONE, XCB_NONE);
        if (damageReachesPatch(damage.drawable, PixelRect{damage.area.x, damage.area.y, damage.area.width,
                                                          damage.area.height},
                               damage.geometry.width)) {
            changed_ = true;
        }
        return;
    }
    switch (type) {
    case XCB_PROPERTY_NOTIFY:
        if (mode_ == Mode::rebuilt && static_cast<const xcb_property_notify_event_t*>(raw)->atom == rootPixmapAtom_) {
            readBackground();
            changed_ = true;
        }
        break;
    case XCB_MAP_NOTIFY: {
        // Mapped anew: a new pixmap, and perhaps a new client in its frame.
        const uint32_t window = static_cast<const xcb_map_notify_event_t*>(raw)->window;
        releaseWindow(window, false);
        stack_.forget(window);
        break;
    }
    case XCB_UNMAP_NOTIFY:
        releaseWindow(static_cast<const xcb_unmap_notify_event_t*>(raw)->window, false);
        stack_.markStale();
        break;
    case XCB_DESTROY_NOTIFY: {
        const uint32_t window = static_cast<const xcb_destroy_notify_event_t*>(raw)->window;
        releaseWindow(window, true);
        stack_.forget(window);
        break;
    }
    case XCB_REPARENT_NOTIFY:
        stack_.forget(static_cast<const xcb_reparent_notify_event_t*>(raw)->window);
        break;
    case XCB_CONFIGURE_NOTIFY:
    case XCB_CIRCULATE_NOTIFY:
    case XCB_GRAVITY_NOTIFY:
        stack_.markStale();
        break;
    default:
        break;
    }
}

bool WindowExclusion::damageReachesPatch(uint32_t window, const PixelRect& area, int innerWidth) const {
    const auto& windows = stack_.windows();
    const auto found =
        std::find_if(windows.begin(), windows.end(), [window](const TopWindow& w) { return w.id == window; });
    if (found == windows.end() || patchRootArea_.empty()) return true;
    // The damage is told inside the window's border; its area holds the border.
    const int border = std::max(0, (found->area.width - innerWidth) / 2);
    const PixelRect onRoot{found->area.x + border + area.x, found->area.y + border + area.y, area.width, area.height};
    return !onRoot.intersected(patchRootArea_).empty();
}

void WindowExclusion::prepare() {
    xcb_connection_t* c = connection_.get();
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        handle(event);
        std::free(event);
    }
    if (stack_.refresh()) changed_ = true;
    covered_ = coveredByOurs(stack_.windows(), setup_.display);
    if (covered_.empty() || mode_ != Mode::rebuilt) return;
    if (covered_ != rebuiltFor_) changed_ = true;
    if (!changed_) return;
    // Cleared first: a change reported while rebuilding asks for another.
    changed_ = false;
    rebuiltFor_ = covered_;
    rebuild();
}

void WindowExclusion::rebuild() {
    xcb_connection_t* c = connection_.get();
    patchValid_ = false;
    const PixelRect box = boundingRect(covered_);
    const PixelRect rootBox{setup_.display.x + box.x, setup_.display.y + box.y, box.width, box.height};
    if (patchSize_.width != box.width || patchSize_.height != box.height) {
        if (patchPicture_ != 0) xcb_render_free_picture(c, patchPicture_);
        if (patchPixmap_ != 0) xcb_free_pixmap(c, patchPixmap_);
        patchPixmap_ = xcb_generate_id(c);
        xcb_create_pixmap(c, connection_.rootDepth, patchPixmap_, connection_.root, static_cast<uint16_t>(box.width),
                          static_cast<uint16_t>(box.height));
        patchPicture_ = xcb_generate_id(c);
        xcb_render_create_picture(c, patchPicture_, patchPixmap_, rootFormat_, 0, nullptr);
        patchSize_ = PixelRect{0, 0, box.width, box.height};
    }
    // Only what our windows cover is drawn.
    std::vector<xcb_rectangle_t> clip;
    for (const PixelRect& r : covered_) clip.push_back(xRectangle({r.x - box.x, r.y - box.y, r.width, r.height}));
    xcb_render_set_picture_clip_rectangles(c, patchPicture_, 0, 0, static_cast<uint32_t>(clip.size()), clip.data());

    const uint16_t width = static_cast<uint16_t>(box.width);
    const uint16_t height = static_cast<uint16_t>(box.height);
    if (background_ != 0) {
        xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, background_, XCB_NONE, patchPicture_,
                             static_cast<int16_t>(rootBox.x), static_cast<int16_t>(rootBox.y), 0, 0, 0, 0, width,
                             height);
    } else {
        const xcb_render_color_t black{0, 0, 0, 0xFFFF};
        const xcb_rectangle_t all{0, 0, width, height};
        xcb_render_fill_rectangles(c, XCB_RENDER_PICT_OP_SRC, patchPicture_, black, 1, &all);
    }

    std::vector<uint32_t> drawn;
    for (const TopWindow& w : stack_.windows()) {
        if (w.ours) continue;
        const PixelRect part = w.area.intersected(rootBox);
        if (part.empty() || !drawWindow(w, part, rootBox)) continue;
        drawn.push_back(w.id);
    }
    // Windows no longer under ours are not watched any more.
    for (auto it = pictures_.begin(); it != pictures_.end();) {
        if (std::find(drawn.begin(), drawn.end(), it->first) != drawn.end() || it->second.unusable) {
            ++it;
            continue;
        }
        releasePicture(it->second);
        if (it->second.damage != 0) xcb_damage_destroy(c, it->second.damage);
        it = pictures_.erase(it);
    }
    patchArea_ = box;
    patchRootArea_ = rootBox;
    patchValid_ = fetchPatch(box.width, box.height);
}

bool WindowExclusion::drawWindow(const TopWindow& window, const PixelRect& part, const PixelRect& rootBox) {
    xcb_connection_t* c = connection_.get();
    WindowPicture& p = pictures_[window.id];
    if (p.unusable) return false;
    // A resized window has a new pixmap.
    if (p.picture != 0 && (p.width != window.area.width || p.height != window.area.height)) releasePicture(p);
    if (p.picture == 0) {
        const auto format = visualFormats_.find(window.visual);
        if (format == visualFormats_.end()) {
            p.unusable = true;
            return false;
        }
        p.pixmap = xcb_generate_id(c);
        xcb_composite_name_window_pixmap(c, window.id, p.pixmap);
        p.picture = xcb_generate_id(c);
        // Checked: a window that is not redirected (a compositing manager's
        // overlay) or is already gone has no pixmap to draw.
        xcb_generic_error_t* error =
            xcb_request_check(c, xcb_render_create_picture_checked(c, p.picture, p.pixmap, format->second, 0, nullptr));
        if (error != nullptr) {
            std::free(error);
            xcb_free_pixmap(c, p.pixmap);
            p.pixmap = 0;
            p.picture = 0;
            p.unusable = true;
            return false;
        }
        p.width = window.area.width;
        p.height = window.area.height;
    }
    if (p.damage == 0) {
        // Watched before its pixels are drawn, so no change goes unseen.
        p.damage = xcb_generate_id(c);
        xcb_damage_create(c, p.damage, window.id, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    }
    // Over: opaque windows are copied, windows with alpha blend.
    xcb_render_composite(c, XCB_RENDER_PICT_OP_OVER, p.picture, XCB_NONE, patchPicture_,
                         static_cast<int16_t>(part.x - window.area.x), static_cast<int16_t>(part.y - window.area.y),
                         0, 0, static_cast<int16_t>(part.x - rootBox.x), static_cast<int16_t>(part.y - rootBox.y),
                         static_cast<uint16_t>(part.width), static_cast<uint16_t>(part.height));
    return true;
}

bool WindowExclusion::fetchPatch(int width, int height) {
    xcb_connection_t* c = connection_.get();
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    patchStride_ = static_cast<size_t>(width) * 4;
    if (setup_.useSharedMemory && !sharedMemoryRefused_ && patchSegment_.size() < size) {
        if (auto attached = patchSegment_.attach(c, size); !attached) {
            // Asked once: later rebuilds go through plain GetImage.
            sharedMemoryRefused_ = true;
            PocketLog::logf("Screen capture rebuilds without shared memory: %s", attached.error().c_str());
        }
    }
    if (patchSegment_.size() >= size) {
        auto cookie = xcb_shm_get_image(c, patchPixmap_, 0, 0, static_cast<uint16_t>(width),
                                        static_cast<uint16_t>(height), ~0U, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                        patchSegment_.segment(), 0);
        return ask(xcb_shm_get_image_reply, c, cookie) != nullptr;
    }
    auto image = ask(xcb_get_image_reply, c,
                     xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, patchPixmap_, 0, 0, static_cast<uint16_t>(width),
                                   static_cast<uint16_t>(height), ~0U));
    if (!image || static_cast<size_t>(xcb_get_image_data_length(image.get())) < size) return false;
    patchCopy_.assign(xcb_get_image_data(image.get()), xcb_get_image_data(image.get()) + size);
    return true;
}

void WindowExclusion::apply(uint8_t* pixels, size_t stride) const {
    const bool rebuilt = mode_ == Mode::rebuilt && patchValid_ && rebuiltFor_ == covered_;
    const uint8_t* patch = patchSegment_.size() > 0 ? patchSegment_.data() : patchCopy_.data();
    for (const PixelRect& r : covered_) {
        const size_t bytes = static_cast<size_t>(r.width) * 4;
        for (int row = 0; row < r.height; ++row) {
            uint8_t* to = pixels + static_cast<size_t>(r.y + row) * stride + static_cast<size_t>(r.x) * 4;
            if (!rebuilt) {
                // Black, where the rebuild is missing or failed.
                std::memset(to, 0, bytes);
                continue;
            }
            const uint8_t* from = patch + static_cast<size_t>(r.y - patchArea_.y + row) * patchStride_ +
                                  static_cast<size_t>(r.x - patchArea_.x) * 4;
            std::memcpy(to, from, bytes);
        }
    }
}

void WindowExclusion::releasePicture(WindowPicture& picture) {
    xcb_connection_t* c = connection_.get();
    if (picture.picture != 0) xcb_render_free_picture(c, picture.picture);
    if (picture.pixmap != 0) xcb_free_pixmap(c, picture.pixmap);
    picture.picture = 0;
    picture.pixmap = 0;
}

void WindowExclusion::releaseWindow(uint32_t window, bool destroyed) {
    const auto found = pictures_.find(window);
    if (found == pictures_.end()) return;
    releasePicture(found->second);
    // The server drops a destroyed window's damage object by itself.
    if (!destroyed && found->second.damage != 0) xcb_damage_destroy(connection_.get(), found->second.damage);
    pictures_.erase(found);
    changed_ = true;
}

}  // namespace hollowkit::x11
