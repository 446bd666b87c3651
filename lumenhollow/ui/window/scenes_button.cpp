#include "lumenhollow/ui/window/scenes_button.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QMouseEvent>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/scenes_panel.h"
#include "lumenhollow/ui/kit/shortcuts.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "lumenhollow/ui/window/bar_state.h"
#include "lumenhollow/ui/window/tool_actions.h"

namespace lumenhollow {

namespace {

constexpr const char* kScenesTitle = "Scenes";

// The pill form's face, announcing a press like a button.
class ScenesPill final : public ui::PillMenuLabel {
public:
    ScenesPill(std::function<void()> pressed, std::function<bool()> opened, QWidget* parent)
        : ui::PillMenuLabel(kScenesSymbol, QString::fromUtf8(kScenesTitle), parent),
          pressed_(std::move(pressed)),
          opened_(std::move(opened)) {
        ui::makePressable(*this, ui::PressRole::menuButton, [this] { pressed_(); }, [this] { return opened_(); });
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        pressed_();
    }

private:
    std::function<void()> pressed_;
    std::function<bool()> opened_;
};

}  // namespace

std::string scenesPillTitle(size_t sceneCount) {
    if (sceneCount == 0) return kScenesTitle;
    return std::string(kScenesTitle) + " \u00B7 " + std::to_string(sceneCount);
}

std::string scenesHelp() {
    // The recall keys run from the first digit to the ninth.
    return "Save camera angles and jump back with " + ui::shortcutText(QKeySequence(Qt::ALT | Qt::Key_1)) +
           "\u20139";
}

ScenesButton::ScenesButton(ModelSignals& model, bool iconOnly, QWidget* parent)
    : QWidget(parent), model_(model), iconOnly_(iconOnly) {
    const QString help = QString::fromStdString(scenesHelp());
    auto switchToUSB = [&model] { model.model().switchToUSB(); };
    const QString reason = QString::fromUtf8(kNeedsPositioningReason);
    const QString title = QString::fromUtf8(kScenesTitle);
    if (iconOnly_) {
        auto* circle = new ui::IconButton(kScenesSymbol, help, kScenesCircleSize, this);
        ui::makePressable(*circle, ui::PressRole::menuButton, [circle] { circle->click(); },
                          [this] { return popover_ && popover_->isPresented(); });
        connect(circle, &QAbstractButton::clicked, this, &ScenesButton::clicked);
        button_ = circle;
        marker_ = new ui::UsbOnlyIconButton(kScenesSymbol, title, reason, kScenesCircleSize, switchToUSB, this);
    } else {
        auto* pill = new ScenesPill([this] { Q_EMIT clicked(); }, [this] { return popover_ && popover_->isPresented(); },
                                    this);
        ui::setHelp(*pill, help);
        button_ = pill;
        marker_ = new ui::UsbOnlyPill(kScenesSymbol, title, reason, switchToUSB, this);
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(button_);
    layout->addWidget(marker_);
    marker_->hide();
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    popover_ = new ui::Popover(button_, iconOnly_ ? ui::PopoverEdge::leading : ui::PopoverEdge::below,
                               [&model](QWidget* host) { return new ScenesPanel(model, host); });
    connect(this, &ScenesButton::clicked, this,
            [this] { model_.model().setShowScenes(!model_.state().showScenes); });
    // A name still being typed is kept, however the popover closes; the
    // other rows are left alone, so a close with nothing typed writes nothing.
    connect(popover_, &ui::Popover::closing, this, [this] {
        if (auto* panel = qobject_cast<ScenesPanel*>(popover_->content())) panel->commitTypedName();
    });
    connect(popover_, &ui::Popover::dismissed, this, [this] {
        if (model_.state().showScenes) model_.model().setShowScenes(false);
    });
    model_.onChange({Field::showScenes}, this, [this] { follow(); });
    model_.onChange(kScenesButtonFields, this, [this] { refresh(); });
    refresh();
}

ScenesButton::~ScenesButton() {
    if (popover_->isPresented() && model_.state().showScenes) model_.model().setShowScenes(false);
}

void ScenesButton::follow() {
    if (!model_.state().showScenes) {
        popover_->dismiss();
        return;
    }
    // Both forms of the button follow the flag; only the one on screen opens.
    if (!button_->isVisible() || !window()->isVisible()) return;
    popover_->present();
}

QWidget* ScenesButton::current() const { return showsMarker() ? static_cast<QWidget*>(marker_) : button_; }

bool ScenesButton::showsMarker() const { return !marker_->isHidden(); }

void ScenesButton::refresh() {
    const bool needsUSB = !cameraTraits(model_.model()).supportsPositioning;
    if (!iconOnly_) {
        const QString title = QString::fromStdString(scenesPillTitle(model_.state().scenes.size()));
        auto* pill = static_cast<ui::PillMenuLabel*>(button_);
        if (pill->title() != title) pill->setTitle(title);
    }
    if (needsUSB == showsMarker()) return;
    button_->setHidden(needsUSB);
    marker_->setHidden(!needsUSB);
    updateGeometry();
}

}  // namespace lumenhollow
