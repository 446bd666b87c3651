#pragma once

// The camera model's own records of work under way: a resolution waiting to
// settle, a route switch, a photo, the looks being read, a camera setting
// waiting for its answer and a drag's offset; and, by area, the state of the
// camera's settings, the photos, the shutdown, the route, the recording, the
// screen-and-camera takes, the computer's microphone, the manual aim and the
// face tracking. Kept by CameraModel on the main executor; nothing else uses
// them.

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/camera/camera_setting.h"
#include "hollowkit/camera/camera_types.h"
#include "hollowkit/imaging/lut_engine.h"
#include "hollowkit/recording/mac_microphone.h"
#include "hollowkit/recording/movie_recorder.h"
#include "hollowkit/recording/photo_writer.h"
#include "lumenhollow/model/look_loader.h"
#include "lumenhollow/model/published_state.h"
#include "lumenhollow/model/reconnect_backoff.h"
#include "lumenhollow/model/scene_store.h"
#include "lumenhollow/model/screen_take.h"
#include "lumenhollow/platform/power_assertion.h"

namespace lumenhollow {

struct PendingResolution {
    hollowkit::TaskId task = 0;
    PictureSize size;
};

struct PendingSwitch {
    uint64_t id = 0;
    ConnectionMode mode = ConnectionMode::wireless;
    hollowkit::TaskId watchdog = 0;
};

// A photo waiting for its frame or being written.
struct PendingPhoto {
    std::shared_ptr<std::atomic<bool>> claimed;  // by the frame, or by a newer press or the give-up
    hollowkit::TimePoint askedAt;
    hollowkit::TaskId giveUp = 0;  // armed only by a quit
};

// A scene's thumbnail waiting for its frame.
struct WaitingThumbnail {
    std::shared_ptr<std::atomic<bool>> claimed;  // by the frame, or by a newer request or the give-up
    hollowkit::TimePoint askedAt;
    hollowkit::TaskId giveUp = 0;  // armed only by a quit
};

struct LookReading {
    std::unique_ptr<LookLoader> loader;
    uint64_t storedBatch = 0;                // the stored looks, while they are read
    std::deque<std::string> storedAwaiting;  // their paths not delivered yet
    StoredLooksReport storedReport;
    // The stored paths did not read whole (another shape, past the number
    // tried, a look that failed); a copy is kept before the first save.
    bool storedReadInPart = false;
    std::optional<std::string> restoredId;   // the stored choice, waiting for its look
    std::optional<std::string> importedLast;  // the newest look of the import being read
    std::shared_ptr<const hollowkit::LutEngine> importedLastPrepared;
};

struct SentSetting {
    std::string label;  // the camera's answer names it
    hk::CameraSetting setting;
    CameraSettingsState before;
    CameraSettingsState after;
};

struct DragOffset {
    double dx = 0;
    double dy = 0;
    double width = 0;
};

// The camera's own settings: those sent to the active camera and not
// answered yet (oldest first), whether it is still to be told the stored
// ones, and the last of each kind it was sent: a choice made before its
// picture runs already went out, and is not sent again then.
struct CameraSettingsSync {
    std::vector<SentSetting> sent;
    bool resend = false;
    std::vector<hk::CameraSetting> told;
};

// The photos waiting for their frames or being written, by number, of
// which only the last asked for may still wait for its frame; the scene
// thumbnails asked for and not yet in their scenes, those still waiting for
// their frame by scene (one each); and whoever waits for all of them to be
// done (a quit).
struct PhotoWork {
    std::shared_ptr<hollowkit::PhotoWriter> writer;
    std::map<uint64_t, PendingPhoto> pending;
    uint64_t lastId = 0;
    uint64_t waitingPhoto = 0;  // the last asked for, unless its frame took it
    size_t thumbnails = 0;      // those waiting for their frame included
    std::map<std::string, WaitingThumbnail> waitingThumbnails;
    bool refusing = false;  // presses are refused while kMaxPendingPhotos wait
    std::vector<std::function<void()>> doneWaiters;
};

enum class ShutdownPhase : uint8_t { none = 0, finishingRecording, finishingPhotos, stoppingCamera, replied };

// Quitting: whether it was asked for (and a new instance after), and the
// shutdown's phase, its timer and how it finishes what records.
struct ShutdownWork {
    bool quitRequested = false;
    bool relaunchOnQuit = false;
    bool askedAgain = false;  // quit asked for again while the shutdown waits
    ShutdownPhase phase = ShutdownPhase::none;
    hollowkit::TaskId timer = 0;
    std::function<void(std::function<void()> finished)> recordingFinish;
};

// The route: a switch under way, a picture size waiting to settle, and a
// wireless camera that is off waiting to be tried again.
struct RouteWork {
    bool switching = false;
    std::optional<PendingSwitch> pendingSwitch;
    uint64_t lastSwitchId = 0;
    std::optional<PendingResolution> pendingResolution;
    hollowkit::TaskId pendingRetry = 0;
    ReconnectBackoff backoff;
};

// A recording: its countdown, the movie on this computer, a card start
// waiting for the camera, and the movies still being finished.
struct RecordingWork {
    hollowkit::TaskId countdownTask = 0;
    uint64_t countdownId = 0;  // the running countdown; 0: none
    uint64_t lastCountdownId = 0;
    std::shared_ptr<hollowkit::MovieRecorder> recorder;
    hollowkit::TimePoint recorderStartedAt{};
    hollowkit::TaskId pictureWatch = 0;
    hollowkit::TaskId cardStartPending = 0;
    int activityHolders = 0;  // movies being written or finished
    // Movies stopped but not yet complete, and who waits for the last of
    // them. The model holds each until its completion has run here, so no
    // recorder outlives the model and posts to an executor that may be gone.
    std::vector<std::shared_ptr<hollowkit::MovieRecorder>> finishingMovies;
    std::vector<std::function<void()>> movieFinishWaiters;
    PowerActivity activity;
};

// The computer's microphone. A stop moves the generation on, so a start
// still waiting for access or for its device ends without recording; a
// microphone stopped while starting is kept until its start has completed,
// so stopping never waits for the sound server.
struct MacMicrophoneUse {
    std::unique_ptr<hollowkit::MacMicrophone> device;
    // The input `device` was opened for; nothing: the default one.
    std::optional<std::string> input;
    bool running = false;
    bool pending = false;  // waiting for access or for its device
    uint64_t generation = 0;
    std::vector<std::function<void(bool running)>> waiters;
    std::map<uint64_t, std::unique_ptr<hollowkit::MacMicrophone>> stopping;
    std::unique_ptr<hollowkit::SerialQueue> accessQueue;  // asks for access off the main executor
};

// Screen-and-camera takes: the one recording or starting, and the
// composition of one stopped. A composition is known by its number, so a
// late report of an earlier one changes nothing.
struct TakeWork {
    std::shared_ptr<ScreenSession> session;
    std::unique_ptr<TakeComposer> composer;
    uint64_t composeId = 0;  // the running composition; 0: none
    uint64_t lastComposeId = 0;
    ScreenTake composing;  // the take the running composition is of, where it was at its start
    hollowkit::HeldFolder composingFolder;  // its folder, held: where the take is at the end
    // What the log said of each take the quit left unfinished (its movies
    // still being completed, or its combined movie unmade), by its folder:
    // a later word on the same take replaces the earlier.
    std::vector<std::pair<std::filesystem::path, std::string>> leftToRebuild;
    std::function<void()> composeCompletion;
    std::unique_ptr<hollowkit::SerialQueue> lengthQueue;  // reads a rebuild's movie length off the main executor
    // Told when the take's work (its finish or its composition) is over.
    std::vector<std::function<void()>> workWaiters;
};

// Manual gimbal input: the directions held, the drag under way and the
// scroll distance gathered towards the next zoom step.
struct ManualAim {
    std::set<GimbalDirection> heldDirections;
    std::optional<hollowkit::CameraPosition> dragStart;
    hollowkit::TimePoint lastDragMove = hollowkit::kDistantPast;
    std::optional<DragOffset> heldBackDrag;  // the newest exact aim not sent yet
    double scrollAccumulator = 0;
};

// Face tracking, auto framing and the face the background preview's person
// mask is seeded by.
struct FaceWork {
    hollowkit::TimePoint lastSeen = hollowkit::kDistantPast;
    // The face last seen while the preview treats the room, kept through
    // misses shorter than the linger.
    std::optional<hollowkit::NormalizedRect> maskFace;
    std::optional<hollowkit::TimePoint> pendingAutoFrame;
    hollowkit::TaskId autoFrameTimer = 0;
    hollowkit::TimePoint trackingStartedAt = hollowkit::kDistantPast;
    bool noFaceNotified = false;
};

}  // namespace lumenhollow
