#pragma once

// WindowExclusion: keeps one process's windows out of the pictures grabbed
// from a display. With the Composite extension every top-level window is
// redirected automatically (the screen itself looks the same) and the parts
// of the display that our windows cover (their shapes) are rebuilt on the
// server from the other windows' pixmaps, in stacking order, over the
// desktop background (_XROOTPMAP_ID, else black), through XRender so
// windows with alpha blend. Damage tells which windows under ours changed;
// the rebuilt parts are fetched again only then. Where a compositing
// manager blends windows, only the pixels that our windows with alpha (a
// see-through panel) really draw on are replaced: their pixels are fetched
// again when Damage says they changed.
// Without Composite (or Render or Damage) the parts our windows cover are
// blacked out instead, and the log says so once. Where none of our windows
// is on the display, and none left a part of it that is still held (see
// `compositorLag` below), the grab is left as it is.
//
// Whether a compositing manager draws the screen is told by the owner of
// the screen's compositor selection (_NET_WM_CM_S<n>), which the server
// reports on the connection (XFixes) in order with everything else: a
// manager that starts or stops with no window mapped is followed from the
// grab its change came before. Without XFixes it is asked again whenever the
// windows change, and the log says so once.
//
// Thread: the screen capture's thread, which owns the connection; the
// connection is borrowed and must outlive this. It reads the connection's
// events. Requests that fail (a window gone meanwhile) leave that window
// out of one rebuild. A window of ours that is mapped or changes between
// the reading and the grab is covered as it was and as it is after the
// grab, so it shows in no picture (an island opening, a menu appearing).
// Where a compositing manager draws the screen, a part our windows leave
// (a menu gone) or stop drawing on (an island closing) shows as it was
// until the manager's next frame, so it stays covered for `compositorLag`.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <functional>

#include "hollowkit/base/clock.h"
#include "hollowkit/recording/x11/x11_window_stack.h"
#include "hollowkit/x11/xcb_connection.h"
#include "hollowkit/x11/server_resource.h"
#include "hollowkit/x11/shared_segment.h"

namespace hollowkit::x11 {

class WindowExclusion {
public:
    enum class Mode : uint8_t {
        none = 0,
        rebuilt,     // from the other windows' pixmaps
        blackedOut,  // no Composite: filled black
    };

    struct Setup {
        PixelRect display;  // the grabbed part of the root window
        uint32_t ownerPid = 0;
        bool useComposite = true;  // false: blacked out, as without Composite
        bool useSharedMemory = true;
        // How long a part our windows left stays covered where a
        // compositing manager draws the screen.
        Duration compositorLag = std::chrono::milliseconds(250);
        // The clock that lag is told by; none is the steady clock.
        std::function<TimePoint()> clock = {};
    };

    // Selects the root's events on `connection` and, where the server
    // allows, redirects its windows.
    WindowExclusion(const Connection& connection, Setup setup);
    ~WindowExclusion();
    WindowExclusion(const WindowExclusion&) = delete;
    WindowExclusion& operator=(const WindowExclusion&) = delete;

    Mode mode() const { return mode_; }

    // Before each grab: takes in the events that came, reads the windows
    // again when they changed, and rebuilds what our windows cover when
    // anything under them changed.
    void prepare();
    // After the grab into `pixels` (32-bit BGRX of the display, `stride`
    // bytes a row): what our windows cover is replaced, including where one
    // of them came or grew after prepare().
    void apply(uint8_t* pixels, size_t stride);

private:
    // Pixels fetched from the server into shared memory (or a copy).
    struct Pixels {
        SharedSegment segment;
        std::vector<uint8_t> copy;
        PixelRect area;     // what they show
        size_t stride = 0;  // bytes a row
        bool valid = false;

        const uint8_t* at(int x, int y) const;
    };

    // Another program's window as drawn into a rebuild. Its resources go
    // with it (the picture first).
    struct WindowPicture {
        ServerResource damage;
        ServerResource pixmap;
        ServerResource picture;
        int width = 0;   // the size the pixmap was named at
        int height = 0;
        bool unusable = false;  // the server would not name its pixmap
    };

    // One of our windows with alpha: its own pixels, for where it draws.
    struct SeeThrough {
        ServerResource damage;
        ServerResource pixmap;
        int width = 0;
        int height = 0;
        bool stale = true;
        bool unusable = false;  // the server would not name its pixmap
        Pixels pixels;  // on the root
        // Where it drew (one byte a pixel of `pixels.area`) in what it
        // showed before, which a compositing manager may still show until
        // `drewUntil`.
        std::vector<uint8_t> drew;
        PixelRect drewArea;
        TimePoint drewUntil;

        // Adds what `pixels` show to `drew`, before they are fetched anew.
        void keepWhereItDrew(TimePoint now, TimePoint until);
        // `drew` where it still counts at `now`, else none.
        const uint8_t* drewBefore(TimePoint now) const;
    };

    // Empty when windows can be rebuilt; otherwise why not.
    std::string_view startComposite();
    void readBackground();
    // `event` is an xcb_generic_event_t (an unnamed struct in xcb's headers).
    void handle(const void* event);
    // Whether damage to `area` of `window` (inside its border; `innerWidth`
    // wide without it) falls on what was rebuilt last.
    bool damageReachesPatch(uint32_t window, const PixelRect& area, int innerWidth) const;
    bool hasAlpha(uint32_t visual) const;
    // A compositing manager owns the screen, so windows with alpha blend.
    bool compositorRuns() const;
    // Works out again whether one does, when the owner of its selection
    // changed (or, without XFixes, when the windows were read again).
    // True when the answer changed.
    bool followCompositor(bool restacked);
    // None where the window has no pixmap of its own (not redirected, gone).
    ServerResource nameWindowPixmap(uint32_t window);
    // Reports changes of `window` from now on.
    ServerResource watchDamage(uint32_t window);
    void rebuild();
    bool drawWindow(const TopWindow& window, const PixelRect& part, const std::vector<PixelRect>& covered,
                    const PixelRect& rootBox);
    void readSeeThrough();
    // Takes in the changes made before the grab that prepare() did not see.
    void catchUp();
    // Adds to what is covered the parts of `before` our windows left while
    // a compositing manager may still show them.
    void holdLeftParts(const std::vector<CoveredPart>& before);
    TimePoint now() const { return setup_.clock ? setup_.clock() : SteadyClock::now(); }
    bool fetch(uint32_t drawable, int x, int y, const PixelRect& area, Pixels& into);
    void releaseWindow(uint32_t window, bool destroyed);

    const Connection& connection_;
    const Setup setup_;
    WindowStack stack_;
    Mode mode_ = Mode::none;

    // Composite's resources.
    uint8_t damageEvent_ = 0;
    uint32_t rootPixmapAtom_ = 0;
    uint32_t compositorAtom_ = 0;
    // XFixes' event telling of a new owner of that selection; 0 where the
    // server cannot tell.
    uint8_t compositorEvent_ = 0;
    // The owner may have changed since it was last asked (first: never asked).
    bool compositorChanged_ = true;
    // A compositing manager draws the screen: windows with alpha blend, and
    // what our windows leave shows until its next frame.
    bool blends_ = false;
    uint32_t rootFormat_ = 0;
    std::unordered_map<uint32_t, uint32_t> visualFormats_;
    std::unordered_set<uint32_t> alphaFormats_;
    ServerResource background_;  // picture of _XROOTPMAP_ID; none paints black
    std::unordered_map<uint32_t, WindowPicture> pictures_;
    std::unordered_map<uint32_t, std::unique_ptr<SeeThrough>> seeThrough_;
    ServerResource patchPixmap_;
    ServerResource patchPicture_;
    PixelRect patchSize_;
    bool sharedMemoryRefused_ = false;

    // The rebuilt part of the display, on the root.
    Pixels patch_;

    // A part our windows left, covered until `until` (as window none).
    struct LeftPart {
        PixelRect rect;
        TimePoint until;
    };

    std::vector<CoveredPart> covered_;
    std::vector<LeftPart> left_;
    std::vector<CoveredPart> rebuiltFor_;
    bool changed_ = true;
};

}  // namespace hollowkit::x11
