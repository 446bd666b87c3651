#include "lumenhollow/ui/shell/tray_menu.h"

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow {

namespace {

void applyTrayRow(QAction& action, const CommandState& state) {
    action.setText(actionText(state.title));
    action.setEnabled(state.enabled);
    if (action.isCheckable()) action.setChecked(state.checked);
}

// A line of text among the rows: shown, never chosen.
QAction* addTextLine(QMenu& menu) {
    QAction* line = menu.addAction(QString());
    line->setEnabled(false);
    return line;
}

}  // namespace

TrayMenu::TrayMenu(ModelSignals& model, FillNotchMenu fillNotchMenu, QWidget* parent)
    : QMenu(parent),
      weakModel_(model.sharedModel()),
      fillNotchMenu_(std::move(fillNotchMenu)),
      status_(addTextLine(*this)),
      battery_(addTextLine(*this)) {
    addSeparator();
    recording_ = addRow(menu_text::kStartRecording, [](CameraModel& m) { m.toggleRecording(); });
    recordScreen_ = addRow(menu_text::kRecordScreenToo, [](CameraModel& m) { m.toggleRecordScreen(); });
    recordScreen_->setCheckable(true);
    takePhoto_ = addRow(menu_text::kTakePhoto, [](CameraModel& m) { m.takePhoto(); });
    faceTracking_ = addRow(tray_text::kStartTracking, [](CameraModel& m) { m.toggleFaceTracking(); });
    autoFrame_ = addRow(menu_text::kAutoFrame, [](CameraModel& m) { m.autoFrame(); });
    centerGimbal_ = addRow(menu_text::kCenterGimbal, [](CameraModel& m) { m.centerGimbal(); });
    scenes_ = addMenu(actionText(tray_text::kScenes));
    zoomIn_ = addRow(tray_text::kZoomIn, [](CameraModel& m) { m.zoomStep(1); });
    zoomOut_ = addRow(tray_text::kZoomOut, [](CameraModel& m) { m.zoomStep(-1); });
    addSeparator();
    notch_ = addMenu(actionText(tray_text::kNotch));
    notch_->menuAction()->setVisible(static_cast<bool>(fillNotchMenu_));
    connect(notch_, &QMenu::aboutToShow, this, [this] {
        if (fillNotchMenu_) fillNotchMenu_(*notch_);
    });
    showWindow_ = addRow(tray_text::kShowLumenhollow, [](CameraModel& m) { m.showMainWindow(); });
    // Its own action: the window's Quit has the same key, in another window.
    quit_ = addRow(menu_text::kQuit, [](CameraModel& m) { m.afterClosingSheets(); });
    quit_->setShortcuts(commandShortcuts(CameraMenuCommand::quit));

    model.onChange(kMenuFactsFields, this, [this] { refresh(); });
    connect(this, &QMenu::aboutToShow, this, [this] { refresh(); });
    refresh();
}

QAction* TrayMenu::addRow(std::string_view title, Operation operation) {
    return addRowTo(*this, title, std::move(operation));
}

QAction* TrayMenu::addRowTo(QMenu& menu, std::string_view title, Operation operation) {
    QAction* row = menu.addAction(actionText(title));
    connect(row, &QAction::triggered, this, [this, operation = std::move(operation)] {
        if (const std::shared_ptr<CameraModel> model = weakModel_.lock()) operation(*model);
        // A check mark Qt flipped on its own is put back to the model's answer.
        refresh();
    });
    return row;
}

void TrayMenu::refresh() {
    const std::shared_ptr<CameraModel> model = weakModel_.lock();
    if (!model) return;
    const TrayMenuState state = trayMenuState(menuFacts(*model, false));
    if (shown_ == state) {
        recordScreen_->setChecked(state.recordScreen.checked);
        return;
    }
    // Texts from data are shown as they are.
    status_->setText(actionText(state.statusLine));
    battery_->setVisible(state.batteryLine.has_value());
    battery_->setText(actionText(state.batteryLine.value_or(std::string())));
    applyTrayRow(*recording_, state.recording);
    applyTrayRow(*recordScreen_, state.recordScreen);
    applyTrayRow(*takePhoto_, state.takePhoto);
    applyTrayRow(*faceTracking_, state.faceTracking);
    applyTrayRow(*autoFrame_, state.autoFrame);
    if (!shown_ || shown_->sceneTitles != state.sceneTitles) rebuildScenes(state.sceneTitles);
    scenes_->menuAction()->setVisible(!state.sceneTitles.empty());
    scenes_->menuAction()->setEnabled(state.scenesEnabled);
    zoomIn_->setVisible(state.zoomItems);
    zoomOut_->setVisible(state.zoomItems);
    shown_ = state;
}

void TrayMenu::rebuildScenes(const std::vector<std::string>& titles) {
    for (QAction* old : scenes_->actions()) {
        scenes_->removeAction(old);
        old->deleteLater();
    }
    for (size_t i = 0; i < titles.size(); ++i) {
        const int index = static_cast<int>(i);
        addRowTo(*scenes_, titles[i], [index](CameraModel& m) { m.recallScene(index); });
    }
}

}  // namespace lumenhollow
