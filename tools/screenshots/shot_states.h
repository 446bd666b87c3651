#pragma once

// The named states of the main window (and the open island) the screenshot
// tool renders: the real window over the camera model with every service
// faked, fed a drawn picture of colour bars, on a frozen clock, with the
// Inter font, the Fusion style and no animation. Needs a QApplication; GUI
// thread.

#include <QImage>

#include <optional>
#include <string>
#include <vector>

#include "hollowkit/camera/camera_setting.h"

namespace lumenhollow::shots {

// What the camera and the user have done before the picture is taken.
enum class ShotScene {
    live = 0,            // a picture arrives over USB
    connectingUSB,       // no picture yet over USB
    connectingWireless,  // no picture yet over Wi-Fi
    failedWireless,      // the wireless camera failed
    cameraOffWireless,   // the wireless camera was switched off
    cameraOffUSB,        // the USB camera was switched off
    countdown,           // a three-second countdown has just begun
    guides,              // every guide chosen in the guide menu
    faceTracked,         // face tracking on, a face found
};

// A sheet over the window, as the user meets it.
// The screen-recording alert as it opens, and with its help asked for.
enum class ShotSheet { none = 0, welcome, usbGuideWaiting, usbGuideFound, shortcuts, screenAlert, screenAlertHelp };

// A feature panel drawn alone, as its popover shows it.
enum class ShotPanel { none = 0, screenRecording, cameraSettings, scenes };

struct ShotState {
    std::string name;
    int windowWidth = 0;
    int windowHeight = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    ShotScene scene = ShotScene::live;
    // Without the controls: the picture alone.
    bool chrome = true;
    // The camera on USB; otherwise over Wi-Fi.
    bool usb = true;
    // A notice just posted.
    std::optional<std::string> notice;
    // A recording that has run this long, and whether it takes the screen too.
    std::optional<int> recordingSeconds;
    bool recordScreen = false;
    ShotSheet sheet = ShotSheet::none;
    // The camera offers microphones, one of them active and hearing sound.
    bool microphones = false;
    // A panel instead of the window; its size follows its content.
    ShotPanel panel = ShotPanel::none;
    bool cutout = false;
    bool screenAccessDenied = false;
    // Scenes saved at three positions, named (at most three).
    int scenes = 0;
    // The camera settings chosen: a format, a look, manual exposure, a fixed white balance.
    bool cameraSettingsChosen = false;
    // The island at the top of the screen, opened, instead of the window.
    bool island = false;
    // The camera's format chosen in its settings panel: the resolution, then
    // (when given) the frame rate, as a person picks them.
    std::optional<hollowkit::CameraResolution> chosenResolution;
    std::optional<hollowkit::CameraFrameRate> chosenFrameRate;
    // The bottom bar alone, with a margin of kBarMargin, instead of the window.
    bool bottomBarOnly = false;
};

inline constexpr int kBarMargin = 8;

const std::vector<ShotState>& shotStates();
const ShotState* findShotState(const std::string& name);

// The look every shot shares (the kit's style, palette and font, no
// animation); once per process.
void prepareShotLook();

// The window's content in `state`; a null image when the state is unknown.
QImage renderShot(const ShotState& state);

// Colour bars with a white border, BGRA, so the picture's edges show.
std::vector<unsigned char> colourBars(int width, int height);

}  // namespace lumenhollow::shots
