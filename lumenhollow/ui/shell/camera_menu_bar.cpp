#include "lumenhollow/ui/shell/camera_menu_bar.h"

#include <QEvent>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/shell/camera_commands.h"
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

CameraMenuBar::CameraMenuBar(ModelSignals& model, Updater& updater, QWidget* parent)
    : QMenuBar(parent),
      model_(model),
      weakModel_(model.sharedModel()),
      updater_(&updater),
      window_(parent ? parent->window() : nullptr),
      camera_(nullptr) {
    QMenu* application = addMenu(actionText(menu_text::kApplicationMenu));
    checkForUpdates_ = application->addAction(actionText(menu_text::kCheckForUpdates));
    connect(checkForUpdates_, &QAction::triggered, this, [this] {
        if (updater_) updater_->checkForUpdates();
    });
    application->addSeparator();
    addCommand(*application, menu_text::kQuit, MenuCommand::quit, [](CameraModel& m) { m.afterClosingSheets(); });

    camera_ = addMenu(actionText(menu_text::kCameraMenu));
    addCommand(*camera_, menu_text::kStartRecording, MenuCommand::toggleRecording,
               [](CameraModel& m) { m.toggleRecording(); });
    QAction* recordScreen = addCommand(*camera_, menu_text::kRecordScreenToo, MenuCommand::recordScreen,
                                       [](CameraModel& m) { m.toggleRecordScreen(); });
    // The model decides whether the option changes; the mark then shows its answer.
    recordScreen->setCheckable(true);
    addCommand(*camera_, menu_text::kTakePhoto, MenuCommand::takePhoto, [](CameraModel& m) { m.takePhoto(); });
    camera_->addSeparator();
    addCommand(*camera_, menu_text::kStartFaceTracking, MenuCommand::faceTracking, camera_commands::toggleFaceTracking);
    addCommand(*camera_, menu_text::kAutoFrame, MenuCommand::autoFrame, [](CameraModel& m) { m.autoFrame(); });
    camera_->addSeparator();
    centerGimbal_ = addCommand(*camera_, menu_text::kCenterGimbal, MenuCommand::none, camera_commands::centerGimbal);
    addCommand(*camera_, menu_text::kFlipToFaceYou, MenuCommand::flipGimbal, camera_commands::flipGimbal);
    camera_->addSeparator();
    addCommand(*camera_, menu_text::kSaveScene, MenuCommand::saveScene,
               [](CameraModel& m) { m.saveCurrentPositionAsScene(); });
    afterScenes_ = camera_->addSeparator();
    addCommand(*camera_, menu_text::kOpenOutputFolder, MenuCommand::openOutputFolder,
               [](CameraModel& m) { m.openOutputFolder(); });

    QMenu* view = addMenu(actionText(menu_text::kViewMenu));
    QAction* fullScreen = view->addAction(actionText(fullScreenTitle(false)));
    fullScreen->setShortcuts(commandShortcuts(MenuCommand::fullScreen));
    commands_[static_cast<size_t>(MenuCommand::fullScreen)] = fullScreen;
    connect(fullScreen, &QAction::triggered, this, [this] { toggleFullScreen(); });
    connect(view, &QMenu::aboutToShow, this, [this] { refreshFullScreenTitle(); });

    QMenu* help = addMenu(actionText(menu_text::kHelpMenu));
    // The sheet shows in the main window; the item does not bring it forward.
    addCommand(*help, menu_text::kKeyboardShortcuts, MenuCommand::keyboardShortcuts,
               [](CameraModel& m) { m.setShowShortcuts(true); });

    // Every change is judged (the judgement is cheap); actions change only
    // when what they show does, so a 15-a-second level meter costs nothing.
    connect(&model_, &ModelSignals::changed, this, [this] { refresh(); });
    connect(&updater, &Updater::canCheckForUpdatesChanged, this, [this] { refresh(); });
    for (QMenu* menu : {application, camera_}) connect(menu, &QMenu::aboutToShow, this, [this] { refresh(); });
    if (window_) window_->installEventFilter(this);
    refresh();
}

CameraMenuBar::~CameraMenuBar() {
    if (window_) window_->removeEventFilter(this);
}

QAction* CameraMenuBar::addCommand(QMenu& menu, std::string_view title, MenuCommand command, Operation operation) {
    QAction* action = menu.addAction(actionText(title));
    if (command != MenuCommand::none) {
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

QAction& CameraMenuBar::action(MenuCommand command) const {
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
        action(MenuCommand::recordScreen).setChecked(state.recordScreen.checked);
        return;
    }
    applyCommandState(*checkForUpdates_, state.checkForUpdates);
    applyCommandState(action(MenuCommand::toggleRecording), state.recording);
    applyCommandState(action(MenuCommand::recordScreen), state.recordScreen);
    applyCommandState(action(MenuCommand::takePhoto), state.takePhoto);
    applyCommandState(action(MenuCommand::faceTracking), state.faceTracking);
    applyCommandState(action(MenuCommand::autoFrame), state.autoFrame);
    applyCommandState(action(MenuCommand::saveScene), state.saveScene);
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

void CameraMenuBar::toggleFullScreen() {
    if (!window_) return;
    if (window_->isFullScreen()) {
        window_->showNormal();
    } else {
        window_->showFullScreen();
    }
    refreshFullScreenTitle();
}

void CameraMenuBar::refreshFullScreenTitle() {
    const bool fullScreen = window_ && window_->isFullScreen();
    action(MenuCommand::fullScreen).setText(actionText(fullScreenTitle(fullScreen)));
}

bool CameraMenuBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::WindowStateChange) refreshFullScreenTitle();
    return QMenuBar::eventFilter(watched, event);
}

}  // namespace lumenhollow
