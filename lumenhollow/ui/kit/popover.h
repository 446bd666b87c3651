#pragma once

// Popover: the one panel that opens beside the control it belongs to (its
// anchor): the scenes, screen-recording and camera-settings panels and the
// USB-only explanation. A dark glass body with rounded corners and, unless
// asked for none, an arrow pointing at the anchor. It stays on screen, moves
// with its anchor while open (a layout that shifts the anchor carries the
// popover along), comes inside its screen again when the screen's size
// changes, and closes on Escape, on a click outside it, on dismiss(), and
// on its own when the anchor is hidden or goes away, so a model flag
// that follows it never outlives the control that set it. While it is open,
// the keys of its window's menu bar still reach their items
// (PopoverMenuKeys).
//
// The window is cut to its outline, so the corners and the arrow stay clean
// also without a compositor. It is a window of its own, not a child of its
// anchor: the anchor's state is not its own, so an anchor disabled while it
// is open (a button that waits while the model is busy) leaves its controls
// and the menu bar's keys working. It goes with its anchor all the same,
// and stays above the anchor's window. The content is built anew by a
// factory at every opening. While open it is a child of the application's
// accessible tree (popover_accessible.h). GUI thread.

#include <QPainterPath>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace lumenhollow::ui {

class PopoverMenuKeys;

// The side of the anchor the popover opens on; none counts as below.
// Trailing is only where a leading popover goes when it lacks room.
enum class PopoverEdge : uint8_t { none = 0, above, below, leading, trailing };

enum class PopoverArrow : uint8_t { none = 0, shown };

// Where a popover opens, in global coordinates.
struct PopoverPlacement {
    QRect frame;                            // the whole window, arrow included
    PopoverEdge edge = PopoverEdge::none;   // the side of the anchor it opened on
    int arrowAt = 0;  // the arrow's middle along the side facing the anchor, from the frame's left or top
    bool arrow = true;  // false: only without its arrow does it leave the anchor uncovered
    bool operator==(const PopoverPlacement&) const = default;
};

// Places a popover whose body is `size` (its arrow, `arrowLength` long, comes
// on the side facing the anchor) beside `anchor`, Popover::kGap away and
// centred on it across `edge`. When that side lacks room inside `screen` it
// opens on the opposite side, else on a side across; where no side holds it
// whole, on the first side that, shifted to lie inside `screen`, leaves the
// anchor uncovered, without its arrow if only that leaves it so; else on
// the side asked, over the anchor. It is shifted to lie inside `screen`
// where it fits. The arrow points at the anchor's middle but keeps clear of
// the rounded corners.
PopoverPlacement placePopover(const QRect& anchor, const QSize& size, PopoverEdge edge, const QRect& screen,
                              int arrowLength = 0);

// The tallest body `width` wide a popover may have on a screen whose usable
// area is `screen` and still open without covering `anchor`: the screen's
// whole height where it fits beside the anchor (its arrow, `arrowLength`
// long, then on its side), else the larger of the room above and below it.
int popoverBodyRoom(const QRect& anchor, int width, const QRect& screen, int arrowLength);

// The height of a popover's scrolling part that would be `wanted` tall,
// where the popover's other rows leave it `room` of the tallest body its
// screen holds (none: no limit): all it wants where that fits, else the
// room, but never less than `least` (or `wanted`, when that is less).
int popoverScrollingHeight(int wanted, std::optional<int> room, int least);

// The outline of the body in `rect` (arrow included) with the arrow on the
// side facing the anchor, or none.
QPainterPath popoverOutline(const QRectF& rect, PopoverEdge edge, int arrowAt, PopoverArrow arrow);

class Popover final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kGap = 6;
    static constexpr double kCornerRadius = 12;
    static constexpr int kArrowLength = 8;     // from the body to the tip
    static constexpr int kArrowHalfWidth = 9;  // half the base

    using ContentFactory = std::function<QWidget*(QWidget* parent)>;

    Popover(QWidget* anchor, PopoverEdge edge, ContentFactory makeContent,
            PopoverArrow arrow = PopoverArrow::shown);
    // Silent: whoever listens may be going away too. An owner that outlives
    // its anchor clears its own flag.
    ~Popover() override;

    // Builds fresh content, sizes the popover to it and shows it beside the
    // anchor. Nothing when it is open already or the anchor is not visible.
    void present();
    // Closes it, as Escape does; nothing when it is closed.
    void dismiss();
    bool isPresented() const { return isVisible(); }
    // The content of the last opening (null before the first).
    QWidget* content() const { return content_; }
    // The control it opens beside.
    QWidget& anchor() const { return *anchor_; }
    // The side asked for; placement() tells where it really opened.
    PopoverEdge edge() const { return edge_; }
    const PopoverPlacement& placement() const { return placement_; }
    // The tallest body `width` wide it may have on its anchor's screen
    // (popoverBodyRoom): content with a list shortens the list to it where
    // it would be taller.
    int bodyRoom(int width) const;

Q_SIGNALS:
    // While it closes, its content still in place: last chance to commit edits.
    void closing();
    // After it closed, whatever closed it.
    void dismissed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();
    // The usable area of the anchor's screen.
    QRect screenRoom() const;
    void setArrowSide(PopoverEdge side, bool arrow = true);
    // The popover's size less its arrow.
    QSize bodySize() const;
    void watchAnchorChain(bool on);

    class Keeper;

    QWidget* const anchor_;
    // The anchor's child that takes the popover with it; null once it went.
    Keeper* keeper_;
    const PopoverEdge edge_;
    const PopoverArrow arrow_;
    ContentFactory makeContent_;
    QPointer<QWidget> content_;
    PopoverPlacement placement_;
    QPainterPath outline_;
    QPainterPath border_;
    // The anchor's parents up to its window, watched for moves while open.
    std::vector<QPointer<QWidget>> watched_;
    // The anchor's screen's size, followed while open.
    std::vector<QMetaObject::Connection> screenFollow_;
    PopoverMenuKeys* menuKeys_;
    bool placing_ = false;
};

}  // namespace lumenhollow::ui
