#include "tools/screenshots/shot_states.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPushButton>

#include <algorithm>
#include <memory>

#include "hollowkit/camera/camera_event.h"
#include "hollowkit/testing/fake_audio_input.h"
#include "hollowkit/testing/fake_face_detector_backend.h"
#include "hollowkit/testing/fake_recording_system.h"
#include "hollowkit/testing/manual_executor.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/fake_island_platform.h"
#include "lumenhollow/testing/fake_model_services.h"
#include "lumenhollow/ui/island/island_expanded_view.h"
#include "lumenhollow/ui/island/island_preview.h"
#include "lumenhollow/ui/island/notch_geometry.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/island/notch_view.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/panels/camera_settings_choices.h"
#include "lumenhollow/ui/panels/camera_settings_panel.h"
#include "lumenhollow/ui/panels/scenes_panel.h"
#include "lumenhollow/ui/panels/screen_permission_text.h"
#include "lumenhollow/ui/panels/screen_recording_panel.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/sheet_host.h"
#include "lumenhollow/ui/window/live_backdrop.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"

namespace lumenhollow::shots {

namespace {

// The model with every outside service faked, on a frozen clock.
struct ShotModel : FakeModelServices {
    hollowkit::FakeAudioInputBackend audioInputs;
    hollowkit::FakeRecordingSystem recordingFakes;
    hollowkit::RecordingSystem recording = recordingFakes.take();
    std::shared_ptr<VideoFeed> feed = std::make_shared<VideoFeed>();
    hollowkit::FakeFaceDetectorBackend* faces = nullptr;  // owned by the detector
    std::shared_ptr<CameraModel> model;

    explicit ShotModel(bool usb) {
        cameras.setPocketConnected(usb);
        // This computer's inputs, as the Wi-Fi microphone menu lists them.
        audioInputs.setInputs({{"alsa_input.pci", "Built-in Audio Analog Stereo"}, {"alsa_input.usb", "Desk Microphone"}});
        audioInputs.setDefaultInputId("alsa_input.pci");
        CameraModelServices withInputs = services(feed, feed, "/home/you/Videos/Lumenhollow",
                                                  fakeImaging(main, [this] {
                                                      auto backend = std::make_unique<hollowkit::FakeFaceDetectorBackend>();
                                                      faces = backend.get();
                                                      return backend;
                                                  }));
        withInputs.audioInputs = &audioInputs;
        withInputs.recordingSystem = &recording;
        model = CameraModel::create(withInputs);
        model->camera().start();
        model->dismissSheets();
        main.runUntilIdle();
    }

    ~ShotModel() {
        model.reset();
        main.runUntilIdle();
    }
};

// The clock stays frozen: the USB guide keeps the footer of its first look.
void showSheet(ShotModel& shot, MainWindow& window, ShotSheet sheet) {
    switch (sheet) {
        case ShotSheet::none: return;
        case ShotSheet::welcome: window.sheets().present(SheetKind::welcome); break;
        case ShotSheet::shortcuts: window.sheets().present(SheetKind::shortcuts); break;
        case ShotSheet::usbGuideWaiting:
        case ShotSheet::usbGuideFound:
            shot.cameras.setPocketConnected(sheet == ShotSheet::usbGuideFound);
            window.sheets().present(SheetKind::usbGuide);
            break;
        case ShotSheet::screenAlert:
        case ShotSheet::screenAlertHelp:
            window.sheets().present(SheetKind::screenRecordingAlert);
            if (sheet == ShotSheet::screenAlertHelp) {
                const std::string_view title = howToAllowRecordingTitle();
                QPushButton* help =
                    window.sheets().button(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
                if (help) help->click();
            }
            break;
    }
    QCoreApplication::processEvents();
}

}  // namespace

namespace {

ShotState windowShot(std::string name, int width, int height, int frameWidth, int frameHeight) {
    ShotState state;
    state.name = std::move(name);
    state.windowWidth = width;
    state.windowHeight = height;
    state.frameWidth = frameWidth;
    state.frameHeight = frameHeight;
    return state;
}

ShotState sceneShot(std::string name, int width, int height, int frameWidth, int frameHeight, ShotScene scene) {
    ShotState state = windowShot(std::move(name), width, height, frameWidth, frameHeight);
    state.scene = scene;
    return state;
}

// The picture alone, without the window's controls.
ShotState pictureShot(std::string name, int width, int height, int frameWidth, int frameHeight) {
    ShotState state = windowShot(std::move(name), width, height, frameWidth, frameHeight);
    state.chrome = false;
    return state;
}

// The bottom bar over Wi-Fi after a format chosen in the camera settings.
ShotState barShot(std::string name, int width, int height, hollowkit::CameraResolution resolution,
                  std::optional<hollowkit::CameraFrameRate> frameRate) {
    ShotState state = windowShot(std::move(name), width, height, 1920, 1080);
    state.usb = false;
    state.chosenResolution = resolution;
    state.chosenFrameRate = frameRate;
    state.bottomBarOnly = true;
    return state;
}

// The panel's size is its own; the window's fields stay 0.
ShotState panelShot(std::string name, ShotPanel panel) {
    ShotState state = windowShot(std::move(name), 0, 0, 1920, 1080);
    state.panel = panel;
    return state;
}

std::vector<ShotState> makeShotStates() {
    std::vector<ShotState> states{
        pictureShot("video-16x9", 1152, 648, 1920, 1080),
        pictureShot("video-4x3-pillarbox", 1152, 648, 1440, 1080),
        pictureShot("video-portrait", 457, 812, 1080, 1920),
        pictureShot("video-portrait-in-landscape", 1330, 748, 1080, 1920),
        // The window's controls; those not built yet stand in as empty glass.
        windowShot("window-usb", 1152, 648, 1920, 1080),
        windowShot("window-wifi", 1152, 648, 1920, 1080),
        windowShot("window-recording", 1152, 648, 1920, 1080),
        windowShot("window-recording-screen", 1152, 648, 1920, 1080),
        windowShot("window-notice", 1152, 648, 1920, 1080),
        windowShot("window-rail", 457, 812, 1080, 1920),
        // The narrow window: shorter titles in the bar.
        windowShot("compact-1000x563", 1000, 563, 1920, 1080),
        sceneShot("overlay-connecting-usb", 1152, 648, 1920, 1080, ShotScene::connectingUSB),
        sceneShot("overlay-connecting-wifi", 1152, 648, 1920, 1080, ShotScene::connectingWireless),
        sceneShot("overlay-failed-wifi", 1152, 648, 1920, 1080, ShotScene::failedWireless),
        sceneShot("overlay-camera-off-wifi", 1152, 648, 1920, 1080, ShotScene::cameraOffWireless),
        sceneShot("overlay-camera-off-usb", 1152, 648, 1920, 1080, ShotScene::cameraOffUSB),
        sceneShot("overlay-countdown-3", 1152, 648, 1920, 1080, ShotScene::countdown),
        sceneShot("overlay-guides-16x9", 1152, 648, 1920, 1080, ShotScene::guides),
        sceneShot("overlay-guides-portrait", 457, 812, 1080, 1920, ShotScene::guides),
        sceneShot("overlay-face-box", 1152, 648, 1920, 1080, ShotScene::faceTracked),
        windowShot("microphone-usb", 1152, 648, 1920, 1080),
        windowShot("microphone-wifi", 1152, 648, 1920, 1080),
        windowShot("sheet-welcome", 1152, 648, 1920, 1080),
        windowShot("sheet-usb-guide-waiting", 1152, 648, 1920, 1080),
        windowShot("sheet-usb-guide-found", 1152, 648, 1920, 1080),
        windowShot("sheet-shortcuts", 1152, 720, 1920, 1080),
        // The smallest window: the content scrolls, the buttons stay.
        windowShot("sheet-welcome-760x428", 760, 428, 1920, 1080),
        windowShot("sheet-shortcuts-760x428", 760, 428, 1920, 1080),
        windowShot("sheet-usb-guide-760x428", 760, 428, 1920, 1080),
        windowShot("sheet-screen-alert", 1152, 648, 1920, 1080),
        windowShot("sheet-screen-alert-help-760x428", 760, 428, 1920, 1080),
        panelShot("panel-screen-circle", ShotPanel::screenRecording),
        panelShot("panel-screen-cutout", ShotPanel::screenRecording),
        panelShot("panel-screen-card", ShotPanel::screenRecording),
        panelShot("panel-screen-cutout-card-wifi", ShotPanel::screenRecording),
        panelShot("panel-camera-settings", ShotPanel::cameraSettings),
        panelShot("panel-camera-settings-chosen", ShotPanel::cameraSettings),
        panelShot("panel-scenes-empty", ShotPanel::scenes),
        panelShot("panel-scenes-three", ShotPanel::scenes),
        windowShot("island-open", ui::NotchSizes::panel.width(), ui::NotchSizes::panel.height(), 1920, 1080),
        // A resolution alone (30 FPS filled in), a short format, the longest
        // one, and the longest in the narrow window.
        barShot("bar-wifi-4k-30fps", 1152, 648, hollowkit::CameraResolution::p4K, std::nullopt),
        barShot("bar-wifi-1080p-24fps", 1152, 648, hollowkit::CameraResolution::p1080, hollowkit::CameraFrameRate::fps24),
        barShot("bar-wifi-2.7k-9x16-60fps", 1152, 648, hollowkit::CameraResolution::vertical2_7K,
                hollowkit::CameraFrameRate::fps60),
        barShot("bar-compact-2.7k-9x16-60fps", 1000, 563, hollowkit::CameraResolution::vertical2_7K,
                hollowkit::CameraFrameRate::fps60),
    };
    const auto find = [&states](const char* name) -> ShotState& {
        return *std::find_if(states.begin(), states.end(), [name](const ShotState& s) { return s.name == name; });
    };
    find("window-wifi").usb = false;
    find("window-recording").recordingSeconds = 61;
    find("window-recording-screen").recordingSeconds = 61;
    find("window-recording-screen").recordScreen = true;
    find("window-notice").notice = "Face tracking on";
    find("microphone-usb").microphones = true;
    find("microphone-wifi").usb = false;
    find("microphone-wifi").microphones = true;
    find("sheet-welcome").sheet = ShotSheet::welcome;
    find("sheet-usb-guide-waiting").sheet = ShotSheet::usbGuideWaiting;
    find("sheet-usb-guide-found").sheet = ShotSheet::usbGuideFound;
    find("sheet-shortcuts").sheet = ShotSheet::shortcuts;
    find("sheet-welcome-760x428").sheet = ShotSheet::welcome;
    find("sheet-shortcuts-760x428").sheet = ShotSheet::shortcuts;
    find("sheet-usb-guide-760x428").sheet = ShotSheet::usbGuideWaiting;
    find("sheet-screen-alert").sheet = ShotSheet::screenAlert;
    find("sheet-screen-alert-help-760x428").sheet = ShotSheet::screenAlertHelp;
    find("panel-screen-circle").recordScreen = true;
    find("panel-screen-cutout").recordScreen = true;
    find("panel-screen-cutout").cutout = true;
    find("panel-screen-card").screenAccessDenied = true;
    find("panel-screen-cutout-card-wifi").cutout = true;
    find("panel-screen-cutout-card-wifi").recordScreen = true;
    find("panel-screen-cutout-card-wifi").screenAccessDenied = true;
    find("panel-screen-cutout-card-wifi").usb = false;
    // The camera takes its own settings only over Wi-Fi.
    find("panel-camera-settings").usb = false;
    find("panel-camera-settings-chosen").usb = false;
    find("panel-camera-settings-chosen").cameraSettingsChosen = true;
    find("panel-scenes-three").scenes = 3;
    find("island-open").island = true;
    return states;
}

}  // namespace

const std::vector<ShotState>& shotStates() {
    static const std::vector<ShotState> states = makeShotStates();
    return states;
}

const ShotState* findShotState(const std::string& name) {
    for (const ShotState& state : shotStates()) {
        if (state.name == name) return &state;
    }
    return nullptr;
}

void prepareShotLook() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) ui::applyLook(*app);
    ui::setAnimationsEnabled(false);
}

std::vector<unsigned char> colourBars(int width, int height) {
    static constexpr unsigned char kBars[7][3] = {
        {192, 192, 192}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0}, {255, 0, 255}, {255, 0, 0}, {0, 0, 255}};
    const int border = std::max(2, height / 60);
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
            const bool edge = x < border || y < border || x >= width - border || y >= height - border;
            // The lower quarter is a grey ramp, so scaling errors show as banding.
            const unsigned char grey = static_cast<unsigned char>(x * 255 / std::max(1, width - 1));
            const unsigned char* bar = kBars[std::min(6, x * 7 / width)];
            const bool ramp = y >= height * 3 / 4;
            p[0] = edge ? 255 : ramp ? grey : bar[2];
            p[1] = edge ? 255 : ramp ? grey : bar[1];
            p[2] = edge ? 255 : ramp ? grey : bar[0];
            p[3] = 255;
        }
    }
    return pixels;
}

namespace {

bool sceneHasPicture(ShotScene scene) {
    switch (scene) {
        case ShotScene::connectingUSB:
        case ShotScene::connectingWireless:
        case ShotScene::failedWireless:
        case ShotScene::cameraOffWireless:
        case ShotScene::cameraOffUSB: return false;
        default: return true;
    }
}

bool sceneIsWireless(ShotScene scene) {
    return scene == ShotScene::connectingWireless || scene == ShotScene::failedWireless ||
           scene == ShotScene::cameraOffWireless;
}

hollowkit::VideoFrame barsFrame(int width, int height) {
    const std::vector<unsigned char> pixels = colourBars(width, height);
    const hollowkit::PlaneView plane{pixels.data(), static_cast<size_t>(width) * 4};
    return hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::bgra, width, height, {&plane, 1}, {});
}

// Each choice as the panel makes it, one after the other.
void chooseCameraSettings(CameraModel& model) {
    using namespace hollowkit;
    const auto apply = [&model](const std::optional<CameraSettingsChange>& change) {
        if (change) model.applyCameraSetting(change->next, change->setting);
    };
    apply(chooseFrameRate(model.state().cameraSettings, CameraFrameRate::fps60));
    apply(chooseCodec(model.state().cameraSettings, VideoCodec::hevc));
    apply(chooseColorProfile(model.state().cameraSettings, ColorProfile::dLog2));
    apply(chooseExposureMode(model.state().cameraSettings, ExposureMode::manual));
    apply(chooseISO(model.state().cameraSettings, CameraISO::iso400));
    apply(chooseAutoWhiteBalance(model.state().cameraSettings, false, 4800));
}

// A resolution, then a frame rate when given, as the panel makes them.
void chooseFormat(CameraModel& model, hollowkit::CameraResolution resolution,
                  std::optional<hollowkit::CameraFrameRate> frameRate) {
    const auto apply = [&model](const std::optional<CameraSettingsChange>& change) {
        if (change) model.applyCameraSetting(change->next, change->setting);
    };
    apply(chooseResolution(model.state().cameraSettings, resolution));
    apply(chooseFrameRate(model.state().cameraSettings, frameRate));
}

// Up to three scenes, each at its own position, with a user's names.
void saveScenes(ShotModel& shot, int count) {
    static const struct {
        hollowkit::CameraPosition position;
        const char* name;
    } kShotScenes[] = {{{-12, 5, 150}, "Desk"}, {{35.5, -8, 100}, "Whiteboard"}, {{0, 0, 200}, "Close-up"}};
    FakeCamera& camera = *shot.cameras.latest();
    for (int i = 0; i < std::min(count, static_cast<int>(std::size(kShotScenes))); ++i) {
        camera.setPosition(kShotScenes[i].position);
        shot.main.runUntilIdle();
        shot.model->saveCurrentPositionAsScene();
        shot.main.runUntilIdle();
        shot.model->renameScene(shot.model->state().scenes.back().id, kShotScenes[i].name);
    }
}

// The camera's events and the user's choices of `state`, on the frozen clock.
void arrange(ShotModel& shot, const ShotState& state) {
    FakeCamera& camera = *shot.cameras.latest();
    // The camera offers both orientations and runs in the picture's.
    const std::vector<hollowkit::VideoFormatOption> formats{{1920, 1080, 30}, {1280, 720, 30}, {1080, 1920, 30}};
    const hollowkit::MicrophoneOption receiver{"dji.receiver", "DJI Mic 2", std::string("USB-C")};
    std::vector<hollowkit::MicrophoneOption> microphones;
    if (state.microphones) microphones = {{"internal", "Internal Mic", std::nullopt}, receiver};
    camera.setDevices(microphones, state.microphones ? std::optional(receiver) : std::nullopt, formats,
                      state.frameWidth >= state.frameHeight ? formats.front() : formats.back());
    if (state.microphones) {
        // Loud enough to reach the yellow segments.
        camera.setAudioLevel(-9.0F);
        // The Wi-Fi face shows the chosen input by its shortened name.
        shot.model->setWirelessMicID("alsa_input.usb");
    }
    camera.emit(hollowkit::CameraEvent::devicesChanged());
    if (sceneHasPicture(state.scene)) {
        hollowkit::CameraStats stats;
        stats.hasPicture = true;
        stats.framesPerSecond = 30;
        stats.resolution = hollowkit::VideoDimensions{state.frameWidth, state.frameHeight};
        camera.emit(hollowkit::CameraEvent::stats(stats));
        camera.emit(hollowkit::CameraEvent::battery(hollowkit::BatteryStatus{80, false}));
        shot.main.runUntilIdle();
        // A picture of the other orientation settles after a moment.
        shot.main.advance(CameraModel::kSettleDelay);
        shot.main.runUntilIdle();
    }
    switch (state.scene) {
        case ShotScene::live: break;
        case ShotScene::connectingUSB:
        case ShotScene::connectingWireless: camera.emit(hollowkit::CameraEvent::status("Connecting")); break;
        case ShotScene::failedWireless:
            camera.emit(hollowkit::CameraEvent::failed("The camera did not answer on its Wi-Fi network."));
            break;
        case ShotScene::cameraOffWireless:
        case ShotScene::cameraOffUSB: camera.emit(hollowkit::CameraEvent::cameraOff()); break;
        case ShotScene::countdown:
            shot.model->setCountdownSeconds(3);
            shot.model->toggleRecording();
            break;
        case ShotScene::guides: shot.model->setGuides({GuideKind::grid, GuideKind::horizon, GuideKind::vertical}); break;
        case ShotScene::faceTracked:
            shot.faces->pushAnswer(std::vector<hollowkit::NormalizedRect>{{0.42, 0.22, 0.16, 0.3}});
            shot.model->startFaceTracking();
            shot.main.runUntilIdle();
            camera.deliverFrame(barsFrame(state.frameWidth, state.frameHeight));
            break;
    }
    if (state.recordScreen) shot.model->toggleRecordScreen();
    if (state.cutout) {
        hk::BubbleStyle style = shot.model->state().bubbleStyle;
        style.shape = hollowkit::BubbleShape::cutout;
        shot.model->setBubbleStyle(style);
    }
    if (state.screenAccessDenied) shot.recordingFakes.displays().setCanCapture(false);
    if (state.cameraSettingsChosen) chooseCameraSettings(*shot.model);
    saveScenes(shot, state.scenes);
    if (state.recordingSeconds) {
        // The camera's own recording is the one a shot can start without
        // writing a file; the pill shows its time the same way.
        camera.emit(hollowkit::CameraEvent::cardRecording(
            hollowkit::CardRecordingState{true, false, *state.recordingSeconds}));
    }
    shot.main.runUntilIdle();
    if (state.microphones) {
        // One tick of the level timer publishes the level.
        shot.model->startTimers();
        shot.main.advance(CameraModel::kAudioLevelInterval);
        shot.main.runUntilIdle();
        shot.model->stopTimers();
    }
    shot.model->dismissSheets();
}

// Screenshots are taken with every animation settled and the spinner still.
class AnimationsOff {
public:
    AnimationsOff() : were_(ui::animationsEnabled()) { ui::setAnimationsEnabled(false); }
    ~AnimationsOff() { ui::setAnimationsEnabled(were_); }
    AnimationsOff(const AnimationsOff&) = delete;
    AnimationsOff& operator=(const AnimationsOff&) = delete;

private:
    bool were_;
};

}  // namespace

namespace {

// The island opened on a plain 1920x1080 screen, its live picture shown.
QImage renderIsland(ShotModel& shot, ModelSignals& modelSignals, const ShotState& state) {
    ui::test::FakeScreenSource screens;
    ui::test::FakePointerSource pointer;
    ui::test::FakePanelInput input;
    ui::NotchPanelController controller(
        modelSignals, shot.main,
        ui::NotchPanelController::Platform{screens, pointer, ui::IslandWindowMode::translucent, &input,
                                           shot.feed.get()});
    shot.model->setNotchTrigger(NotchTrigger::click);
    controller.islandTapped();
    shot.main.runUntilIdle();
    shot.feed->mailbox().push(barsFrame(state.frameWidth, state.frameHeight));
    controller.view().expandedView().preview().showWaitingFrame();
    shot.main.runUntilIdle();
    QCoreApplication::processEvents();
    QImage image(ui::NotchSizes::panel, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    controller.view().render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

}  // namespace

QImage renderShot(const ShotState& state) {
    prepareShotLook();
    const AnimationsOff still;
    ShotModel shot(state.usb && !sceneIsWireless(state.scene));
    arrange(shot, state);

    ModelSignals modelSignals(shot.model);
    if (state.island) return renderIsland(shot, modelSignals, state);
    QImage picture;
    if (state.panel != ShotPanel::none) {
        std::unique_ptr<QWidget> panel;
        int width = 0;
        switch (state.panel) {
            case ShotPanel::none: break;
            case ShotPanel::screenRecording:
                panel = std::make_unique<ScreenRecordingPanel>(modelSignals, nullptr);
                width = ScreenRecordingPanel::kWidth;
                break;
            case ShotPanel::cameraSettings:
                panel = std::make_unique<CameraSettingsPanel>(modelSignals, nullptr);
                width = CameraSettingsPanel::kWidth;
                break;
            case ShotPanel::scenes:
                panel = std::make_unique<ScenesPanel>(modelSignals, nullptr);
                width = ScenesPanel::kWidth;
                break;
        }
        panel->setAttribute(Qt::WA_DontShowOnScreen);
        panel->setAutoFillBackground(true);
        panel->show();
        QCoreApplication::processEvents();
        const int height = panel->heightForWidth(width);
        panel->resize(width, height > 0 ? height : panel->sizeHint().height());
        QCoreApplication::processEvents();
        return panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    {
        MainWindow window(modelSignals, *shot.feed);
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.resize(state.windowWidth, state.windowHeight);
        if (!state.chrome) window.chromeLayer().hide();
        window.show();
        QCoreApplication::processEvents();
        if (state.notice) shot.model->postNotice(*state.notice);
        if (state.chosenResolution) {
            // Chosen with the window up, as a person chooses: the bar was
            // laid out for the summary before.
            chooseFormat(*shot.model, *state.chosenResolution, state.chosenFrameRate);
            shot.main.runUntilIdle();
            QCoreApplication::processEvents();
        }

        if (sceneHasPicture(state.scene)) {
            shot.feed->mailbox().push(barsFrame(state.frameWidth, state.frameHeight));
            window.surface().showWaitingFrame();
            // The glass shows the picture blurred, made on its own thread.
            window.offerFrameToGlass();
            QDeadlineTimer blurred(5000);
            while (!window.glassBackdrop().backdrop().hasPicture() && !blurred.hasExpired()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            }
            // A camera's frame that came while the window settled may have
            // been blurred first (at its old size): once the interval has
            // passed, the frame shown now is blurred again, however slow the
            // build.
            QDeadlineTimer interval(LiveBackdrop::kMinimumInterval + std::chrono::milliseconds(50));
            while (!interval.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            int changes = 0;
            const QMetaObject::Connection counting =
                QObject::connect(&window.glassBackdrop(), &LiveBackdrop::pictureChanged, [&changes] { ++changes; });
            window.offerFrameToGlass();
            QDeadlineTimer reblurred(5000);
            while (changes == 0 && !reblurred.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QObject::disconnect(counting);
        }
        showSheet(shot, window, state.sheet);
        QRect area = window.surface().rect();
        if (state.bottomBarOnly) {
            const QWidget& bar = *window.chrome().slotWidget(ChromeColumn::Slot::bottomBar);
            const QPoint corner = window.surface().mapFrom(&window, bar.mapTo(&window, QPoint(0, 0)));
            area = QRect(corner, bar.size()).adjusted(-kBarMargin, -kBarMargin, kBarMargin, kBarMargin);
        }
        picture = window.surface().grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    }
    return picture;
}

}  // namespace lumenhollow::shots
