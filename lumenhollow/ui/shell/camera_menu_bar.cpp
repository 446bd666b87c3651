#include "lumenhollow/ui/shell/camera_menu_bar.h"

#include <QAction>
#include <QMenu>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/menu_style.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/shell/menu_facts.h"
#include "lumenhollow/ui/shell/updater.h"

namespace lumenhollow {

namespace {

void applyCommandState(QAction& action, const CommandState& state) {
    action.setText(actionText(state.title));
    action.setEnabled(state.enabled);
    if (action.isCheckable()) action.setChecked(state.checked);
}

}  // namespace

CameraMenuBar::CameraMenuBar(ModelSignals& model, Updater& updater, QAction& fullScreen, QWidget* parent)
    : QMenuBar(parent),
      model_(model),
      weakModel_(model.sharedModel()),
      updater_(&updater),
      fullScreen_(&fullScreen),
      camera_(nullptr) {
    QMenu* application = addMenu(actionText(menu_text::kApplicationMenu));
    checkForUpdates_ = application->addAction(actionText(menu_text::kCheckForUpdates));
    connect(checkForUpdates_, &QAction::triggered, this, [this] {
        if (updater_) updater_->checkForUpdates();
    });
    application->addSeparator();
    addCommand(*application, menu_text::kQuit, CameraMenuCommand::quit, [](CameraModel& m) { m.afterClosingSheets(); });

    camera_ = addMenu(actionText(menu_text::kCameraMenu));
    addCommand(*camera_, menu_text::kStartRecording, CameraMenuCommand::toggleRecording,
               [](CameraModel& m) { m.toggleRecording(); });
    QAction* recordScreen = addCommand(*camera_, menu_text::kRecordScreenToo, CameraMenuCommand::recordScreen,
                                       [](CameraModel& m) { m.toggleRecordScreen(); });
    // The model decides whether the option changes; the mark then shows its answer.
    recordScreen->setCheckable(true);
    addCommand(*camera_, menu_text::kTakePhoto, CameraMenuCommand::takePhoto, [](CameraModel& m) { m.takePhoto(); });
    camera_->addSeparator();
    addCommand(*camera_, menu_text::kStartFaceTracking, CameraMenuCommand::faceTracking, [](CameraModel& m) { m.toggleFaceTracking(); });
    addCommand(*camera_, menu_text::kAutoFrame, CameraMenuCommand::autoFrame, [](CameraModel& m) { m.autoFrame(); });
    camera_->addSeparator();
    centerGimbal_ = addCommand(*camera_, menu_text::kCenterGimbal, CameraMenuCommand::none, [](CameraModel& m) { m.centerGimbal(); });
    addCommand(*camera_, menu_text::kFlipToFaceYou, CameraMenuCommand::flipGimbal, [](CameraModel& m) { m.flipGimbal(); });
    camera_->addSeparator();
    addCommand(*camera_, menu_text::kSaveScene, CameraMenuCommand::saveScene,
               [](CameraModel& m) { m.saveCurrentPositionAsScene(); });
    afterScenes_ = camera_->addSeparator();
    addCommand(*camera_, menu_text::kOpenOutputFolder, CameraMenuCommand::openOutputFolder,
               [](CameraModel& m) { m.openOutputFolder(); });

    QMenu* view = addMenu(actionText(menu_text::kViewMenu));
    // The window's one full-screen action: its checked state follows the
    // window, whoever changed it, and the title follows the checked state.
    // The title says the state, so the row carries no check mark.
    fullScreen.setProperty(ui::kNoCheckMark, true);
    view->addAction(&fullScreen);
    fullScreen.setShortcuts(commandShortcuts(CameraMenuCommand::fullScreen));
    commands_[static_cast<size_t>(CameraMenuCommand::fullScreen)] = &fullScreen;
    connect(&fullScreen, &QAction::toggled, this, [this] { refreshFullScreenTitle(); });
    refreshFullScreenTitle();

    QMenu* help = addMenu(actionText(menu_text::kHelpMenu));
    // The sheet shows in the main window; the item does not bring it forward.
    addCommand(*help, menu_text::kKeyboardShortcuts, CameraMenuCommand::keyboardShortcuts,
               [](CameraModel& m) { m.setShowShortcuts(true); });

    // Actions change only when what they show does.
    model_.onChange(kMenuFactsFields, this, [this] { refresh(); });
    connect(&updater, &Updater::canCheckForUpdatesChanged, this, [this] { refresh(); });
    for (QMenu* menu : {application, camera_}) connect(menu, &QMenu::aboutToShow, this, [this] { refresh(); });
    refresh();
}

QAction* CameraMenuBar::addCommand(QMenu& menu, std::string_view title, CameraMenuCommand command, Operation operation) {
    QAction* action = menu.addAction(actionText(title));
    if (command != CameraMenuCommand::none) {
        action->setShortcuts(commandShortcuts(command));
        commands_[static_cast<size_t>(command)] = action;
    }
    connect(action, &QAction::triggered, this, [this, operation = std::move(operation)] {
        if (const std::shared_ptr<CameraModel> model = weakModel_.lock()) operation(*model);
        // A check mark Qt flipped on its own is put back to the model's answer.
        refresh();
    });
    return action;
}

QAction& CameraMenuBar::action(CameraMenuCommand command) const {
    QAction* found = commands_.at(static_cast<size_t>(command));
    Q_ASSERT(found);
    return *found;
}

void CameraMenuBar::refresh() {
    const std::shared_ptr<CameraModel> model = weakModel_.lock();
    if (!model) return;
    const CameraMenuState state =
        cameraMenuState(menuFacts(*model, updater_ && updater_->canCheckForUpdates()));
    if (shown_ == state) {
        // Qt may have flipped the check mark itself on a refused choice.
        action(CameraMenuCommand::recordScreen).setChecked(state.recordScreen.checked);
        return;
    }
    applyCommandState(*checkForUpdates_, state.checkForUpdates);
    applyCommandState(action(CameraMenuCommand::toggleRecording), state.recording);
    applyCommandState(action(CameraMenuCommand::recordScreen), state.recordScreen);
    applyCommandState(action(CameraMenuCommand::takePhoto), state.takePhoto);
    applyCommandState(action(CameraMenuCommand::faceTracking), state.faceTracking);
    applyCommandState(action(CameraMenuCommand::autoFrame), state.autoFrame);
    applyCommandState(action(CameraMenuCommand::saveScene), state.saveScene);
    if (!shown_ || shown_->scenes != state.scenes) rebuildScenes(state.scenes);
    shown_ = state;
}

void CameraMenuBar::rebuildScenes(const std::vector<SceneItemState>& scenes) {
    for (QAction* old : sceneActions_) {
        camera_->removeAction(old);
        old->deleteLater();
    }
    sceneActions_.clear();
    for (size_t i = 0; i < scenes.size(); ++i) {
        auto* item = new QAction(actionText(scenes[i].title), camera_);
        // The tenth and later scenes have no key.
        item->setShortcut(scenes[i].shortcut);
        const int index = static_cast<int>(i);
        connect(item, &QAction::triggered, this, [this, index] {
            if (const std::shared_ptr<CameraModel> model = weakModel_.lock()) model->recallScene(index);
        });
        camera_->insertAction(afterScenes_, item);
        sceneActions_.push_back(item);
    }
}

void CameraMenuBar::refreshFullScreenTitle() {
    if (fullScreen_) fullScreen_->setText(actionText(fullScreenTitle(fullScreen_->isChecked())));
}

}  // namespace lumenhollow
