#include "hollowkit/recording/x11/x11_window_exclusion.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/x11/event_watch.h"

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
    if (auto selection = followCompositorSelection(connection_)) {
        compositorAtom_ = selection->atom;
        compositorEvent_ = selection->notifyEvent;
    } else {
        compositorAtom_ = internAtom(c, compositorSelectionName(connection_.screenNumber));
        PocketLog::logf("Screen capture: %s, so a compositing manager is noticed only when windows change",
                        selection.error().c_str());
    }
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
    if (mode_ != Mode::rebuilt) return;
    // Let go of before the flush below, which sends their frees.
    pictures_.clear();
    seeThrough_.clear();
    patchPicture_.reset();
    patchPixmap_.reset();
    background_.reset();
    if (connection_.broken()) return;
    xcb_connection_t* c = connection_.get();
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
    for (auto format = xcb_render_query_pict_formats_formats_iterator(formats.get()); format.rem > 0;
         xcb_render_pictforminfo_next(&format)) {
        if (format.data->direct.alpha_mask != 0) alphaFormats_.insert(format.data->id);
    }
    const auto root = visualFormats_.find(rootVisualOf(c, connection_.root));
    if (root == visualFormats_.end()) return kNoFormat;
    rootFormat_ = root->second;

    // Automatic: the server still draws the screen from the pixmaps, so it
    // looks the same, and a compositing manager's own redirection stays.
    if (!requestSucceeded(c, xcb_composite_redirect_subwindows_checked(c, connection_.root,
                                                                       XCB_COMPOSITE_REDIRECT_AUTOMATIC)
                                 .sequence)) {
        return "the display refused to redirect its windows";
    }
    rootPixmapAtom_ = internAtom(c, "_XROOTPMAP_ID");
    readBackground();
    return {};
}

void WindowExclusion::readBackground() {
    xcb_connection_t* c = connection_.get();
    background_.reset();
    if (rootPixmapAtom_ == XCB_ATOM_NONE) return;
    auto property = ask(xcb_get_property_reply, c,
                        xcb_get_property(c, 0, connection_.root, rootPixmapAtom_, XCB_ATOM_PIXMAP, 0, 1));
    if (!property || property->type != XCB_ATOM_PIXMAP || xcb_get_property_value_length(property.get()) < 4) return;
    const uint32_t pixmap = *static_cast<const uint32_t*>(xcb_get_property_value(property.get()));
    // A wallpaper smaller than the screen is tiled, as the desktop shows it.
    const uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
    const uint32_t picture = xcb_generate_id(c);
    // A stale name or a pixmap of another depth: black instead.
    if (!requestSucceeded(
            c, xcb_render_create_picture_checked(c, picture, pixmap, rootFormat_, XCB_RENDER_CP_REPEAT, &repeat)
                   .sequence)) {
        return;
    }
    background_ = ServerResource(c, ServerResource::Kind::picture, picture);
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
        if (const auto own = seeThrough_.find(damage.drawable); own != seeThrough_.end()) {
            own->second->stale = true;
        } else if (damageReachesPatch(damage.drawable,
                                      PixelRect{damage.area.x, damage.area.y, damage.area.width, damage.area.height},
                                      damage.geometry.width)) {
            changed_ = true;
        }
        return;
    }
    if (stack_.shapeEvent() != 0 && type == stack_.shapeEvent() + XCB_SHAPE_NOTIFY) {
        stack_.markStale();
        return;
    }
    if (compositorEvent_ != 0 && type == compositorEvent_) {
        // Whatever the event said, the owner when next asked is what counts.
        compositorChanged_ = true;
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
    if (found == windows.end() || patch_.area.empty()) return true;
    // The damage is told inside the window's border; its area holds the border.
    const int border = std::max(0, (found->area.width - innerWidth) / 2);
    const PixelRect onRoot{found->area.x + border + area.x, found->area.y + border + area.y, area.width, area.height};
    return !onRoot.intersected(patch_.area).empty();
}

bool WindowExclusion::hasAlpha(uint32_t visual) const {
    const auto format = visualFormats_.find(visual);
    return format != visualFormats_.end() && alphaFormats_.contains(format->second);
}

void WindowExclusion::prepare() {
    xcb_connection_t* c = connection_.get();
    while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) handle(event.get());
    const bool restacked = stack_.refresh();
    if (restacked) changed_ = true;
    followCompositor(restacked);
    const std::vector<CoveredPart> before = std::exchange(covered_, coveredByOurs(stack_.windows(), setup_.display));
    holdLeftParts(before);
    if (covered_.empty() || mode_ != Mode::rebuilt) return;
    readSeeThrough();
    if (covered_ != rebuiltFor_) changed_ = true;
    if (!changed_) return;
    // Cleared first: a change reported while rebuilding asks for another.
    changed_ = false;
    rebuiltFor_ = covered_;
    rebuild();
}

ServerResource WindowExclusion::nameWindowPixmap(uint32_t window) {
    xcb_connection_t* c = connection_.get();
    const uint32_t pixmap = xcb_generate_id(c);
    // Checked: a window that is not redirected (a compositing manager's
    // overlay) or is already gone has no pixmap.
    if (!requestSucceeded(c, xcb_composite_name_window_pixmap_checked(c, window, pixmap).sequence)) return {};
    return ServerResource(c, ServerResource::Kind::pixmap, pixmap);
}

ServerResource WindowExclusion::watchDamage(uint32_t window) {
    xcb_connection_t* c = connection_.get();
    const uint32_t damage = xcb_generate_id(c);
    xcb_damage_create(c, damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    return ServerResource(c, ServerResource::Kind::damage, damage);
}

bool WindowExclusion::compositorRuns() const {
    return compositorAtom_ != XCB_ATOM_NONE && selectionOwned(connection_.get(), compositorAtom_);
}

bool WindowExclusion::followCompositor(bool restacked) {
    const bool ask = std::exchange(compositorChanged_, false) || (restacked && compositorEvent_ == 0);
    if (!ask) return false;
    const bool blends = compositorRuns();
    if (blends == blends_) return false;
    // From now on see-through windows of ours are read for what they draw
    // (or replaced whole), and parts our windows leave are held (or not).
    blends_ = blends;
    return true;
}

void WindowExclusion::readSeeThrough() {
    std::unordered_set<uint32_t> seen;
    for (const TopWindow& w : stack_.windows()) {
        // Without a compositing manager nothing is see-through: the screen
        // shows a window's transparent pixels as they are.
        if (!blends_ || !w.ours || !hasAlpha(w.visual)) continue;
        const PixelRect part = w.area.intersected(setup_.display);
        if (part.empty()) continue;
        seen.insert(w.id);
        std::unique_ptr<SeeThrough>& own = seeThrough_[w.id];
        if (!own) own = std::make_unique<SeeThrough>();
        if (own->unusable) continue;
        if (own->pixmap && (own->width != w.area.width || own->height != w.area.height)) own->pixmap.reset();
        if (!own->pixmap) {
            own->pixmap = nameWindowPixmap(w.id);
            own->width = w.area.width;
            own->height = w.area.height;
            own->stale = true;
            if (!own->pixmap) {
                // Replaced whole instead, until it is mapped again.
                own->unusable = true;
                own->pixels.valid = false;
                continue;
            }
        }
        // Watched before its pixels are read, so no change goes unseen.
        if (!own->damage) own->damage = watchDamage(w.id);
        if (!own->stale && own->pixels.area == part) continue;
        own->stale = false;
        // The screen may show what they drew until the manager's next frame.
        if (own->pixels.valid) {
            const TimePoint at = now();
            own->keepWhereItDrew(at, at + setup_.compositorLag);
        }
        own->pixels.valid = fetch(own->pixmap.id(), part.x - w.area.x, part.y - w.area.y, part, own->pixels);
    }
    for (auto it = seeThrough_.begin(); it != seeThrough_.end();) {
        if (seen.contains(it->first)) {
            ++it;
            continue;
        }
        it = seeThrough_.erase(it);
    }
}

void WindowExclusion::rebuild() {
    xcb_connection_t* c = connection_.get();
    patch_.valid = false;
    std::vector<PixelRect> covered;
    for (const CoveredPart& part : covered_) {
        covered.push_back({part.rect.x + setup_.display.x, part.rect.y + setup_.display.y, part.rect.width,
                           part.rect.height});
    }
    const PixelRect box = boundingRect(covered);
    if (patchSize_.width != box.width || patchSize_.height != box.height) {
        patchPicture_.reset();
        patchPixmap_ = ServerResource(c, ServerResource::Kind::pixmap, xcb_generate_id(c));
        xcb_create_pixmap(c, connection_.rootDepth, patchPixmap_.id(), connection_.root,
                          static_cast<uint16_t>(box.width), static_cast<uint16_t>(box.height));
        patchPicture_ = ServerResource(c, ServerResource::Kind::picture, xcb_generate_id(c));
        xcb_render_create_picture(c, patchPicture_.id(), patchPixmap_.id(), rootFormat_, 0, nullptr);
        patchSize_ = PixelRect{0, 0, box.width, box.height};
    }
    // Only what our windows cover is drawn.
    std::vector<xcb_rectangle_t> clip;
    for (const PixelRect& r : covered) clip.push_back(xRectangle(r));
    xcb_render_set_picture_clip_rectangles(c, patchPicture_.id(), static_cast<int16_t>(-box.x),
                                           static_cast<int16_t>(-box.y), static_cast<uint32_t>(clip.size()),
                                           clip.data());
    const auto width = static_cast<uint16_t>(box.width);
    const auto height = static_cast<uint16_t>(box.height);
    if (background_) {
        xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, background_.id(), XCB_NONE, patchPicture_.id(),
                             static_cast<int16_t>(box.x), static_cast<int16_t>(box.y), 0, 0, 0, 0, width, height);
    } else {
        const xcb_render_color_t black{0, 0, 0, 0xFFFF};
        const xcb_rectangle_t all{0, 0, width, height};
        xcb_render_fill_rectangles(c, XCB_RENDER_PICT_OP_SRC, patchPicture_.id(), black, 1, &all);
    }

    std::unordered_set<uint32_t> drawn;
    for (const TopWindow& w : stack_.windows()) {
        if (w.ours) continue;
        const PixelRect part = w.area.intersected(box);
        if (part.empty() || !drawWindow(w, part, covered, box)) continue;
        drawn.insert(w.id);
    }
    // Windows no longer under ours are not watched any more.
    for (auto it = pictures_.begin(); it != pictures_.end();) {
        if (drawn.contains(it->first) || it->second.unusable) {
            ++it;
            continue;
        }
        it = pictures_.erase(it);
    }
    patch_.valid = fetch(patchPixmap_.id(), 0, 0, box, patch_);
}

bool WindowExclusion::drawWindow(const TopWindow& window, const PixelRect& part, const std::vector<PixelRect>& covered,
                                 const PixelRect& rootBox) {
    xcb_connection_t* c = connection_.get();
    WindowPicture& p = pictures_[window.id];
    if (p.unusable) return false;
    // A resized window has a new pixmap.
    if (p.picture && (p.width != window.area.width || p.height != window.area.height)) {
        p.picture.reset();
        p.pixmap.reset();
    }
    if (!p.picture) {
        const auto format = visualFormats_.find(window.visual);
        p.pixmap = format != visualFormats_.end() ? nameWindowPixmap(window.id) : ServerResource();
        if (!p.pixmap) {
            p.unusable = true;
            return false;
        }
        p.picture = ServerResource(c, ServerResource::Kind::picture, xcb_generate_id(c));
        xcb_render_create_picture(c, p.picture.id(), p.pixmap.id(), format->second, 0, nullptr);
        p.width = window.area.width;
        p.height = window.area.height;
    }
    // Watched before its pixels are drawn, so no change goes unseen.
    if (!p.damage) p.damage = watchDamage(window.id);
    // Drawn only where it shows (its shape) and ours cover.
    const bool shaped = window.shape.size() != 1 || window.shape.front() != window.area;
    const std::vector<PixelRect> where = shaped ? intersections(covered, window.shape) : covered;
    if (where.empty()) return true;
    std::vector<xcb_rectangle_t> clip;
    for (const PixelRect& r : where) clip.push_back(xRectangle(r));
    xcb_render_set_picture_clip_rectangles(c, patchPicture_.id(), static_cast<int16_t>(-rootBox.x),
                                           static_cast<int16_t>(-rootBox.y), static_cast<uint32_t>(clip.size()),
                                           clip.data());
    // Over: opaque windows are copied, windows with alpha blend.
    xcb_render_composite(c, XCB_RENDER_PICT_OP_OVER, p.picture.id(), XCB_NONE, patchPicture_.id(),
                         static_cast<int16_t>(part.x - window.area.x), static_cast<int16_t>(part.y - window.area.y),
                         0, 0, static_cast<int16_t>(part.x - rootBox.x), static_cast<int16_t>(part.y - rootBox.y),
                         static_cast<uint16_t>(part.width), static_cast<uint16_t>(part.height));
    return true;
}

bool WindowExclusion::fetch(uint32_t drawable, int x, int y, const PixelRect& area, Pixels& into) {
    xcb_connection_t* c = connection_.get();
    const size_t size = static_cast<size_t>(area.width) * static_cast<size_t>(area.height) * 4;
    into.area = area;
    into.stride = static_cast<size_t>(area.width) * 4;
    if (setup_.useSharedMemory && !sharedMemoryRefused_ && into.segment.size() < size) {
        if (auto attached = into.segment.attach(c, size); !attached) {
            // Asked once: later fetches go through plain GetImage.
            sharedMemoryRefused_ = true;
            PocketLog::logf("Screen capture rebuilds without shared memory: %s", attached.error().c_str());
        }
    }
    const auto x16 = static_cast<int16_t>(x);
    const auto y16 = static_cast<int16_t>(y);
    const auto w16 = static_cast<uint16_t>(area.width);
    const auto h16 = static_cast<uint16_t>(area.height);
    if (into.segment.size() >= size) {
        auto cookie = xcb_shm_get_image(c, drawable, x16, y16, w16, h16, ~0U, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                        into.segment.segment(), 0);
        return ask(xcb_shm_get_image_reply, c, cookie) != nullptr;
    }
    auto image =
        ask(xcb_get_image_reply, c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, x16, y16, w16, h16, ~0U));
    if (!image || static_cast<size_t>(xcb_get_image_data_length(image.get())) < size) return false;
    into.copy.assign(xcb_get_image_data(image.get()), xcb_get_image_data(image.get()) + size);
    return true;
}

void WindowExclusion::SeeThrough::keepWhereItDrew(TimePoint now, TimePoint until) {
    const PixelRect& area = pixels.area;
    const size_t count = static_cast<size_t>(area.width) * static_cast<size_t>(area.height);
    // Each fetch within the lag adds to what came before it: the screen
    // may show any of them.
    if (now >= drewUntil || drewArea != area) {
        drew.assign(count, 0);
        drewArea = area;
    }
    for (int y = 0; y < area.height; ++y) {
        const uint8_t* alpha = pixels.at(area.x, area.y + y) + 3;
        uint8_t* into = drew.data() + static_cast<size_t>(y) * static_cast<size_t>(area.width);
        for (int x = 0; x < area.width; ++x) into[x] |= static_cast<uint8_t>(alpha[4 * x] != 0);
    }
    drewUntil = until;
}

const uint8_t* WindowExclusion::SeeThrough::drewBefore(TimePoint now) const {
    return now < drewUntil && drewArea == pixels.area ? drew.data() : nullptr;
}

const uint8_t* WindowExclusion::Pixels::at(int x, int y) const {
    const uint8_t* base = segment.size() > 0 ? segment.data() : copy.data();
    return base + static_cast<size_t>(y - area.y) * stride + static_cast<size_t>(x - area.x) * 4;
}

void WindowExclusion::catchUp() {
    // The server sends the events of every change it made before the grab
    // ahead of the grab's reply, so they are all here now. A window of ours
    // mapped, moved or reshaped since prepare() may show in the grab as it
    // was or as it is now (an island opening between the two): both are
    // covered.
    xcb_connection_t* c = connection_.get();
    while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) handle(event.get());
    const bool restacked = stack_.refresh();
    // A manager that started or stopped since prepare(): our see-through
    // windows are read (or replaced whole) for this grab already.
    const bool modeChanged = followCompositor(restacked);
    if (!restacked) {
        // A see-through window of ours drawn anew since its pixels were read
        // (an island opening) may show either way: where it drew before
        // counts with where it draws now.
        const bool redrawn = mode_ == Mode::rebuilt && std::any_of(seeThrough_.begin(), seeThrough_.end(),
                                                                   [](const auto& own) { return own.second->stale; });
        if (redrawn || (modeChanged && mode_ == Mode::rebuilt && !covered_.empty())) readSeeThrough();
        return;
    }
    changed_ = true;
    for (const CoveredPart& part : coveredByOurs(stack_.windows(), setup_.display)) {
        if (std::find(covered_.begin(), covered_.end(), part) == covered_.end()) covered_.push_back(part);
    }
    if (covered_.empty() || mode_ != Mode::rebuilt) return;
    readSeeThrough();
    changed_ = false;
    rebuiltFor_ = covered_;
    rebuild();
}

void WindowExclusion::holdLeftParts(const std::vector<CoveredPart>& before) {
    // Without a compositing manager the server draws a part a window left
    // at once.
    if (!blends_) {
        left_.clear();
        return;
    }
    const TimePoint now = this->now();
    std::erase_if(left_, [now](const LeftPart& part) { return part.until <= now; });
    for (const CoveredPart& part : before) {
        // Parts held already (window none) keep the time they were left at.
        if (part.window == XCB_NONE || std::find(covered_.begin(), covered_.end(), part) != covered_.end()) continue;
        const auto same = std::find_if(left_.begin(), left_.end(),
                                       [&part](const LeftPart& held) { return held.rect == part.rect; });
        if (same != left_.end()) {
            same->until = now + setup_.compositorLag;
        } else {
            left_.push_back({part.rect, now + setup_.compositorLag});
        }
    }
    // Replaced whole: whatever our window drew there is not in its pixels now.
    for (const LeftPart& part : left_) covered_.push_back({part.rect, XCB_NONE});
}

void WindowExclusion::apply(uint8_t* pixels, size_t stride) {
    catchUp();
    const bool rebuilt = mode_ == Mode::rebuilt && patch_.valid && rebuiltFor_ == covered_;
    const int dx = setup_.display.x;
    const int dy = setup_.display.y;
    const TimePoint at = now();
    for (const CoveredPart& part : covered_) {
        const PixelRect& r = part.rect;
        const auto own = seeThrough_.find(part.window);
        const Pixels* mask = own != seeThrough_.end() && own->second->pixels.valid ? &own->second->pixels : nullptr;
        const uint8_t* drew = mask != nullptr ? own->second->drewBefore(at) : nullptr;
        for (int row = 0; row < r.height; ++row) {
            uint8_t* to = pixels + static_cast<size_t>(r.y + row) * stride + static_cast<size_t>(r.x) * 4;
            if (!rebuilt) {
                // Black, where the rebuild is missing or failed.
                std::memset(to, 0, static_cast<size_t>(r.width) * 4);
                continue;
            }
            const uint8_t* from = patch_.at(r.x + dx, r.y + dy + row);
            if (mask == nullptr) {
                std::memcpy(to, from, static_cast<size_t>(r.width) * 4);
                continue;
            }
            // Where our see-through window draws nothing, now and in what
            // the screen may still show, the grab shows what lies under it.
            const int y = r.y + dy + row;
            const uint8_t* alpha = mask->at(r.x + dx, y) + 3;
            // Same area as the pixels, which hold the covered part.
            const uint8_t* before =
                drew != nullptr ? drew + static_cast<size_t>(y - mask->area.y) * static_cast<size_t>(mask->area.width) +
                                      static_cast<size_t>(r.x + dx - mask->area.x)
                                : nullptr;
            for (int x = 0; x < r.width; ++x) {
                if (alpha[4 * x] != 0 || (before != nullptr && before[x] != 0)) std::memcpy(to + 4 * x, from + 4 * x, 4);
            }
        }
    }
}

void WindowExclusion::releaseWindow(uint32_t window, bool destroyed) {
    // The server drops a destroyed window's damage object by itself;
    // destroying it again would be an error.
    if (const auto found = pictures_.find(window); found != pictures_.end()) {
        if (destroyed) found->second.damage.forget();
        pictures_.erase(found);
        changed_ = true;
    }
    if (const auto found = seeThrough_.find(window); found != seeThrough_.end()) {
        if (destroyed) found->second->damage.forget();
        seeThrough_.erase(found);
    }
}

}  // namespace hollowkit::x11
