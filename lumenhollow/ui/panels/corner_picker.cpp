#include "lumenhollow/ui/panels/corner_picker.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QVariantAnimation>

#include <algorithm>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow {

namespace {

constexpr double kFigureScale = 0.45;
// The choice's move: a critically damped spring of 0.3 s.
constexpr ui::Spring kPickerSpring{0.3, 1.0};

QColor blendPickerColour(const QColor& from, const QColor& to, double t) {
    const auto mix = [t](float a, float b) { return static_cast<float>(a + (b - a) * t); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()), mix(from.blueF(), to.blueF()),
                            mix(from.alphaF(), to.alphaF()));
}

bool samePlaces(const std::vector<CornerTarget>& a, const std::vector<CornerTarget>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CornerTarget& x, const CornerTarget& y) {
        return x.corner == y.corner && x.rect == y.rect;
    });
}

// Room around a target for its focus ring.
constexpr int kFocusRingRoom = 3;

// One target as a button: reached with Tab (a click leaves the focus where
// it was), pressed with Space or a click on its shape, named and helped by
// its title. The picker paints the target; the button draws only its focus
// ring, while the keyboard has put the focus there.
class PickerTargetButton final : public QAbstractButton {
public:
    explicit PickerTargetButton(QWidget* parent) : QAbstractButton(parent) {
        setFocusPolicy(Qt::TabFocus);
        ring_ = QPen(ui::platformAccentColor(), 2);
    }

    void setTarget(const CornerTarget& target, hollowkit::BubbleShape shape) {
        target_ = target;
        shape_ = shape;
        setGeometry(target.rect.toAlignedRect().adjusted(-kFocusRingRoom, -kFocusRingRoom, kFocusRingRoom,
                                                         kFocusRingRoom));
        ui::setHelp(*this, target.help);
        update();
    }

protected:
    bool hitButton(const QPoint& pos) const override { return targetHit(target_, shape_, QPointF(pos + this->pos())); }

    bool event(QEvent* event) override {
        // Help only over the target itself, where a click lands.
        if (event->type() == QEvent::ToolTip && !hitButton(static_cast<QHelpEvent*>(event)->pos())) {
            QToolTip::hideText();
            return true;
        }
        return QAbstractButton::event(event);
    }

    void focusInEvent(QFocusEvent* event) override {
        // The ring shows a focus the keyboard moved here, not one a window's
        // activation handed out; coming back to the window keeps it as it was.
        const Qt::FocusReason reason = event->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason) {
            keyboardFocus_ = true;
        } else if (reason != Qt::ActiveWindowFocusReason) {
            keyboardFocus_ = false;
        }
        QAbstractButton::focusInEvent(event);
    }

    void paintEvent(QPaintEvent*) override {
        if (!hasFocus() || !keyboardFocus_) return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(ring_);
        painter.setBrush(Qt::NoBrush);
        const QRectF around = target_.rect.adjusted(-2, -2, 2, 2);
        painter.translate(-QPointF(pos()));
        if (shape_ == hollowkit::BubbleShape::circle) {
            painter.drawEllipse(around);
        } else {
            // A cut-out stands on the miniature's edge: its ring stays inside it.
            const QRectF inside = QRectF(parentWidget()->rect()).adjusted(1, 1, -1, -1);
            painter.drawRoundedRect(around.intersected(inside), 4, 4);
        }
    }

private:
    CornerTarget target_;
    hollowkit::BubbleShape shape_ = hollowkit::BubbleShape::circle;
    QPen ring_;
    bool keyboardFocus_ = false;
};

// The picker is read as one group whose buttons are its parts.
QAccessibleInterface* pickerAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("lumenhollow::CornerPicker") && object && object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    }
    return nullptr;
}

}  // namespace

CornerPicker::CornerPicker(QWidget* parent) : QWidget(parent) {
    static const bool groupKnown = [] {
        QAccessible::installFactory(pickerAccessible);
        return true;
    }();
    Q_UNUSED(groupKnown);
    setFixedSize(kCanvasWidth, kCanvasHeight);
    setAccessibleName(tr("Camera position"));
    screenBorder_ = QPen(ui::withOpacity(Qt::white, 0.14), 1);
    dashedBorder_ = QPen(ui::withOpacity(Qt::white, 0.2), 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    dashedBorder_.setDashPattern({3, 2});
    setStyle(hollowkit::BubbleCorner::bottomTrailing, hollowkit::BubbleSize::medium, hollowkit::BubbleShape::circle);
}

void CornerPicker::setStyle(hollowkit::BubbleCorner selection, hollowkit::BubbleSize size,
                            hollowkit::BubbleShape shape) {
    std::vector<CornerTarget> targets = cornerTargets(selection, size, shape, QSizeF(kCanvasWidth, kCanvasHeight));
    if (shape == shape_ && targets == targets_) return;
    // Only a new choice among the same targets moves; new places are drawn at once.
    const bool moves = shape == shape_ && samePlaces(targets, targets_);
    std::vector<double> from;
    if (moves) {
        for (size_t i = 0; i < targets_.size(); ++i) from.push_back(emphasis(i));
    }
    if (motion_) motion_->stop();
    shape_ = shape;
    targets_ = std::move(targets);
    from_ = std::move(from);
    progress_ = 1;
    if (moves) {
        progress_ = 0;
        motion_ = ui::animate(this, kPickerSpring, [this](double progress) {
            progress_ = progress;
            update();
        });
    }
    syncButtons();
    update();
}

void CornerPicker::syncButtons() {
    while (buttons_.size() > targets_.size()) {
        // Later: the shape may change while a target's own press is delivered.
        buttons_.back()->hide();
        buttons_.back()->deleteLater();
        buttons_.pop_back();
    }
    while (buttons_.size() < targets_.size()) {
        auto* button = new PickerTargetButton(this);
        const size_t index = buttons_.size();
        connect(button, &QAbstractButton::clicked, this, [this, index] {
            if (index < targets_.size()) Q_EMIT cornerChosen(targets_[index].corner);
        });
        // A target made again later still follows its neighbours with Tab.
        if (!buttons_.empty()) QWidget::setTabOrder(buttons_.back(), button);
        button->show();
        buttons_.push_back(button);
    }
    for (size_t i = 0; i < targets_.size(); ++i) {
        static_cast<PickerTargetButton*>(buttons_[i])->setTarget(targets_[i], shape_);
    }
}

double CornerPicker::emphasis(size_t target) const {
    if (target >= targets_.size()) return 0;
    const double to = targets_[target].selected ? 1 : 0;
    if (target >= from_.size()) return to;
    return std::clamp(from_[target] + (to - from_[target]) * progress_, 0.0, 1.0);
}

void CornerPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF screen = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(screenBorder_);
    painter.setBrush(ui::withOpacity(Qt::white, 0.06));
    painter.drawRoundedRect(screen, kScreenCornerRadius, kScreenCornerRadius);

    const ui::Symbols& symbols = ui::Symbols::instance();
    const QColor accent = ui::appAccentColor();
    for (size_t i = 0; i < targets_.size(); ++i) {
        const CornerTarget& target = targets_[i];
        // Fill, outline and figure fade between a faint target and the chosen one.
        const double chosen = emphasis(i);
        if (shape_ == hollowkit::BubbleShape::circle) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(blendPickerColour(ui::withOpacity(Qt::white, 0.12), accent, chosen));
            painter.drawEllipse(target.rect);
            if (chosen > 0) {
                painter.setOpacity(chosen);
                symbols.draw(painter, target.rect, "person.fill", target.rect.width() * kFigureScale, Qt::white);
            }
            if (chosen < 1) {
                painter.setOpacity(1 - chosen);
                painter.setPen(dashedBorder_);
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(target.rect.adjusted(0.5, 0.5, -0.5, -0.5));
            }
            painter.setOpacity(1);
        } else {
            // The figure stands on the frame's bottom edge: the glyph's box
            // is as tall as the frame and its feet sit low in it.
            const QColor colour = blendPickerColour(ui::withOpacity(Qt::white, 0.18), accent, chosen);
            const double px = target.rect.height() * 1.2;
            const QRectF box(target.rect.center().x() - px / 2, target.rect.bottom() - px * 0.92, px, px);
            symbols.draw(painter, box, "person.fill", px, colour);
        }
    }
}

}  // namespace lumenhollow
