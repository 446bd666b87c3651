#include "lumenhollow/ui/kit/popover.h"

#include <QAccessible>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <utility>

#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/popover_accessible.h"
#include "lumenhollow/ui/kit/popover_keys.h"
#include "lumenhollow/ui/kit/window_shape.h"

namespace lumenhollow::ui {

namespace {

// Keeps the span [start, start + length) inside [low, high) where it fits;
// a span longer than the room starts at `low`.
int popoverClampSpan(int start, int length, int low, int high) {
    if (length >= high - low) return low;
    return std::clamp(start, low, high - length);
}

// The arrow's middle at `target` along a side of `length`, kept off the
// rounded corners (in the middle when the side is too short for that).
int popoverArrowAt(int target, int length) {
    const int margin = static_cast<int>(Popover::kCornerRadius) + Popover::kArrowHalfWidth;
    if (length < 2 * margin) return length / 2;
    return std::clamp(target, margin, length - margin);
}

PopoverEdge popoverOpposite(PopoverEdge edge) {
    switch (edge) {
        case PopoverEdge::above: return PopoverEdge::below;
        case PopoverEdge::leading: return PopoverEdge::trailing;
        case PopoverEdge::trailing: return PopoverEdge::leading;
        case PopoverEdge::none:
        case PopoverEdge::below: return PopoverEdge::above;
    }
    return PopoverEdge::above;
}

}  // namespace

PopoverPlacement placePopover(const QRect& anchor, const QSize& size, PopoverEdge edge, const QRect& screen,
                              int arrowLength) {
    if (edge == PopoverEdge::none) edge = PopoverEdge::below;
    const int gap = Popover::kGap;
    const int screenRight = screen.x() + screen.width();
    const int screenBottom = screen.y() + screen.height();
    const int anchorRight = anchor.x() + anchor.width();
    const int anchorBottom = anchor.y() + anchor.height();
    auto isSideways = [](PopoverEdge side) { return side == PopoverEdge::leading || side == PopoverEdge::trailing; };
    // The whole frame on `side`, with or without the arrow.
    auto sizeOn = [&](PopoverEdge side, bool arrow) {
        const int l = arrow ? arrowLength : 0;
        return isSideways(side) ? QSize(size.width() + l, size.height()) : QSize(size.width(), size.height() + l);
    };
    // The one coordinate across the side it opens on, for either side.
    auto across = [&](PopoverEdge side, QSize frame) {
        switch (side) {
            case PopoverEdge::above: return anchor.y() - gap - frame.height();
            case PopoverEdge::leading: return anchor.x() - gap - frame.width();
            case PopoverEdge::trailing: return anchorRight + gap;
            case PopoverEdge::none:
            case PopoverEdge::below: return anchorBottom + gap;
        }
        return anchorBottom + gap;
    };
    auto fits = [&](PopoverEdge side) {
        const QSize frame = sizeOn(side, true);
        const int start = across(side, frame);
        return isSideways(side) ? start >= screen.x() && start + frame.width() <= screenRight
                                : start >= screen.y() && start + frame.height() <= screenBottom;
    };
    // The frame on `side`, pulled onto the screen.
    auto frameOn = [&](PopoverEdge side, bool arrow) {
        const QSize frame = sizeOn(side, arrow);
        const int w = frame.width();
        const int h = frame.height();
        if (isSideways(side)) {
            return QRect(popoverClampSpan(across(side, frame), w, screen.x(), screenRight),
                         popoverClampSpan(anchor.y() + (anchor.height() - h) / 2, h, screen.y(), screenBottom), w, h);
        }
        return QRect(popoverClampSpan(anchor.x() + (anchor.width() - w) / 2, w, screen.x(), screenRight),
                     popoverClampSpan(across(side, frame), h, screen.y(), screenBottom), w, h);
    };
    PopoverPlacement placed;
    placed.edge = edge;
    if (!fits(edge)) {
        // A tall popover on a short screen opens beside its anchor rather
        // than over it.
        const PopoverEdge other = isSideways(edge) ? PopoverEdge::below : PopoverEdge::trailing;
        const PopoverEdge sides[] = {edge, popoverOpposite(edge), other, popoverOpposite(other)};
        const auto clearOf = [&](bool arrow) {
            return std::find_if(std::begin(sides), std::end(sides),
                                [&](PopoverEdge side) { return !frameOn(side, arrow).intersects(anchor); });
        };
        if (const auto* whole = std::find_if(std::begin(sides) + 1, std::end(sides), fits); whole != std::end(sides)) {
            placed.edge = *whole;
        } else if (const auto* clear = clearOf(true); clear != std::end(sides)) {
            placed.edge = *clear;
        } else if (const auto* bare = clearOf(false); arrowLength > 0 && bare != std::end(sides)) {
            placed.edge = *bare;
            placed.arrow = false;
        }
    }
    placed.frame = frameOn(placed.edge, placed.arrow);
    placed.arrowAt = isSideways(placed.edge)
                         ? popoverArrowAt(anchor.y() + anchor.height() / 2 - placed.frame.y(), placed.frame.height())
                         : popoverArrowAt(anchor.x() + anchor.width() / 2 - placed.frame.x(), placed.frame.width());
    return placed;
}

int popoverBodyRoom(const QRect& anchor, int width, const QRect& screen, int arrowLength) {
    const int gap = Popover::kGap;
    const int anchorRight = anchor.x() + anchor.width();
    const int anchorBottom = anchor.y() + anchor.height();
    const int screenRight = screen.x() + screen.width();
    const int screenBottom = screen.y() + screen.height();
    const int frame = width + arrowLength;
    if (anchor.x() - gap - frame >= screen.x() || anchorRight + gap + frame <= screenRight) return screen.height();
    const int above = anchor.y() - gap - arrowLength - screen.y();
    const int below = screenBottom - anchorBottom - gap - arrowLength;
    return std::max({0, above, below});
}

int popoverScrollingHeight(int wanted, std::optional<int> room, int least) {
    if (!room) return wanted;
    return std::min(wanted, std::max(*room, std::min(wanted, least)));
}

QPainterPath popoverOutline(const QRectF& rect, PopoverEdge edge, int arrowAt, PopoverArrow arrow) {
    QPainterPath outline;
    if (arrow == PopoverArrow::none) {
        outline.addRoundedRect(rect, Popover::kCornerRadius, Popover::kCornerRadius);
        return outline;
    }
    const double length = Popover::kArrowLength;
    const double half = Popover::kArrowHalfWidth;
    QRectF body = rect;
    QPointF tip;
    QPointF baseStart;
    QPointF baseEnd;
    // The arrow's base sinks a pixel into the body so the union has no seam.
    switch (edge) {
        case PopoverEdge::above:
            body.setBottom(rect.bottom() - length);
            tip = {rect.left() + arrowAt, rect.bottom()};
            baseStart = {tip.x() - half, body.bottom() - 1};
            baseEnd = {tip.x() + half, body.bottom() - 1};
            break;
        case PopoverEdge::leading:
            body.setRight(rect.right() - length);
            tip = {rect.right(), rect.top() + arrowAt};
            baseStart = {body.right() - 1, tip.y() - half};
            baseEnd = {body.right() - 1, tip.y() + half};
            break;
        case PopoverEdge::trailing:
            body.setLeft(rect.left() + length);
            tip = {rect.left(), rect.top() + arrowAt};
            baseStart = {body.left() + 1, tip.y() - half};
            baseEnd = {body.left() + 1, tip.y() + half};
            break;
        case PopoverEdge::none:
        case PopoverEdge::below:
            body.setTop(rect.top() + length);
            tip = {rect.left() + arrowAt, rect.top()};
            baseStart = {tip.x() - half, body.top() + 1};
            baseEnd = {tip.x() + half, body.top() + 1};
            break;
    }
    outline.addRoundedRect(body, Popover::kCornerRadius, Popover::kCornerRadius);
    QPainterPath point;
    point.moveTo(baseStart);
    point.lineTo(tip);
    point.lineTo(baseEnd);
    point.closeSubpath();
    return outline.united(point).simplified();
}

// A child of the anchor, so the popover goes when the anchor goes, as a
// child would, without taking on the anchor's enabled state.
class Popover::Keeper final : public QObject {
public:
    Keeper(QWidget* anchor, Popover* popover) : QObject(anchor), popover_(popover) {}
    ~Keeper() override {
        if (Popover* popover = std::exchange(popover_, nullptr)) {
            popover->keeper_ = nullptr;
            delete popover;
        }
    }
    void forget() { popover_ = nullptr; }

private:
    Popover* popover_;
};

Popover::Popover(QWidget* anchor, PopoverEdge edge, ContentFactory makeContent, PopoverArrow arrow)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint),
      anchor_(anchor),
      keeper_(new Keeper(anchor, this)),
      edge_(edge),
      arrow_(arrow),
      makeContent_(std::move(makeContent)),
      menuKeys_(new PopoverMenuKeys(this, anchor)) {
    installPopoverAccessibility();
    setAttribute(Qt::WA_TranslucentBackground);
    // A click outside only closes; on the anchor it must not reopen at once.
    setAttribute(Qt::WA_NoMouseReplay);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    // The popover follows its content when rows come and go.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setArrowSide(edge_);
    anchor_->installEventFilter(this);
}

Popover::~Popover() {
    blockSignals(true);
    if (Keeper* keeper = std::exchange(keeper_, nullptr)) {
        keeper->forget();
        delete keeper;
    }
}

void Popover::present() {
    if (isVisible() || !anchor_->isVisible()) return;
    if (content_) delete content_.data();
    content_ = makeContent_ ? makeContent_(this) : nullptr;
    if (content_) layout()->addWidget(content_);
    // Each opening starts from the side asked, with its arrow.
    setArrowSide(edge_);
    placement_ = PopoverPlacement{};
    placement_.edge = edge_;
    layout()->activate();
    place();
    watchAnchorChain(true);
    menuKeys_->refresh();
    // Above the window the anchor is in now, as a child window would be.
    create();
    if (QWindow* window = windowHandle()) window->setTransientParent(anchor_->window()->windowHandle());
    show();
    // Now among the application's accessible children: a screen reader
    // that holds the tree hears of it.
    if (QAccessible::isActive()) {
        QAccessibleEvent added(this, QAccessible::ObjectCreated);
        QAccessible::updateAccessibility(&added);
    }
    activateWindow();
    if (content_) content_->setFocus(Qt::PopupFocusReason);
}

void Popover::dismiss() {
    if (isVisible()) close();
}

void Popover::setArrowSide(PopoverEdge side, bool arrow) {
    const int l = arrow_ == PopoverArrow::shown && arrow ? kArrowLength : 0;
    switch (side) {
        case PopoverEdge::above: layout()->setContentsMargins(0, 0, 0, l); break;
        case PopoverEdge::leading: layout()->setContentsMargins(0, 0, l, 0); break;
        case PopoverEdge::trailing: layout()->setContentsMargins(l, 0, 0, 0); break;
        case PopoverEdge::none:
        case PopoverEdge::below: layout()->setContentsMargins(0, l, 0, 0); break;
    }
}

QSize Popover::bodySize() const {
    const QMargins arrow = layout()->contentsMargins();
    return size().shrunkBy(arrow);
}

QRect Popover::screenRoom() const {
    QScreen* screen = anchor_->screen();
    return screen ? screen->availableGeometry() : QRect(QPoint(0, 0), QSize(1 << 14, 1 << 14));
}

int Popover::bodyRoom(int width) const {
    const QRect anchor(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
    return popoverBodyRoom(anchor, width, screenRoom(), arrow_ == PopoverArrow::shown ? kArrowLength : 0);
}

void Popover::place() {
    if (placing_) return;
    placing_ = true;
    const QRect room = screenRoom();
    const QRect anchor(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
    const PopoverPlacement next =
        placePopover(anchor, bodySize(), edge_, room, arrow_ == PopoverArrow::shown ? kArrowLength : 0);
    if (next.edge != placement_.edge || next.arrow != placement_.arrow) {
        // Another side, or without the arrow: the arrow's room moves with
        // it, the body's size stays.
        setArrowSide(next.edge, next.arrow);
        layout()->activate();
    }
    if (next != placement_) {
        placement_ = next;
        const PopoverArrow arrow = placement_.arrow ? arrow_ : PopoverArrow::none;
        outline_ = popoverOutline(QRectF(rect()), placement_.edge, placement_.arrowAt, arrow);
        // The line lies wholly inside the edge.
        border_ = popoverOutline(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), placement_.edge,
                                 placement_.arrowAt, arrow);
        setMask(windowShapeMask(outline_));
        move(placement_.frame.topLeft());
        update();
    }
    placing_ = false;
}

void Popover::watchAnchorChain(bool on) {
    for (const QPointer<QWidget>& widget : watched_) {
        if (widget) widget->removeEventFilter(this);
    }
    watched_.clear();
    for (const QMetaObject::Connection& connection : screenFollow_) disconnect(connection);
    screenFollow_.clear();
    if (!on) return;
    // A screen made smaller may leave the window where it was: the popover
    // comes inside the screen's new bounds all the same.
    if (QScreen* screen = anchor_->screen()) {
        screenFollow_.push_back(connect(screen, &QScreen::geometryChanged, this, [this] {
            if (isVisible()) place();
        }));
        screenFollow_.push_back(connect(screen, &QScreen::availableGeometryChanged, this, [this] {
            if (isVisible()) place();
        }));
    }
    // A layout moves the anchor, or any of its parents, without telling the
    // anchor: each of them is watched, the window included.
    for (QWidget* widget = anchor_->parentWidget(); widget; widget = widget->parentWidget()) {
        widget->installEventFilter(this);
        watched_.emplace_back(widget);
        if (widget->isWindow()) break;
    }
}

bool Popover::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == anchor_ && (type == QEvent::Hide || type == QEvent::HideToParent)) {
        dismiss();
    } else if ((type == QEvent::Move || type == QEvent::Resize) && isVisible()) {
        place();
    }
    return QWidget::eventFilter(watched, event);
}

bool Popover::event(QEvent* event) {
    // A key none of the controls took: the menu bar's keys as they are now
    // decide whether it is one of them.
    if (event->type() == QEvent::ShortcutOverride) menuKeys_->refresh();
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        dismiss();
        return true;
    }
    const bool handled = QWidget::event(event);
    // Grown or shrunk with its content: stays against the anchor.
    if (event->type() == QEvent::Resize && isVisible()) place();
    return handled;
}

void Popover::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // No longer among the application's accessible children; the bridge
    // tells a screen reader the child went.
    if (QAccessible::isActive()) {
        QAccessibleEvent removed(this, QAccessible::ObjectDestroyed);
        QAccessible::updateAccessibility(&removed);
    }
    watchAnchorChain(false);
    Q_EMIT closing();
    Q_EMIT dismissed();
}

void Popover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // The glass with nothing behind it: a popover is a window of its own.
    painter.fillPath(outline_, withOpacity(GlassColors::noPicture(), GlassColors::materialOpacity));
    painter.fillPath(outline_, withOpacity(QColor(Qt::black), GlassColors::fillOpacity));
    painter.strokePath(border_, QPen(withOpacity(QColor(Qt::white), GlassColors::borderOpacity),
                                     GlassColors::borderWidth));
}

}  // namespace lumenhollow::ui
