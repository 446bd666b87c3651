#include "lumenhollow/ui/shell/camera_menu_state.h"

#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow {

namespace {

// Alt with a digit reaches the first nine scenes.
constexpr size_t kSceneKeyCount = 9;

std::string titleOf(std::string_view text) { return std::string(text); }

}  // namespace

QList<QKeySequence> commandShortcuts(CameraMenuCommand command) {
    switch (command) {
        case CameraMenuCommand::none: return {};
        case CameraMenuCommand::quit: return {QKeySequence(Qt::CTRL | Qt::Key_Q)};
        case CameraMenuCommand::keyboardShortcuts: return {ui::keyboardShortcutsShortcut()};
        // F11 is the desktop's usual key; Ctrl+Meta+F is the one the window's
        // full-screen buttons name.
        case CameraMenuCommand::fullScreen:
            return {QKeySequence(Qt::Key_F11), QKeySequence(Qt::CTRL | Qt::META | Qt::Key_F)};
        case CameraMenuCommand::toggleRecording: return {ui::recordShortcut()};
        case CameraMenuCommand::recordScreen: return {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)};
        case CameraMenuCommand::takePhoto: return {QKeySequence(Qt::CTRL | Qt::Key_S)};
        case CameraMenuCommand::faceTracking: return {QKeySequence(Qt::CTRL | Qt::Key_T)};
        case CameraMenuCommand::autoFrame: return {QKeySequence(Qt::CTRL | Qt::Key_F)};
        case CameraMenuCommand::flipGimbal: return {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)};
        case CameraMenuCommand::saveScene: return {ui::saveSceneShortcut()};
        case CameraMenuCommand::openOutputFolder: return {ui::outputFolderShortcut()};
    }
    return {};
}

QKeySequence sceneShortcut(size_t index) {
    if (index >= kSceneKeyCount) return {};
    return ui::sceneRecallShortcut(static_cast<int>(index));
}

CameraMenuState cameraMenuState(const MenuFacts& facts) {
    CameraMenuState menu;
    menu.checkForUpdates = {titleOf(menu_text::kCheckForUpdates), facts.canCheckForUpdates};
    // A recording can always be stopped, also after its picture dropped.
    menu.recording = facts.recording ? CommandState{titleOf(menu_text::kStopRecording), true}
                                     : CommandState{titleOf(menu_text::kStartRecording), facts.livePicture};
    // The check mark keeps showing the setting while it cannot change.
    menu.recordScreen = {titleOf(menu_text::kRecordScreenToo), !facts.busy, facts.recordScreen};
    menu.takePhoto = {titleOf(menu_text::kTakePhoto), facts.livePicture};
    menu.faceTracking = {titleOf(facts.faceTracking ? menu_text::kStopFaceTracking : menu_text::kStartFaceTracking),
                         facts.livePicture && facts.positioning};
    menu.autoFrame = {titleOf(menu_text::kAutoFrame), facts.positioning};
    menu.saveScene = {titleOf(menu_text::kSaveScene), facts.positioning};
    menu.scenes.reserve(facts.sceneNames.size());
    for (size_t i = 0; i < facts.sceneNames.size(); ++i) {
        menu.scenes.push_back({titleOf(menu_text::kGoToScenePrefix) + facts.sceneNames[i], sceneShortcut(i)});
    }
    return menu;
}

std::string_view fullScreenTitle(bool fullScreen) {
    return fullScreen ? menu_text::kExitFullScreen : menu_text::kEnterFullScreen;
}

QString actionText(std::string_view text) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QLatin1Char('&'), QLatin1String("&&"));
    return shown;
}

}  // namespace lumenhollow
