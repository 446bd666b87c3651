#include "lumenhollow/ui/kit/segmented_control.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QToolTip>
#include <cmath>

#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

namespace {
constexpr double kSegmentInset = 2;
constexpr int kSegmentPadding = 10;
}  // namespace

std::vector<QRectF> segmentRects(const QSizeF& size, int count) {
    std::vector<QRectF> rects;
    if (count <= 0 || size.width() <= 0) return rects;
    const double each = std::floor(size.width() / count);
    for (int i = 0; i < count; ++i) {
        const double left = each * i;
        const double right = i == count - 1 ? size.width() : left + each;
        rects.emplace_back(left, 0, right - left, size.height());
    }
    return rects;
}

QString segmentName(const QString& title, const QString& help) {
    QString words;
    for (const QChar c : title) {
        if (c.category() != QChar::Other_PrivateUse) words.append(c);
    }
    words = words.simplified();
    return words.isEmpty() ? help.simplified() : words;
}

// One segment as a screen reader finds it: a radio button with the segment's
// name and place, checked while chosen, whose press is a click on it. It has
// no object of its own; the control's interface makes and owns it.
class SegmentAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SegmentAccessible(SegmentedControl* control, int index) : control_(control), index_(index) {}

    bool isValid() const override { return control_ && index_ < control_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return control_ ? control_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return control_ ? QAccessible::queryAccessibleInterface(control_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override {
        if (!control_) return {};
        const QString name = segmentName(control_->segmentTitle(index_), control_->segmentHelp(index_));
        if (kind == QAccessible::Name) return name;
        const QString help = control_->segmentHelp(index_).simplified();
        if (kind == QAccessible::Description && help != name) return help;
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid()) return {};
        const std::vector<QRectF> rects = segmentRects(control_->size(), control_->count());
        if (static_cast<size_t>(index_) >= rects.size()) return {};
        return rects[static_cast<size_t>(index_)].toAlignedRect().translated(control_->mapToGlobal(QPoint(0, 0)));
    }
    QAccessible::Role role() const override { return QAccessible::RadioButton; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!control_) {
            state.invalid = true;
            return state;
        }
        state.checkable = true;
        state.checked = control_->currentIndex() == index_;
        state.disabled = !control_->isEnabled();
        state.invisible = !control_->isVisible();
        state.focusable = (control_->focusPolicy() & Qt::TabFocus) != 0;
        state.focused = state.checked && control_->hasFocus();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override {
        if (!control_ || !control_->isEnabled()) return {};
        return {pressAction()};
    }
    void doAction(const QString& action) override {
        if (action == pressAction() && control_ && control_->isEnabled()) control_->choose(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<SegmentedControl> control_;
    int index_;
};

namespace {

// The control is read as one group, under its own name, whose parts are its
// segments.
class SegmentedPickerAccessible final : public QAccessibleWidget {
public:
    explicit SegmentedPickerAccessible(SegmentedControl* control) : QAccessibleWidget(control, QAccessible::Grouping) {}
    ~SegmentedPickerAccessible() override {
        for (const QAccessible::Id id : segments_) {
            if (id != 0) QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return control()->count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        if (segments_.size() <= static_cast<size_t>(index)) segments_.resize(static_cast<size_t>(index) + 1, 0);
        QAccessible::Id& id = segments_[static_cast<size_t>(index)];
        if (id == 0) id = QAccessible::registerAccessibleInterface(new SegmentAccessible(control(), index));
        return QAccessible::accessibleInterface(id);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (size_t i = 0; i < segments_.size(); ++i) {
            if (segments_[i] != 0 && QAccessible::accessibleInterface(segments_[i]) == child) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        return child(control()->segmentAt(control()->mapFromGlobal(QPointF(x, y))));
    }

private:
    SegmentedControl* control() const { return static_cast<SegmentedControl*>(widget()); }

    mutable std::vector<QAccessible::Id> segments_;
};

QAccessibleInterface* segmentedPickerAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("lumenhollow::ui::SegmentedControl") && object && object->isWidgetType()) {
        return new SegmentedPickerAccessible(static_cast<SegmentedControl*>(object));
    }
    return nullptr;
}

}  // namespace

SegmentedControl::SegmentedControl(const QStringList& titles, QWidget* parent) : QWidget(parent), titles_(titles) {
    static const bool segmentsKnown = [] {
        QAccessible::installFactory(segmentedPickerAccessible);
        return true;
    }();
    Q_UNUSED(segmentsKnown);
    setFont(uiFont(TextStyle::callout));
    setFixedHeight(kHeight);
    setFocusPolicy(Qt::TabFocus);
    FocusRing::of(*this);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (const QString& title : titles_) {
        QStaticText text(title);
        text.setTextFormat(Qt::PlainText);
        text.prepare(QTransform(), font());
        texts_.push_back(text);
    }
}

void SegmentedControl::setCurrentIndex(int index) {
    if (index < 0 || index >= count()) index = -1;
    if (current_ == index) return;
    const int was = current_;
    current_ = index;
    announceChoice(was, index);
    update();
}

void SegmentedControl::setSegmentHelp(const QStringList& help) { help_ = help; }

void SegmentedControl::choose(int index) {
    if (index >= 0 && index < count() && isEnabled()) Q_EMIT segmentChosen(index);
}

void SegmentedControl::announceChoice(int from, int to) {
    if (!QAccessible::isActive()) return;
    QAccessibleInterface* picker = QAccessible::queryAccessibleInterface(this);
    if (!picker) return;
    QAccessible::State checked;
    checked.checked = true;
    for (const int index : {from, to}) {
        QAccessibleInterface* segment = picker->child(index);
        if (!segment) continue;
        QAccessibleStateChangeEvent changed(segment, checked);
        QAccessible::updateAccessibility(&changed);
    }
    if (QAccessibleInterface* chosen = picker->child(to); chosen && hasFocus()) {
        QAccessibleEvent focus(chosen, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

int SegmentedControl::segmentAt(const QPointF& pos) const {
    if (!rect().contains(pos.toPoint())) return -1;
    const std::vector<QRectF> rects = segmentRects(size(), count());
    for (size_t i = 0; i < rects.size(); ++i) {
        if (pos.x() >= rects[i].left() && pos.x() < rects[i].right()) return static_cast<int>(i);
    }
    return -1;
}

QSize SegmentedControl::sizeHint() const {
    double widest = 0;
    for (const QStaticText& text : texts_) widest = std::max(widest, text.size().width());
    return {static_cast<int>(std::ceil(widest + 2 * kSegmentPadding)) * std::max(1, count()), kHeight};
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(withOpacity(Qt::white, 0.12), 1));
    painter.setBrush(withOpacity(Qt::white, 0.08));
    painter.drawRoundedRect(bounds, kCornerRadius, kCornerRadius);

    const std::vector<QRectF> rects = segmentRects(size(), count());
    const QColor textColor = withOpacity(Qt::white, isEnabled() ? 0.92 : 0.4);
    for (size_t i = 0; i < rects.size(); ++i) {
        const QRectF& segment = rects[i];
        if (static_cast<int>(i) == current_) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(withOpacity(Qt::white, isEnabled() ? 0.26 : 0.14));
            const QRectF chosen = segment.adjusted(kSegmentInset, kSegmentInset, -kSegmentInset, -kSegmentInset);
            painter.drawRoundedRect(chosen, kCornerRadius - kSegmentInset, kCornerRadius - kSegmentInset);
        } else if (i > 0 && static_cast<int>(i) != current_ + 1) {
            // A thin rule between two segments that are not chosen.
            painter.setPen(QPen(withOpacity(Qt::white, 0.14), 1));
            painter.drawLine(QPointF(segment.left(), 5), QPointF(segment.left(), height() - 5));
        }
        painter.setPen(textColor);
        const QSizeF textSize = texts_[i].size();
        painter.drawStaticText(QPointF(segment.center().x() - textSize.width() / 2,
                                       segment.center().y() - textSize.height() / 2),
                               texts_[i]);
    }
    paintFocusRing(painter, *this, GlassShape::roundedRect, QRectF(rect()), kCornerRadius);
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    choose(segmentAt(event->position()));
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (step == 0 || count() == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int next = std::clamp(current_ + step, 0, count() - 1);
    if (next != current_) choose(next);
}

bool SegmentedControl::event(QEvent* event) {
    // Over a segment with help of its own, that help, shown while the pointer stays on it.
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int index = segmentAt(help->pos());
        if (index >= 0 && !help_.value(index).isEmpty()) {
            const QRect segment = segmentRects(size(), count())[static_cast<size_t>(index)].toAlignedRect();
            QToolTip::showText(help->globalPos(), help_.value(index), this, segment);
            return true;
        }
    }
    return QWidget::event(event);
}

void SegmentedControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

}  // namespace lumenhollow::ui
