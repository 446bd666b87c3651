#include "lumenhollow/ui/panels/microphone_control.h"

#include <QHBoxLayout>

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
    meter_->setVisible(state.activeMicrophone.has_value());
    meter_->setLevel(state.audioLevel);
    layout()->setContentsMargins(0, 0, state.activeMicrophone ? kMeterTrailing : 0, 0);
    MicrophoneSnapshot snapshot{state.microphones, state.activeMicrophone, state.automaticMicrophone};
    if (cameraShown_ == snapshot && cameraShownCompact_ == compact_) return;
    fillMenu(*button_->menu(), cameraMicrophoneEntries(snapshot),
             [this](const MenuEntry& entry) { runMenuCommand(model_.model(), entry); });
    button_->setLabel(cameraMicrophoneLabel(snapshot, compact_));
    ui::setHelp(*this, QString::fromStdString(cameraMicrophoneHelp(snapshot.active)));
    cameraShown_ = std::move(snapshot);
    cameraShownCompact_ = compact_;
}

void MicrophoneControl::showWirelessFace() {
    const PublishedState& state = model_.state();
    meter_->hide();
    layout()->setContentsMargins(0, 0, 0, 0);
    WirelessMicrophoneSnapshot snapshot{state.wirelessMicID, state.macMicrophones, defaultInputName_};
    if (wirelessShown_ == snapshot) return;
    fillMenu(*button_->menu(), wirelessMicrophoneEntries(snapshot),
             [this](const MenuEntry& entry) { runMenuCommand(model_.model(), entry); });
    button_->setLabel(wirelessMicrophoneLabel(snapshot));
    ui::setHelp(*this, QString::fromStdString(wirelessMicrophoneHelp(snapshot)));
    wirelessShown_ = std::move(snapshot);
}

}  // namespace lumenhollow
