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
#include "hollowkit/recording/photo_writer.h"
#include "lumenhollow/model/app_shell.h"
#include "lumenhollow/model/atomic_flag.h"
#include "lumenhollow/model/camera_factory.h"
#include "lumenhollow/model/capture_tap.h"
#include "lumenhollow/model/frame_path.h"
#include "lumenhollow/model/published_state.h"
#include "lumenhollow/model/video_sink.h"
#include "lumenhollow/platform/disk_space.h"
#include "lumenhollow/platform/file_picker.h"
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
    // The main window's and the notch island's previews.
    std::shared_ptr<VideoSink> displayLayer;
    std::shared_ptr<VideoSink> notchDisplayLayer;
    // Where recordings and photos go; empty means the user's usual folder.
    std::filesystem::path outputFolder;
    ImagingFactory imaging;
    // The chooser for importing looks; null: importing does nothing.
    FilePicker* filePicker = nullptr;
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

    // --- Looks and guides (looks.cpp).
    // Asks for look files ("Import a LUT": .cube tables and PNG images, several
    // at once) and imports them when chosen: each file that fails to load sets
    // the notice "<file name>: <reason>"; a file already imported is skipped;
    // the new looks are appended, "customLUTPaths" is written and the last new
    // one is selected. Nothing new: nothing changes.
    void importLUT();
    // Removes the imported look with `look`'s id and writes "customLUTPaths";
    // when it is the selected look, no look is selected afterwards.
    void removeImportedLUT(const hk::ColorLUT& look);
    void toggleGuide(GuideKind kind);

    // --- Scenes (scenes.cpp): saved camera positions, at most kMaxScenes,
    // each change stored at once under "scenes". Position i is recalled with
    // Alt and the digit i + 1.
    static constexpr size_t kMaxScenes = 9;
    static constexpr double kSceneThumbnailWidth = 320;
    // The face follower waits this long after a recall so it does not fight the move.
    static constexpr double kSceneRecallPauseSeconds = 3.0;
    // Needs a camera that reports and takes exact positions.
    void saveCurrentPositionAsScene();
    // Nothing for an index outside the list or a camera without positioning.
    void recallScene(int index);
    // The scene with `scene`'s id takes the camera's current position.
    void updateScene(const CameraScene& scene);
    // The name is trimmed; an empty one changes nothing.
    void renameScene(const std::string& id, const std::string& name);
    // Moves the scenes at `sources` before the one at `destination` (the
    // list's length: to the end), keeping their order. Indexes outside the
    // list are ignored.
    void moveScenes(const std::set<int>& sources, int destination);
    void deleteScene(const std::string& id);
    // The next frame that reaches the tap, scaled to kSceneThumbnailWidth and
    // encoded off the main executor and off the delivering thread, becomes
    // the scene's thumbnail, unless the scene is gone by then.
    void captureSceneThumbnail(const std::string& id);

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

    // Looks (looks.cpp).
    void importChosenLUTs(const std::vector<std::filesystem::path>& files);

    // Scenes (scenes.cpp).
    void publishScenes(std::vector<CameraScene> scenes);
    void encodeSceneThumbnail(const std::string& id, hollowkit::VideoFrame frame);
    void applySceneThumbnail(const std::string& id, std::optional<hollowkit::Bytes> jpeg);

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
    // A "scenes" value that did not read whole; copied aside before the first save.
    std::optional<SettingsValue> unreadableScenes_;
    // Encodes scene thumbnails; made at the first one.
    std::unique_ptr<hollowkit::PhotoWriter> thumbnailWriter_;
};

}  // namespace lumenhollow
