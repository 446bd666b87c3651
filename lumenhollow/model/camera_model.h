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

#include <atomic>
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
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/camera/camera_event.h"
#include "hollowkit/camera/pocket_camera.h"
#include "hollowkit/imaging/background_preview.h"
#include "hollowkit/imaging/face_detector.h"
#include "hollowkit/imaging/face_follower.h"
#include "hollowkit/imaging/frame_processor.h"
#include "hollowkit/recording/mac_microphone.h"
#include "hollowkit/recording/movie_recorder.h"
#include "hollowkit/recording/photo_writer.h"
#include "lumenhollow/model/app_shell.h"
#include "lumenhollow/model/atomic_flag.h"
#include "lumenhollow/model/camera_model_limits.h"
#include "lumenhollow/model/camera_model_records.h"
#include "lumenhollow/model/camera_model_services.h"
#include "lumenhollow/model/capture_tap.h"
#include "lumenhollow/model/frame_path.h"
#include "lumenhollow/model/look_loader.h"
#include "lumenhollow/model/published_state.h"
#include "lumenhollow/model/scene_store.h"
#include "lumenhollow/model/screen_take.h"
#include "lumenhollow/model/settings_save_watch.h"
#include "lumenhollow/model/video_sink.h"
#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

class CameraModel : public CameraModelLimits, public std::enable_shared_from_this<CameraModel> {
public:
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

    // The clock of the main executor, which the published times are read from.
    const hollowkit::Clock& clock() const { return main_.clock(); }

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
    bool isSwitching() const { return route_.switching; }
    // Whether the camera is plugged in by USB at this moment (asks the
    // system each time; starts nothing).
    bool isPocketConnected() { return services_.cameras.isPocketConnected(); }
    // "Use USB-C Instead": switches to the USB route when the camera is plugged in,
    // otherwise brings up the USB guide and keeps the route.
    void switchToUSB();
    // "Reconnect": the camera counts as on again and its route is built anew,
    // USB when the camera is plugged in, wireless otherwise.
    void reconnect();
    // The user's choice of picture format: refused with a notice while
    // recording, otherwise handed to the camera, which reports the change.
    void chooseFormat(const hollowkit::VideoFormatOption& format);
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
    // The quit request of every way out: closes the sheets, then asks the
    // application to terminate on a later turn (kSheetCloseDelay later when a
    // sheet was open). Once made, further requests are ignored.
    void afterClosingSheets();
    // Clears the five sheet flags in their order.
    void dismissSheets();
    // A quit request was made: nothing new may start from now on.
    bool isQuitRequested() const { return shutdown_.quitRequested; }

    // --- Sheets. Each sheet clears its own flag when the user closes it.
    void setShowWelcome(bool on) { publish<Field::showWelcome>(on); }
    void setShowUSBGuide(bool on) { publish<Field::showUSBGuide>(on); }
    void setShowShortcuts(bool on) { publish<Field::showShortcuts>(on); }
    // Stores true under "welcomed": later launches start without the welcome.
    void markWelcomed();
    // The quit request, starting a new instance once the process has ended.
    void quitAndReopen();
    bool relaunchOnQuit() const { return shutdown_.relaunchOnQuit; }
    // The application's answer to AppShell::requestTermination: stops the
    // timers, finishes whatever records (bounded by kRecordingFinishLimit),
    // finishes the photos (finishPhotosForTermination), stops the camera
    // (bounded by kTerminationFallback), then calls
    // AppShell::replyToTermination once. A second call is ignored.
    void handleTerminationRequest();
    // Photos asked for and not yet written or failed (also those waiting
    // for their frame; at most kMaxPendingPhotos), and scene thumbnails
    // asked for and not yet in their scenes.
    size_t unfinishedPhotos() const { return photos_.pending.size() + photos_.thumbnails; }
    // A photo waits for its frame (the next press would replace it).
    bool photoWaitsForFrame() const {
        const auto waiting = photos_.pending.find(photos_.waitingPhoto);
        return waiting != photos_.pending.end() && !waiting->second.claimed->load();
    }
    // Waits for the unfinished photos for at most
    // photoFinishLimit(unfinishedPhotos()), said in the log; then `finished`
    // runs once on the main executor (within this call when none is left).
    void finishPhotosForTermination(std::function<void()> finished);
    bool isTerminating() const { return shutdown_.phase != ShutdownPhase::none; }
    // What the log said of each take the quit left unfinished, in the order
    // first said: its movies still being completed (takeLeftUnfinished) or
    // its combined movie left to a rebuild (takeLeftToRebuild).
    std::vector<std::string> leftToRebuild() const;
    // Replaces how the shutdown finishes what records (the model's own
    // finishRecordingForTermination); for tests that time the finish. The
    // step calls `finished` on the main executor once every movie file is
    // closed (at once when nothing records).
    using RecordingFinish = std::function<void(std::function<void()> finished)>;
    void setRecordingFinishForTermination(RecordingFinish finish) { shutdown_.recordingFinish = std::move(finish); }
    // Creates the output folder when missing (a failure is ignored) and opens
    // it. Where the desktop can open nothing to show it (nor a take's file
    // revealed after the take), a notice says where the folder is
    // (folderNotShownNotice).
    void openOutputFolder();

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

    // --- Camera settings (camera_settings_sync.cpp): the choices for the
    // camera's own recordings, in memory only.
    void setShowCameraSettings(bool on) { publish<Field::showCameraSettings>(on); }
    void setShowScenes(bool on) { publish<Field::showScenes>(on); }
    // Stores `next` and hands `setting` to the active camera. When the camera
    // rejects it or never answers, the fields it changed return to what they
    // were before, unless another choice changed them since. Each camera that
    // takes settings is told the stored choices again once its picture runs.
    void applyCameraSetting(const CameraSettingsState& next, const hk::CameraSetting& setting);

    // Set by the main window: opens it when it is closed.
    void setOpenMainWindow(std::function<void()> open) { openMainWindow_ = std::move(open); }
    void showMainWindow();
    // The executor every member runs on; views time their work by its clock.
    hollowkit::MainExecutor& mainExecutor() const { return main_; }

    // --- The notice. Every notice the model shows is numbered, so whoever
    // clears it after a while clears the one it timed and never a newer one,
    // also when a notice repeats the text of the one before.
    void postNotice(std::string text);
    // Clears the notice when the one shown is still number `serial`.
    void clearNotice(uint64_t serial);
    // The number of the notice shown last; 0 before the first.
    uint64_t noticeSerial() const { return noticeSerial_; }

    // Width over height of the picture (16/9 before anything is known).
    double previewAspect() const;
    // "-", "1.0x", "2.5x": "-" while no zoom range is published. zoomStep
    // publishes a range only the camera knew before it zooms, so the label
    // never contradicts the buttons.
    std::string zoomLabel() const;
    // Shown beside the microphone choice on the wireless route.
    std::optional<std::string> wirelessAudioNote() const;

    // --- Recording (recording_control.cpp).
    // Where Record goes when the camera can record to its card; not stored.
    void setRecordTarget(RecordTarget target) { publish<Field::recordTarget>(target); }
    // The Record command: cancels a countdown, stops what records, or counts
    // down and starts a recording where the settings say.
    void toggleRecording();
    void cancelCountdown();
    // Starts at once: a take, the camera's card, or a movie on this computer.
    void startRecording();
    // Stops the take or the movie; `completion` runs once on the main
    // executor when the movie is complete (at once when nothing records).
    void stopRecording(std::function<void()> completion);
    // For quitting: finishes whatever records, then stops the camera, then
    // runs `completion` once on the main executor.
    void stopRecordingForTermination(std::function<void()> completion);
    // The first half of the above: ends the countdown, a card start, the
    // movie (waiting for its file) and the microphone, then calls `finished`.
    void finishRecordingForTermination(std::function<void()> finished);
    bool isRecording() const { return state_.recordingStarted.has_value(); }
    // Recording, starting a take or composing one: the record controls wait.
    bool isBusy() const;

    // --- Screen-and-camera takes (screen_take_start.cpp, screen_take_finish.cpp,
    // screen_take_compose.cpp). Record starts a take instead of a movie while
    // "Record Screen Too" is on; Record again, stopRecording or the screen
    // stream ending stops it.
    // "Record Screen Too": ignored while recording, starting a take or composing.
    void toggleRecordScreen();
    // Reads the recordable displays into `displays`; a chosen display that
    // is gone falls back to the main one.
    void refreshDisplays();
    // The display the next take records; nothing: the main display. Not stored.
    void setScreenDisplayID(std::optional<uint32_t> id) { publish<Field::screenDisplayID>(id); }
    // Composes the take in `folder` again with the current bubble, codec and
    // zoom choice; ignored while busy.
    void rebuildScreenTake(const std::filesystem::path& folder);
    // Asks for a take folder and rebuilds it.
    void chooseTakeToRebuild();
    // The screen-recording popover; not stored.
    void setShowScreenOptions(bool on) { publish<Field::showScreenOptions>(on); }
    // Whether the screen may be recorded now (asks the display service each
    // time, shows nothing); false without a display service.
    bool isScreenCaptureGranted() const;
    // Asks for screen-capture access; the answer comes through
    // isScreenCaptureGranted() on the next look.
    void requestScreenCapture();
    // A take records or is starting.
    bool hasScreenTake() const { return takes_.session != nullptr; }

    // --- Photos (photos.cpp).
    // Saves the next frame, with the look, as a HEIF photo in the output folder.
    void takePhoto();

    // --- The computer's microphone (mac_microphone_use.cpp).
    // Recordings over the wireless route take their sound from this
    // computer unless the choice is "off".
    bool usesMacMicrophone() const;
    // Starts the microphone when it is needed and not running or starting;
    // `done` runs once on the main executor with whether it records.
    void startMacMicrophone(std::function<void(bool running)> done = {});
    bool isMacMicrophoneRunning() const { return macMic_.device && macMic_.running; }
    // Reads this computer's inputs into `macMicrophones` (asks the sound
    // server and waits for it; empty without one).
    void refreshMacMicrophones();
    // The name of the input the system records from by default, if any.
    std::optional<std::string> defaultMacMicrophoneName();
    // True when `wirelessMicID` names an input that is not among
    // `macMicrophones`: it stays stored, and recordings take the default
    // input in its place until it comes back.
    bool isWirelessMicrophoneMissing() const;

    // --- The camera's microphones. The automatic flag is set before the
    // camera is asked, so the menu never shows the old choice as current.
    // Nothing: the automatic choice (a DJI Mic first).
    void chooseCameraMicrophone(std::optional<std::string> id);

    // --- Manual gimbal input (gimbal_input.cpp). The views feed it through
    // PreviewInput, which keeps their calling rules.
    // The directions whose key or button is down now.
    const std::set<GimbalDirection>& heldDirections() const { return aim_.heldDirections; }
    void holdDirection(GimbalDirection direction) { aim_.heldDirections.insert(direction); }
    void releaseDirection(GimbalDirection direction) { aim_.heldDirections.erase(direction); }
    void releaseAllDirections() { aim_.heldDirections.clear(); }
    // Sends the speed the held directions call for (zero with none held).
    void applyHeldDirections();
    // A speed proportional to the pad's deflection.
    void joystick(double x, double y);
    // Sets the zero speed: a let-go knob or a speed drag's end.
    void stopGimbal();
    // Where the current drag began; nothing without a drag or when the
    // camera cannot be positioned (the drag then sets speeds).
    const std::optional<hollowkit::CameraPosition>& dragStart() const { return aim_.dragStart; }
    // A drag begins from `start`, or sets speeds without one.
    void startDrag(std::optional<hollowkit::CameraPosition> start);
    // One drag update: the pointer's offset from where the drag began (dx to
    // the right, dy upward, in points) and the preview's width in points.
    // Exact aims go out at most once per kDragMoveInterval.
    void dragGimbal(double dx, double dy, double width);
    // The drag's end: an exact drag sends the aim the interval held back, if
    // any, at once; a speed drag stops the gimbal.
    void endDrag();
    // Zoom by 25 points per step, positive to zoom in, in one move brought
    // into the range. The scroll wheel below steps one at a time instead.
    // A range only the camera knew is published before the zoom.
    void zoomStep(int steps);
    // Zoom by scroll distance, one step per 4.0 gathered; like zoomStep, it
    // publishes a range only the camera knew before it zooms.
    void scrollZoom(double delta);
    // Manual input keeps the face follower still for a moment while tracking.
    void pauseFollowerForManualInput();
    // Turns the camera round; the follower, if tracking, waits out the turn.
    void flipGimbal();
    // Asks the gimbal to return to its centre.
    void centerGimbal();

    // --- Face tracking and auto framing (face_tracking.cpp).
    void startFaceTracking();
    void stopFaceTracking();
    // Stops tracking while it runs, else starts it (which may be refused with a notice).
    void toggleFaceTracking();
    // Asks for one framing move on the next detected face.
    void autoFrame();
    bool isAutoFramePending() const { return faces_.pendingAutoFrame.has_value(); }

private:

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
    // Logs once per `what` ("Settings", "Scenes", "Looks") that changes are
    // not being saved, and why; the changes stand for the session. The
    // window says so only when it is not saying so already: once, until a
    // change is saved again, whatever the kinds of change that were not.
    void tellNotSaved(const std::string& what, const std::string& why);
    // Whether `key` may be written: a stored value that did not read whole
    // (`readInPart`) is replaced only once a whole copy of it is kept; while
    // none can be, it is left as it is and the user is told once.
    bool readyToOverwrite(std::string_view key, const std::string& what, bool& readInPart);

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
    void handleFailure(const hollowkit::CameraEvent::Failed& failed);
    void handleCameraOff();
    void rereadDevices();
    void settleResolution(const std::optional<hollowkit::VideoDimensions>& resolution);
    void applySettledResolution(PictureSize size);
    void cancelPendingResolution();
    void retryWirelessIfCameraOff();
    void reconnectIfStillOff();
    void cancelPendingRetry();

    // Face tracking and auto framing (face_tracking.cpp).
    void handleFaceObservations(const std::vector<hollowkit::NormalizedRect>& faces, hollowkit::TimePoint seenAt);
    void updateFaceDetection();
    void enableFaceDetection();
    void updateMaskFace(const std::optional<hollowkit::NormalizedRect>& face, hollowkit::TimePoint now);
    void performAutoFrame(const hollowkit::NormalizedRect& face);
    void giveUpAutoFrame();
    void cancelAutoFrame();
    void endFaceActivities();

    // Manual gimbal input (gimbal_input.cpp).
    // The published range, else the camera's own, published first so the
    // label and the menus show the range the step is about to use.
    std::optional<hollowkit::ZoomRange> adoptZoomRange();
    void sendZoom(int zoomPercent);
    void aimDrag(const DragOffset& offset);

    // Shutdown (shutdown.cpp).
    void recordingFinishedForTermination(bool finished);
    void photosFinishedForTermination();
    // Publishes what the shutdown still waits for (nothing before it).
    void refreshQuitProgress();
    void cameraStoppedForTermination(bool stopped);

    // Recording (recording_control.cpp).
    void startCountdown(int seconds);
    void countdownStep(uint64_t countdown, int value);
    void startMacRecording();
    // Screen-and-camera takes (screen_take_*.cpp).
    struct TakeResults;
    void startScreenRecording();
    void startScreenCapture(std::weak_ptr<ScreenSession> weakSession);
    void screenCaptureStartEnded(const std::weak_ptr<ScreenSession>& weakSession,
                                 const hollowkit::Result<void, hollowkit::ScreenRecorder::ScreenError>& result);
    void screenRecordingDidStart(const std::weak_ptr<ScreenSession>& weakSession, hollowkit::TimePoint start);
    void screenRecordingDidFail(const std::weak_ptr<ScreenSession>& weakSession, const std::string& reason);
    void screenTakeMovieFailed(const std::weak_ptr<ScreenSession>& weakSession);
    void stopScreenRecording(std::shared_ptr<ScreenSession> session, std::function<void()> completion);
    void finishScreenTake(std::shared_ptr<TakeResults> results);
    // The model's end: every take's movies completed, its session gone.
    void endTakesWithTheModel();
    // The take's work is over without a combined movie: no progress, the
    // activity ended, the completion run.
    void endTakeWork(std::function<void()> completion);
    void composeScreenTake(hollowkit::ComposeRequest request, std::function<void()> completion);
    void reportComposeProgress(uint64_t composition, float value);
    void composeEnded(uint64_t composition, const hollowkit::Result<std::filesystem::path, hollowkit::ComposeError>& result,
                      const std::filesystem::path& screen);
    // Posts `outcome` (what became of the take) and shows `file` in the file
    // manager, unless the application is quitting. Where nothing can show it,
    // the outcome stays told, followed by where the folder is.
    void noticeAndReveal(std::string outcome, const std::filesystem::path& file);
    // The desktop could show nothing for `folder`.
    void folderNotShown(const std::filesystem::path& folder);
    void continueRebuild(const ScreenTake& take, const hollowkit::HeldFolder& folder, hollowkit::ZoomPath zoom);
    // The quit's bound ran out during a composition: it is stopped and the
    // take left to a rebuild, unless its result came first.
    void stopCompositionForQuit();
    void leaveTakeToRebuild(const ScreenTake& take);
    void noteTakeLeft(const std::filesystem::path& folder, std::string text);
    void leaveFinishingTakes();
    // Takes the movie out of the tap and ends what belongs to it; the caller finishes it.
    std::shared_ptr<hollowkit::MovieRecorder> detachMovie();
    void releaseMovieSound(const hollowkit::MovieRecorder& movie);
    void finishMovie(std::shared_ptr<hollowkit::MovieRecorder> movie, std::optional<std::string> reason,
                     std::function<void()> completion);
    void handleMovieFinished(const hollowkit::Result<std::filesystem::path, hollowkit::RecorderError>& result,
                             const std::optional<std::string>& reason);
    // Stops the movie with `reason` leading its notice.
    void endMovie(std::string reason);
    void handleMovieFailed(const std::weak_ptr<hollowkit::MovieRecorder>& movie);
    void checkPictureArrives();
    // The countdown, a card start and the movie end with the camera.
    void endRecordingActivities();
    void cancelCardStart();
    void holdRecordingActivity();
    void releaseRecordingActivity();

    // Photos (photos.cpp).
    void finishPhoto(uint64_t id, const hollowkit::Result<std::filesystem::path, hollowkit::PhotoError>& result);
    void giveUpPhoto(uint64_t id);
    // The photo still waiting for its frame gives way to a newer press,
    // without a word: one frame would answer both.
    void dropWaitingPhoto();
    // A quit waits for a frame kPhotoFrameWait from each request at most.
    void boundFrameWaits();
    // A photo or thumbnail is done: whoever waits for none to be left hears.
    void photoWorkEnded();

    // The computer's microphone (mac_microphone_use.cpp).
    void continueMacMicrophone(uint64_t generation, bool allowed);
    void openMacMicrophone(uint64_t generation);
    void handleMicrophoneStarted(uint64_t generation, const hollowkit::MacMicrophone::StartResult& result);
    void handleMicrophoneFailure(uint64_t generation, const hollowkit::MicrophoneError& error);
    // Tells the movie not to wait for sound from the microphone after all.
    void microphoneWillNotRecord();
    void stopMacMicrophone();
    void settleMicrophoneWaiters(bool running);

    // Looks (looks.cpp). Imported looks are read off the main executor and
    // added one by one as each arrives; the stored choice waits for its look.
    void startLoadingLooks(const SettingsStore& settings);
    void importChosenLUTs(const std::vector<std::filesystem::path>& files);
    void lookArrived(LookLoader::Arrival arrival);
    void storeLookPaths();
    // setSelectedLUT with the table prepared already (null: prepared here).
    void selectLUT(std::optional<hk::ColorLUT> look, std::shared_ptr<const hollowkit::LutEngine> prepared);

    // Camera settings (camera_settings_sync.cpp).
    void sendCameraSetting(const hk::CameraSetting& setting, const CameraSettingsState& before);
    void settleCameraSettingAnswer(const std::string& label, const hollowkit::CommandOutcome& outcome);
    void resendCameraSettings();

    // Scenes (scenes.cpp).
    // Publishes the list, then stores it; whether it was saved.
    bool publishScenes(std::vector<CameraScene> scenes);
    // The frame `claimed` took arrived for the scene `id`.
    void sceneThumbnailFrameArrived(const std::string& id, const std::shared_ptr<std::atomic<bool>>& claimed,
                                    hollowkit::VideoFrame frame);
    // The request of scene `id` still waiting for its frame is dropped;
    // whether one was (the caller tells photoWorkEnded when it is done).
    bool dropWaitingThumbnail(const std::string& id);
    void encodeSceneThumbnail(const std::string& id, hollowkit::VideoFrame frame);
    void applySceneThumbnail(const std::string& id, std::optional<hollowkit::Bytes> jpeg);

    CameraModelServices services_;
    hollowkit::MainExecutor& main_;
    // Every write of the model goes through it.
    SettingsSaveWatch settings_;
    std::set<std::string> toldNotSaved_;  // what the log said is not saved
    // A notice said changes are not saved, and no write was saved since.
    bool notSavedShown_ = false;
    uint64_t noticeSerial_ = 0;
    // The folder of the last file revealed and the outcome told with it.
    std::optional<std::pair<std::filesystem::path, std::string>> revealOutcome_;
    PublishedState state_;
    CameraSettingsSync cameraSettings_;

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
    RouteWork route_;
    hollowkit::TaskId levelTimer_ = 0;
    hollowkit::TaskId diskTimer_ = 0;
    ShutdownWork shutdown_;

    // Recording.
    RecordingWork recording_;

    // Screen-and-camera takes.
    TakeWork takes_;
    // Takes stopped whose recorders have not both reported. The model holds
    // them, and so their sessions, until then; the recorders' completions
    // hold them weakly, so no session keeps itself (or its recorders'
    // threads) alive past the model.
    std::vector<std::shared_ptr<TakeResults>> finishingTakes_;

    // Photos and scene thumbnails.
    const std::shared_ptr<hollowkit::PhotoWriter>& photoWriter();
    PhotoWork photos_;

    // The computer's microphone.
    MacMicrophoneUse macMic_;
    std::unique_ptr<hollowkit::SerialQueue> leftoverQueue_;  // clears a killed run's unfinished movies

    // Manual gimbal input.
    ManualAim aim_;

    // Face tracking and auto framing.
    FaceWork faces_;

    // The stored "scenes" did not read whole; a copy is kept before the first save.
    bool scenesReadInPart_ = false;

    LookReading looks_;
};

// The notice for a folder the desktop could open nothing to show (no file
// manager, nothing to start one): where the folder is, so it can be found.
std::string folderNotShownNotice(const std::filesystem::path& folder);
// The notice for an outcome (a take saved or failed) whose file the desktop
// could not show: the outcome, then where the folder is.
std::string outcomeFolderNotShownNotice(const std::string& outcome, const std::filesystem::path& folder);

}  // namespace lumenhollow
