#include "lumenhollow/ui/panels/screen_recording_button.h"

#include <QGraphicsOpacityEffect>

#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/screen_recording_panel.h"

namespace lumenhollow {

ScreenRecordingButton::ScreenRecordingButton(ModelSignals& model, QWidget* parent)
    : ui::IconButton("rectangle.inset.bottomright.filled", tr("Record your screen with the camera in a corner"), kSize,
                     parent),
      model_(model),
      opacity_(new QGraphicsOpacityEffect(this)),
      popover_(new ui::Popover(this, ui::PopoverEdge::above,
                               [&model](QWidget* host) { return new ScreenRecordingPanel(model, host); })) {
    setObjectName(QStringLiteral("screenRecordingButton"));
    opacity_->setOpacity(1);
    setGraphicsEffect(opacity_);
    connect(this, &QAbstractButton::clicked, this, [this] { press(); });
    ui::makePressable(*this, ui::PressRole::menuButton, [this] { click(); },
                      [this] { return popover_->isPresented(); });
    connect(popover_, &ui::Popover::dismissed, this, [this] {
        if (model_.state().showScreenOptions) model_.model().setShowScreenOptions(false);
    });
    model_.onChange({Field::showScreenOptions}, this, [this] { follow(); });
    model_.onChange({Field::recordScreen, Field::recordingStarted, Field::isStartingScreen, Field::composeProgress},
                    this, [this] { refresh(); });
    refresh();
}

ScreenRecordingButton::~ScreenRecordingButton() {
    // The popover goes with the button; so does the flag that showed it.
    if (popover_->isPresented() && model_.state().showScreenOptions) model_.model().setShowScreenOptions(false);
}

double ScreenRecordingButton::opacity() const { return opacity_->opacity(); }

void ScreenRecordingButton::refresh() {
    shown_ = screenRecordingButton(model_.state().recordScreen, model_.model().isBusy());
    setSymbol(shown_.symbol);
    setActive(shown_.active);
    setEnabled(shown_.enabled);
    opacity_->setOpacity(shown_.opacity);
}

void ScreenRecordingButton::press() {
    CameraModel& model = model_.model();
    // The display list is read on a later turn, after the panel has opened
    // (or closed): the menu fills in when the list arrives.
    model.mainExecutor().post([weak = std::weak_ptr<CameraModel>(model_.sharedModel())] {
        if (auto self = weak.lock()) self->refreshDisplays();
    });
    model.setShowScreenOptions(!model.state().showScreenOptions);
}

void ScreenRecordingButton::follow() {
    if (!model_.state().showScreenOptions) {
        popover_->dismiss();
        return;
    }
    popover_->present();
    // A hidden button cannot show it: the flag must not wait for its return.
    if (!popover_->isPresented()) model_.model().setShowScreenOptions(false);
}

}  // namespace lumenhollow
