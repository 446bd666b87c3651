// CameraModel: the start of a screen-and-camera take, the screen recorder's
// first frame (which starts the camera's movie at that same instant), its
// stream ending and a movie that can no longer be written, the "Record
// Screen Too" switch and the display list.
//
// Every step after a wait acts only while its take is still the current
// one: a take stopped while its capture starts (or while the microphone
// asks for access) starts nothing more, and whatever the stop could not
// reach yet ends as it arrives.

#include <system_error>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/media_library.h"
#include "hollowkit/recording/screen_capture_access.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/movie_sample_recorder.h"

namespace lumenhollow {

namespace {

constexpr const char* kStreamStoppedPrefix = "Screen recording stopped: ";
constexpr const char* kNoScreenServices = "Screen recording is not available on this desktop";

}  // namespace

void CameraModel::startScreenRecording() {
    hollowkit::RecordingSystem* system = services_.recordingSystem;
    if (!system || !system->displays || !system->screenCapture || !system->pointer || !system->keys ||
        !system->buttons) {
        postNotice(kNoScreenServices);
        return;
    }
    // X11 asks nobody; a capture that is refused says so when it starts.
    if (!hollowkit::ScreenCaptureAccess::isGranted(*system->displays)) {
        hollowkit::ScreenCaptureAccess::request(*system->displays);
    }

    const hollowkit::Clock& clock = main_.clock();
    auto folder = hollowkit::MediaLibrary::takeFolderURL(outputFolder_, kScreenRecordingKind, clock.wallNow());
    if (!folder) {
        postNotice(folder.error().notice());
        return;
    }

    auto held = hollowkit::HeldFolder::open(*folder);
    if (!held) {
        std::error_code ignored;
        std::filesystem::remove(*folder, ignored);
        postNotice(hollowkit::MediaLibraryError{held.error(), *folder, hollowkit::MediaLibraryError::Kind::takeFolder}
                       .notice());
        return;
    }

    auto session = std::make_shared<ScreenSession>();
    session->take.folder = *folder;
    session->folder = std::move(held).value();
    session->screen = std::make_unique<hollowkit::ScreenRecorder>(
        hollowkit::FileInFolder{session->folder, ScreenTake::kScreenFile}, state_.codec, state_.includeMacSound, main_,
        *system->displays, *system->screenCapture, services_.movieWriters);

    uint32_t displayID = 0;
    if (state_.screenDisplayID) {
        displayID = *state_.screenDisplayID;
    } else if (auto displays = system->displays->displays()) {
        if (auto main = hollowkit::mainDisplay(*displays)) displayID = main->id;
    }
    session->cursor = std::make_unique<hollowkit::CursorRecorder>(displayID, main_, *system->displays,
                                                                  *system->pointer, *system->keys,
                                                                  *system->buttons);

    const std::weak_ptr<ScreenSession> weakSession = session;
    session->screen->setOnFirstFrame([weak = weak_from_this(), weakSession](hollowkit::TimePoint start) {
        if (auto self = weak.lock()) self->screenRecordingDidStart(weakSession, start);
    });
    session->screen->setOnStopped([weak = weak_from_this(), weakSession](const std::string& reason) {
        if (auto self = weak.lock()) self->screenRecordingDidFail(weakSession, reason);
    });
    session->screen->setOnFailure(
        [weak = weak_from_this(), weakSession](const hollowkit::ScreenRecorder::ScreenError&) {
            if (auto self = weak.lock()) self->screenTakeMovieFailed(weakSession);
        });

    takes_.session = session;
    session->cursor->start();
    // Held before anyone hears of the start: an observer may stop it at once.
    holdRecordingActivity();
    publish<Field::isStartingScreen>(true);
    if (takes_.session != session) return;

    main_.post([weak = weak_from_this(), weakSession] {
        if (auto self = weak.lock()) self->startScreenCapture(weakSession);
    });
}

void CameraModel::startScreenCapture(std::weak_ptr<ScreenSession> weakSession) {
    if (std::shared_ptr<ScreenSession> session = weakSession.lock(); !session || session != takes_.session) return;
    auto captureScreen = [weak = weak_from_this(), weakSession](bool) {
        auto self = weak.lock();
        if (!self) return;
        // A take stopped while the microphone started: its stop has already
        // ended the microphone, and its capture never begins.
        auto session = weakSession.lock();
        if (!session || session != self->takes_.session) return;
        using StartResult = hollowkit::Result<void, hollowkit::ScreenRecorder::ScreenError>;
        session->screen->start(self->state_.screenDisplayID, [weak, weakSession](StartResult result) {
            if (auto model = weak.lock()) model->screenCaptureStartEnded(weakSession, result);
        });
    };
    // A microphone still running for the movie before may be kept only when
    // it records the input chosen now; startMacMicrophone decides.
    if (usesMacMicrophone()) {
        startMacMicrophone(std::move(captureScreen));
    } else {
        stopMacMicrophone();
        captureScreen(true);
    }
}

void CameraModel::screenCaptureStartEnded(
    const std::weak_ptr<ScreenSession>& weakSession,
    const hollowkit::Result<void, hollowkit::ScreenRecorder::ScreenError>& result) {
    std::shared_ptr<ScreenSession> session = weakSession.lock();
    // Stopped or replaced meanwhile: the stop reports the outcome.
    if (!session || session != takes_.session) return;
    if (result) return;  // the take goes on with its first frame

    session->cursor->stop();
    stopMacMicrophone();
    takes_.session.reset();
    // Nothing of the user's is in it yet. Gone before anyone hears that the
    // start is over.
    // Only while its path still leads to it: a path another folder took
    // over meanwhile holds someone else's files.
    std::error_code removal;
    if (session->folder.isAt(session->take.folder)) {
        std::filesystem::remove_all(session->take.folder, removal);
    } else {
        removal = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    if (removal) hollowkit::PocketLog::log("The take's folder was not removed: " + removal.message());
    publish<Field::isStartingScreen>(false);
    releaseRecordingActivity();

    const hollowkit::ScreenRecorder::ScreenError& error = result.error();
    hollowkit::PocketLog::log("The screen capture did not start: " + error.userMessage());
    if (error.kind == hollowkit::ScreenRecorder::ScreenError::Kind::permissionDenied) {
        publish<Field::showScreenPermissionHelp>(true);
    } else {
        postNotice(error.userMessage());
    }
}

void CameraModel::screenRecordingDidStart(const std::weak_ptr<ScreenSession>& weakSession,
                                          hollowkit::TimePoint start) {
    std::shared_ptr<ScreenSession> session = weakSession.lock();
    if (!session || session != takes_.session) return;

    const hollowkit::Clock& clock = main_.clock();
    // The capture began only once the microphone's start had ended: sound is
    // waited for from a microphone that records, never from one that was
    // refused, would not open or found no sound server (the movie would
    // lose its first second to that wait).
    const bool expectsSound = isMacMicrophoneRunning() || tap_->lastAudio() > clock.now() - kRecentCameraSound;
    session->camera = std::make_shared<hollowkit::MovieRecorder>(
        hollowkit::FileInFolder{session->folder, ScreenTake::kCameraFile}, state_.codec, start, expectsSound, main_,
        clock, services_.movieWriters);
    session->camera->setOnFailure([weak = weak_from_this(), weakSession](const hollowkit::RecorderError&) {
        if (auto self = weak.lock()) self->screenTakeMovieFailed(weakSession);
    });
    session->startTime = start;
    tap_->setRecorder(std::make_shared<MovieSampleRecorder>(session->camera));
    publish<Field::isStartingScreen>(false);
    publish<Field::recordingStarted>(clock.wallNow());
}

void CameraModel::screenRecordingDidFail(const std::weak_ptr<ScreenSession>& weakSession,
                                         const std::string& reason) {
    std::shared_ptr<ScreenSession> session = weakSession.lock();
    if (!session || session != takes_.session) return;
    postNotice(kStreamStoppedPrefix + reason);
    stopRecording({});
}

// Either movie that can no longer be written ends the take now, not at the
// user's stop; the finish then tells which movie failed and why.
void CameraModel::screenTakeMovieFailed(const std::weak_ptr<ScreenSession>& weakSession) {
    std::shared_ptr<ScreenSession> session = weakSession.lock();
    if (!session || session != takes_.session) return;
    stopRecording({});
}

void CameraModel::toggleRecordScreen() {
    if (isRecording() || state_.isStartingScreen || state_.composeProgress) return;
    if (state_.recordScreen) {
        setRecordScreen(false);
        return;
    }
    setRecordScreen(true);
    hollowkit::RecordingSystem* system = services_.recordingSystem;
    if (system && system->displays && !hollowkit::ScreenCaptureAccess::isGranted(*system->displays)) {
        hollowkit::ScreenCaptureAccess::request(*system->displays);
    }
    main_.post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->refreshDisplays();
    });
}

bool CameraModel::isScreenCaptureGranted() const {
    hollowkit::RecordingSystem* system = services_.recordingSystem;
    return system && system->displays && hollowkit::ScreenCaptureAccess::isGranted(*system->displays);
}

void CameraModel::requestScreenCapture() {
    hollowkit::RecordingSystem* system = services_.recordingSystem;
    if (system && system->displays) hollowkit::ScreenCaptureAccess::request(*system->displays);
}

void CameraModel::refreshDisplays() {
    hollowkit::RecordingSystem* system = services_.recordingSystem;
    if (!system || !system->displays) return;
    if (!hollowkit::ScreenCaptureAccess::isGranted(*system->displays)) return;
    auto displays = hollowkit::ScreenRecorder::displays(*system->displays);
    if (!displays) return;
    publish<Field::displays>(*displays);
    if (!state_.screenDisplayID) return;
    for (const hollowkit::ScreenDisplay& display : state_.displays) {
        if (display.id == *state_.screenDisplayID) return;
    }
    publish<Field::screenDisplayID>(std::nullopt);
}

}  // namespace lumenhollow
