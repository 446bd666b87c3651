#pragma once

// The island's small windows onto the desktop, each behind an interface so
// the controller runs on fakes in tests: where the notch is (never on Linux),
// the screens, the pointer anywhere on the desktop, and whether the panel
// lets clicks through. GUI thread only.

#include <QObject>
#include <QPoint>
#include <QRect>

#include <vector>

#include "lumenhollow/ui/island/notch_geometry.h"

class QScreen;

namespace lumenhollow::ui {

// Measures the notch of one screen.
class NotchSource {
public:
    virtual ~NotchSource() = default;
    virtual ScreenNotch notchOf(const QScreen& screen) const = 0;
};

// X11 screens have no notch and no safe area: always none.
class NoNotchSource final : public NotchSource {
public:
    ScreenNotch notchOf(const QScreen&) const override { return {}; }
};

// The screens now; `changed` whenever one is added, removed or resized (the
// controller folds a burst into one repositioning).
class ScreenSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual std::vector<ScreenInfo> screens() const = 0;
Q_SIGNALS:
    void changed();
};

struct PointerSample {
    QPoint position;          // global coordinates
    bool buttonsHeld = false; // any mouse button, anywhere on the desktop
    bool operator==(const PointerSample&) const = default;
};

// A screen as Qt places it: its logical frame (whose top left is also
// where it starts in the X server's device pixels) and its scale.
struct ScreenScale {
    QRect frame;
    double devicePixelRatio = 1;
    bool operator==(const ScreenScale&) const = default;
};

// The X server's pointer position `device` in Qt's logical coordinates,
// scaled by the screen the pointer is on (each screen scales from its own
// top left); by the first screen's scale when it is on none of them.
QPoint logicalPointerPosition(QPoint device, const std::vector<ScreenScale>& screens);

// The pointer anywhere on the desktop; `moved` after it moved or a button
// changed (a drag included), while watched. Unwatched (the island hidden),
// a source does no work at all and its sample may be old.
class PointerSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual PointerSample sample() const = 0;
    // Starting to watch takes a fresh sample (`moved` when it differs).
    virtual void setWatching(bool watching) = 0;
Q_SIGNALS:
    void moved();
};

// Whether the panel lets clicks through to what lies beneath. Passing
// through, it still takes the island's hover area (in the panel's
// coordinates), so the window system reports a pointer arriving there
// however it came (moved by a program, or the island grown under it).
class PanelInput {
public:
    virtual ~PanelInput() = default;
    virtual void setPassThrough(bool on) = 0;
    virtual bool passThrough() const = 0;
    virtual void setIslandArea(const QRect& area) = 0;
};

// How the panel's see-through parts are made: an ARGB window where a
// compositing manager blends it, a shape mask (no soft shadow) where none runs.
enum class IslandWindowMode : uint8_t { none = 0, translucent, mask };

// Which mode the desktop calls for now; `changed` when a compositing
// manager starts or stops.
class WindowModeSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual IslandWindowMode mode() const = 0;
Q_SIGNALS:
    void changed();
};

}  // namespace lumenhollow::ui
