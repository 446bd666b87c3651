#include "lumenhollow/ui/panels/microphone_control.h"

#include <QHBoxLayout>

#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/panels/level_meter.h"
#include "lumenhollow/ui/panels/microphone_menu_button.h"
#include "lumenhollow/ui/menus/menu_commands.h"
#include "lumenhollow/ui/menus/menu_filler.h"

namespace lumenhollow {

MicrophoneControl::MicrophoneControl(ModelSignals& model, bool compact, QWidget* parent)
    : ui::GlassSurface(ui::GlassShape::capsule, parent),
      model_(model),
      compact_(compact),
      button_(new MicrophoneMenuButton(this)),
      meter_(new LevelMeter(kMeterSegments, this)) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kMeterSpacing);
    row->setSizeConstraint(QLayout::SetFixedSize);
    row->addWidget(button_, 0, Qt::AlignVCenter);
    row->addWidget(meter_, 0, Qt::AlignVCenter);
    wireless_ = model_.state().connection == ConnectionMode::wireless;
    model_.onChange({Field::connection, Field::microphones, Field::activeMicrophone, Field::automaticMicrophone,
                     Field::audioLevel, Field::wirelessMicID, Field::macMicrophones},
                    this, [this] { refresh(); });
    refresh();
}

void MicrophoneControl::setCompact(bool compact) {
    if (compact == compact_) return;
    compact_ = compact;
    refresh();
}

void MicrophoneControl::setRoom(int width) {
    if (width == room_) return;
    room_ = width;
    refresh();
}

void MicrophoneControl::showEvent(QShowEvent* event) {
    ui::GlassSurface::showEvent(event);
    if (wireless_) refreshInputs();
}

void MicrophoneControl::refreshInputs() {
    defaultInputName_ = model_.model().defaultMacMicrophoneName();
    // Publishes the inputs, which brings refresh() round again.
    model_.model().refreshMacMicrophones();
    refresh();
}

void MicrophoneControl::refresh() {
    const bool wireless = model_.state().connection == ConnectionMode::wireless;
    if (wireless != wireless_) {
        wireless_ = wireless;
        cameraShown_.reset();
        wirelessShown_.reset();
        // The Wi-Fi face has come on screen: the inputs may have changed since.
        if (wireless_ && isVisible()) {
            refreshInputs();
            return;
        }
    }
    if (wireless_) {
        showWirelessFace();
    } else {
        showCameraFace();
    }
}

void MicrophoneControl::showCameraFace() {
    const PublishedState& state = model_.state();
    meter_->setLevel(state.audioLevel);
    MicrophoneSnapshot snapshot{state.microphones, state.activeMicrophone, state.automaticMicrophone};
    if (cameraShown_ == snapshot && cameraShownCompact_ == compact_ && shownRoom_ == room_) return;
    fillMenu(*button_->menu(), cameraMicrophoneEntries(snapshot),
             [this](const MenuEntry& entry) { runMenuCommand(model_.model(), entry); });
    showFitted(cameraMicrophoneLabel(snapshot, compact_), cameraMicrophoneLabel(snapshot, true),
               state.activeMicrophone.has_value());
    ui::setHelp(*this, QString::fromStdString(cameraMicrophoneHelp(snapshot.active)));
    cameraShown_ = std::move(snapshot);
    cameraShownCompact_ = compact_;
}

void MicrophoneControl::showWirelessFace() {
    const PublishedState& state = model_.state();
    WirelessMicrophoneSnapshot snapshot{state.wirelessMicID, state.macMicrophones, defaultInputName_};
    if (wirelessShown_ == snapshot && shownRoom_ == room_) return;
    fillMenu(*button_->menu(), wirelessMicrophoneEntries(snapshot),
             [this](const MenuEntry& entry) { runMenuCommand(model_.model(), entry); });
    const MicrophoneLabel label = wirelessMicrophoneLabel(snapshot);
    showFitted(label, label, false);
    ui::setHelp(*this, QString::fromStdString(wirelessMicrophoneHelp(snapshot)));
    wirelessShown_ = std::move(snapshot);
}

void MicrophoneControl::showFitted(MicrophoneLabel label, const MicrophoneLabel& narrow, bool meter) {
    shownRoom_ = room_;
    const auto width = [this, &meter] {
        const int meterWidth = meter ? kMeterSpacing + meter_->sizeHint().width() + kMeterTrailing : 0;
        return button_->sizeHint().width() + meterWidth;
    };
    button_->setLabel(label);
    if (width() > room_ && !(label == narrow)) {
        label = narrow;
        button_->setLabel(label);
    }
    if (width() > room_) meter = false;
    if (width() > room_) {
        const int nameWidth = static_cast<int>(std::floor(button_->nameWidth()));
        label.nameMaxWidth = std::max(0, std::min(label.nameMaxWidth, nameWidth) - (width() - room_));
        button_->setLabel(label);
    }
    meter_->setVisible(meter);
    layout()->setContentsMargins(0, 0, meter ? kMeterTrailing : 0, 0);
}

}  // namespace lumenhollow
