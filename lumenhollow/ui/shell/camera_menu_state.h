#pragma once

// What the menu bar shows: the title, enabled state and check mark of every
// command that changes with the camera, the scene items with their keys, and
// the key sequence of every command. Plain functions of MenuFacts, so the
// menu bar only applies them. The texts stand here once; the tray menu
// shares the ones it repeats.

#include <QKeySequence>
#include <QList>

#include <string>
#include <string_view>
#include <vector>

#include "lumenhollow/ui/shell/menu_facts.h"

namespace lumenhollow {

namespace menu_text {
inline constexpr std::string_view kApplicationMenu = "Lumenhollow";
inline constexpr std::string_view kCameraMenu = "Camera";
inline constexpr std::string_view kViewMenu = "View";
inline constexpr std::string_view kHelpMenu = "Help";
inline constexpr std::string_view kCheckForUpdates = "Check for Updates…";
inline constexpr std::string_view kQuit = "Quit Lumenhollow";
inline constexpr std::string_view kKeyboardShortcuts = "Keyboard Shortcuts";
inline constexpr std::string_view kEnterFullScreen = "Enter Full Screen";
inline constexpr std::string_view kExitFullScreen = "Exit Full Screen";
inline constexpr std::string_view kStartRecording = "Start Recording";
inline constexpr std::string_view kStopRecording = "Stop Recording";
inline constexpr std::string_view kRecordScreenToo = "Record Screen Too";
inline constexpr std::string_view kTakePhoto = "Take Photo";
inline constexpr std::string_view kStartFaceTracking = "Start Face Tracking";
inline constexpr std::string_view kStopFaceTracking = "Stop Face Tracking";
inline constexpr std::string_view kAutoFrame = "Auto Frame";
inline constexpr std::string_view kCenterGimbal = "Center Gimbal";
inline constexpr std::string_view kFlipToFaceYou = "Flip to Face You";
inline constexpr std::string_view kSaveScene = "Save Current Position as Scene";
inline constexpr std::string_view kGoToScenePrefix = "Go to ";
inline constexpr std::string_view kOpenOutputFolder = "Open Output Folder";
}  // namespace menu_text

// The commands that own a key. Alt with a digit belongs to the scene items
// (sceneShortcut).
enum class CameraMenuCommand : uint8_t {
    none = 0,
    quit,
    keyboardShortcuts,
    fullScreen,
    toggleRecording,
    recordScreen,
    takePhoto,
    faceTracking,
    autoFrame,
    flipGimbal,
    saveScene,
    openOutputFolder,
};

// The command's keys, the first being the one menus show; none for none.
QList<QKeySequence> commandShortcuts(CameraMenuCommand command);
// Alt with the digit `index` + 1 for the first nine scenes; an empty sequence
// for the tenth and later, which only edited stored data can hold.
QKeySequence sceneShortcut(size_t index);

struct CommandState {
    std::string title;
    bool enabled = true;
    bool checked = false;

    bool operator==(const CommandState&) const = default;
};

struct SceneItemState {
    std::string title;
    QKeySequence shortcut;  // empty: none

    bool operator==(const SceneItemState&) const = default;
};

// The commands of the menu bar that change with the camera or the updater;
// the others are always enabled under fixed titles.
struct CameraMenuState {
    CommandState checkForUpdates;
    CommandState recording;
    CommandState recordScreen;
    CommandState takePhoto;
    CommandState faceTracking;
    CommandState autoFrame;
    CommandState saveScene;
    // One per saved scene, in stored order; choosing item i recalls scene i.
    std::vector<SceneItemState> scenes;

    bool operator==(const CameraMenuState&) const = default;
};

CameraMenuState cameraMenuState(const MenuFacts& facts);

// "Enter Full Screen" or "Exit Full Screen".
std::string_view fullScreenTitle(bool fullScreen);

// `text` as an action's text that shows it as written: Qt would otherwise
// read "&" as a mnemonic marker, and Alt belongs to the scene keys.
QString actionText(std::string_view text);

}  // namespace lumenhollow
