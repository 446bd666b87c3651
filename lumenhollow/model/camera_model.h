#pragma once

// CameraModel: the application's single controller. It owns the active
// camera route, the frame path's objects and every piece of state the views
// show (PublishedState), announcing each assignment to its observers. It is
// created once, through create(), and lives as long as the application.
//
// Construction reads the stored settings, chooses the route (USB when the
// camera is plugged in, else wireless), builds the camera and sets its
// handlers, but starts nothing: the application starts the camera and then
// calls startTimers().
//
// Threads: main executor only, for every member below. The one exception is
// the frame path, which runs on the camera's delivery threads through the
// objects it holds (never the model). Every closure the model hands out
// holds it weakly and does nothing once it is gone.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/camera/camera_event.h"
#include "hollowkit/camera/pocket_camera.h"
#include "hollowkit/imaging/background_preview.h"
#include "hollowkit/imaging/face_detector.h"
#include "hollowkit/imaging/face_follower.h"
#include "hollowkit/imaging/frame_processor.h"
#include "lumenhollow/model/app_shell.h"
#include "lumenhollow/model/atomic_flag.h"
#include "lumenhollow/model/camera_factory.h"
#include "lumenhollow/model/capture_tap.h"
#include "lumenhollow/model/frame_path.h"
#include "lumenhollow/model/published_state.h"
#include "lumenhollow/model/video_sink.h"
#include "lumenhollow/platform/desktop.h"
#include "lumenhollow/platform/disk_space.h"
#include "lumenhollow/platform/secret_store.h"
#include "lumenhollow/platform/secure_random.h"
#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

// How the model makes its imaging components; an empty function means the
// library's own default. Tests pass fakes' backends and manual queues.
struct ImagingFactory {
    std::function<std::shared_ptr<hollowkit::FrameProcessor>()> processor;
    std::function<std::shared_ptr<hollowkit::BackgroundPreview>()> backgroundPreview;
    std::function<std::shared_ptr<hollowkit::FaceDetector>(double rate)> faceDetector;
    std::function<std::unique_ptr<hollowkit::FaceFollower>()> faceFollower;
};

// Everything the model uses from outside. Every reference must outlive the
// model and every task it has posted.
struct CameraModelServices {
    hollowkit::MainExecutor& main;
    SettingsStore& settings;
    SecretStore& secrets;
    SecureRandom& random;
    DiskSpace& disk;
    CameraFactory& cameras;
    AppShell& shell;
    Desktop& desktop;
    // The main window's and the notch island's previews.
    std::shared_ptr<VideoSink> displayLayer;
    std::shared_ptr<VideoSink> notchDisplayLayer;
    // Where recordings and photos go; empty means the user's usual folder.
    std::filesystem::path outputFolder;
    ImagingFactory imaging;
};

class CameraModel : public std::enable_shared_from_this<CameraModel> {
public:
    // A picture of the other orientation is published once it has held this long.
    static constexpr hollowkit::Duration kSettleDelay = std::chrono::seconds(3);
    // A wireless camera that is off and failed is tried again after this.
    static constexpr hollowkit::Duration kWirelessRetryDelay = std::chrono::seconds(3);
    // A camera that has not finished stopping after this is replaced anyway.
    static constexpr hollowkit::Duration kStopWatchdog = std::chrono::seconds(5);
    static constexpr hollowkit::Duration kAudioLevelInterval =
        std::chrono::duration_cast<hollowkit::Duration>(std::chrono::duration<double>(1.0 / 15.0));
    static constexpr hollowkit::Duration kFreeSpaceInterval = std::chrono::seconds(10);
    static constexpr double kFaceDetectionsPerSecond = 15.0;

    using Observer = std::function<void(Field field)>;
    using ObserverId = uint64_t;

    static std::shared_ptr<CameraModel> create(CameraModelServices services);
    ~CameraModel();
    CameraModel(const CameraModel&) = delete;
    CameraModel& operator=(const CameraModel&) = delete;

    // --- Published state.
    const PublishedState& state() const { return state_; }
    // `observer` is called after every assignment with the field assigned;
    // it may read the state and call the model.
    ObserverId addObserver(Observer observer);
    void removeObserver(ObserverId id);

    // --- The camera and the frame path's objects.
    hollowkit::PocketCamera& camera() { return *camera_; }
    // For helpers that follow the camera and must not keep it alive.
    std::weak_ptr<hollowkit::PocketCamera> weakCamera() const { return camera_; }
    // Written by the notch island while it shows its live preview. Any thread.
    AtomicFlag& notchPreviewActive() { return *notchPreviewActive_; }
    CaptureTap& tap() { return *tap_; }
    hollowkit::FrameProcessor& processor() { return *processor_; }
    hollowkit::BackgroundPreview& backgroundPreview() { return *backgroundPreview_; }
    hollowkit::FaceDetector& faceDetector() { return *faceDetector_; }
    hollowkit::FaceFollower& faceFollower() { return *faceFollower_; }
    const std::filesystem::path& outputFolder() const { return outputFolder_; }

    // --- Connection.
    // The user's choice of route; nothing happens when it is the current one.
    void selectConnection(ConnectionMode mode);
    // Stops the current camera and replaces it with a new one of `mode`
    // (also for the current route: a reconnect). Ignored while a switch runs.
    void connect(ConnectionMode mode);
    bool isSwitching() const { return switching_; }
    // Stops the active camera for good (shutdown); `completion` runs on the
    // main executor once it has stopped.
    void stopCamera(std::function<void()> completion);

    // The audio level 15 times a second and the free space every 10 s; once per launch.
    void startTimers();
    void stopTimers();
    void refreshFreeSpace();

    // --- Settings. Each setter publishes its field and then stores the
    // field's value under its key at once: one assignment, one write (the
    // bubble style's four keys together), also when the value did not change.
    void setCodec(hk::VideoCodec codec);
    void setCountdownSeconds(int seconds);
    // These two then give the live preview the bubble style while "Record
    // Screen Too" is on, and no style while it is off.
    void setRecordScreen(bool on);
    void setBubbleStyle(const hk::BubbleStyle& style);
    void setIncludeMacSound(bool on);
    void setAutoZoom(bool on);
    void setShowInNotch(bool on);
    void setNotchContent(NotchContent content);
    void setNotchTrigger(NotchTrigger trigger);
    void setCloseBehavior(CloseBehavior behavior);
    void setGuides(std::set<GuideKind> guides);
    // Hands the look to the frame processor before storing its id; no look
    // removes the key.
    void setSelectedLUT(std::optional<hk::ColorLUT> look);
    // No folder removes the key.
    void setLastScreenTake(std::optional<std::filesystem::path> folder);
    void setWirelessMicID(std::string id);

    // --- Quit and shutdown (shutdown.cpp).
    // After the sheets were ended, the termination waits this long for them to go.
    static constexpr hollowkit::Duration kSheetCloseDelay = std::chrono::milliseconds(350);
    // How long the shutdown waits for the camera to stop.
    static constexpr hollowkit::Duration kTerminationFallback = std::chrono::seconds(3);
    // How long it waits for open movie files to be finished: a movie cut off
    // before its index is written cannot be played, so this is generous.
    static constexpr hollowkit::Duration kRecordingFinishLimit = std::chrono::seconds(30);

    // The quit request of every way out: closes the sheets, then asks the
    // application to terminate on a later turn (kSheetCloseDelay later when a
    // sheet was open). Once made, further requests are ignored.
    void afterClosingSheets();
    // Clears the five sheet flags in their order.
    void dismissSheets();
    // The quit request, starting a new instance once the process has ended.
    void quitAndReopen();
    bool relaunchOnQuit() const { return relaunchOnQuit_; }
    // The application's answer to AppShell::requestTermination: stops the
    // timers, finishes whatever records (bounded by kRecordingFinishLimit),
    // stops the camera (bounded by kTerminationFallback), then calls
    // AppShell::replyToTermination once. A second call is ignored.
    void handleTerminationRequest();
    bool isTerminating() const { return shutdownPhase_ != ShutdownPhase::none; }
    // How the shutdown finishes what records: calls `finished` on the main
    // executor once every movie file is closed (at once when nothing
    // records). Installed by the recording control.
    using RecordingFinish = std::function<void(std::function<void()> finished)>;
    void setRecordingFinishForTermination(RecordingFinish finish) { recordingFinish_ = std::move(finish); }
    // Creates the output folder when missing (a failure is ignored) and opens it.
    void openOutputFolder();

    // Set by the main window: opens it when it is closed.
    void setOpenMainWindow(std::function<void()> open) { openMainWindow_ = std::move(open); }
    void showMainWindow();

    // Width over height of the picture (16/9 before anything is known).
    double previewAspect() const;
    // "-", "1.0x", "2.5x".
    std::string zoomLabel() const;
    // Shown beside the microphone choice on the wireless route.
    std::optional<std::string> wirelessAudioNote() const;

private:
    struct PendingResolution {
        hollowkit::TaskId task = 0;
        PictureSize size;
    };
    struct PendingSwitch {
        uint64_t id = 0;
        ConnectionMode mode = ConnectionMode::wireless;
        hollowkit::TaskId watchdog = 0;
    };

    explicit CameraModel(CameraModelServices services);
    void construct();

    template <Field F>
    void publish(FieldType<F> value) {
        state_.*FieldTraits<F>::member = std::move(value);
        notify(F);
    }
    void notify(Field field);

    // Settings (camera_settings.cpp). The key is written from the state, not
    // from `value`: an observer that assigns again while being told leaves
    // the store holding what the state holds.
    template <Field F>
    void assignSetting(FieldType<F> value) {
        publish<F>(std::move(value));
        storeSetting(F);
    }
    void storeSetting(Field field);
    void applyPreviewStyle();

    // Construction and connection (camera_connection.cpp).
    std::shared_ptr<hollowkit::PocketCamera> makeCamera(ConnectionMode mode,
                                                        const std::optional<hollowkit::HomeNetwork>& homeNetwork);
    void attachCamera(hollowkit::PocketCamera& camera);
    void endCameraActivities();
    void resetCameraState();
    void replaceCamera(uint64_t switchId, bool stopped);
    void updateAudioLevel();

    // Events (camera_events.cpp).
    void handleEvent(const hollowkit::CameraEvent& event);
    void handleStats(const hollowkit::CameraStats& stats);
    void handleCardRecording(const hollowkit::CardRecordingState& cardState);
    void handleFailure(const std::string& message);
    void rereadDevices();
    void settleResolution(const std::optional<hollowkit::VideoDimensions>& resolution);
    void applySettledResolution(PictureSize size);
    void cancelPendingResolution();
    void retryWirelessIfCameraOff();
    void cancelPendingRetry();

    void handleFaceObservations(const std::vector<hollowkit::NormalizedRect>& faces);

    // Shutdown (shutdown.cpp).
    enum class ShutdownPhase : uint8_t { none = 0, finishingRecording, stoppingCamera, replied };
    void recordingFinishedForTermination(bool finished);
    void cameraStoppedForTermination(bool stopped);

    CameraModelServices services_;
    hollowkit::MainExecutor& main_;
    PublishedState state_;

    std::vector<std::pair<ObserverId, std::shared_ptr<const Observer>>> observers_;
    ObserverId nextObserverId_ = 1;

    // Plain fields.
    std::shared_ptr<VideoSink> displayLayer_;
    std::shared_ptr<VideoSink> notchDisplayLayer_;
    std::shared_ptr<AtomicFlag> notchPreviewActive_;
    std::function<void()> openMainWindow_;
    std::filesystem::path outputFolder_;
    std::shared_ptr<hollowkit::FrameProcessor> processor_;
    std::shared_ptr<hollowkit::BackgroundPreview> backgroundPreview_;
    std::shared_ptr<CaptureTap> tap_;
    std::shared_ptr<hollowkit::FaceDetector> faceDetector_;
    std::unique_ptr<hollowkit::FaceFollower> faceFollower_;
    std::shared_ptr<FramePath> framePath_;
    std::shared_ptr<hollowkit::PocketCamera> camera_;
    bool switching_ = false;
    std::optional<PendingSwitch> pendingSwitch_;
    uint64_t lastSwitchId_ = 0;
    std::optional<PendingResolution> pendingResolution_;
    hollowkit::TaskId pendingRetry_ = 0;
    hollowkit::TaskId levelTimer_ = 0;
    hollowkit::TaskId diskTimer_ = 0;
    bool quitRequested_ = false;
    bool relaunchOnQuit_ = false;
    ShutdownPhase shutdownPhase_ = ShutdownPhase::none;
    hollowkit::TaskId shutdownTimer_ = 0;
    RecordingFinish recordingFinish_;
};

}  // namespace lumenhollow
