// CameraModel: the stop of a screen-and-camera take and its finish. The
// stop runs in one turn: the camera's movie takes no more frames (its sound
// still comes until it reaches the picture's end), the pointer timeline is
// stored and the zoom planned, and both movies are ended at one common
// host-clock time. Once both recorders have reported,
// the finish either tells why there is no combined movie or hands the two
// movies to the composition.
//
// The stop's completion runs exactly once, when the take's work is over:
// at the finish, or at the end of the composition it starts; also when the
// model is gone by then.

#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/zoom_planner.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/movie_sample_recorder.h"

namespace lumenhollow {

namespace {

constexpr const char* kNoCameraPicture = "Screen saved. The camera had no picture, so there is no combined video.";
constexpr const char* kCameraNeverStarted =
    "Screen saved. The take ended before the camera's movie began, so there is no combined video.";
constexpr const char* kCameraMovieFailedPrefix = "Screen saved. The camera's movie could not be written (";
constexpr const char* kCameraMovieFailedSuffix = "), so there is no combined video.";

}  // namespace

// What the two recorders reported, and what the finish needs besides.
struct CameraModel::TakeResults {
    std::weak_ptr<CameraModel> model;
    std::shared_ptr<ScreenSession> session;
    hollowkit::ZoomPath zoom;
    std::function<void()> completion;
    int waiting = 0;
    std::optional<hollowkit::Result<std::filesystem::path, hollowkit::ScreenRecorder::ScreenError>> screen;
    std::optional<hollowkit::Result<std::filesystem::path, hollowkit::RecorderError>> camera;

    // Main executor: one recorder has reported.
    static void reported(const std::shared_ptr<TakeResults>& results) {
        if (--results->waiting > 0) return;
        if (auto model = results->model.lock()) {
            model->finishScreenTake(results);
        } else if (results->completion) {
            std::exchange(results->completion, nullptr)();
        }
    }
};

void CameraModel::stopScreenRecording(std::shared_ptr<ScreenSession> session, std::function<void()> completion) {
    // No frame reaches the camera's movie after this, but its sound does
    // until the movie is complete: the sound of the last frames is still on
    // its way, and the movie waits for it. The microphone runs until then
    // (releaseMovieSound); one still starting, with no movie yet, stops now.
    if (session->camera) {
        tap_->setRecorder(std::make_shared<MovieSampleRecorder>(session->camera, MovieSampleRecorder::Takes::soundOnly));
    } else {
        tap_->setRecorder(nullptr);
        stopMacMicrophone();
    }
    screenSession_.reset();
    publish<Field::recordingStarted>(std::nullopt);
    publish<Field::isStartingScreen>(false);

    const hollowkit::TimePoint end = main_.clock().now();
    const hollowkit::TimePoint start = session->startTime.value_or(end);
    const hollowkit::CursorTimeline timeline =
        session->cursor->stop().shifted(hollowkit::CursorRecorder::timelineSeconds(start));
    if (auto written = timeline.write(session->take.cursorURL()); !written) {
        hollowkit::PocketLog::log("The pointer timeline was not saved: " + written.error());
    }

    auto results = std::make_shared<TakeResults>();
    results->model = weak_from_this();
    results->session = session;
    results->completion = std::move(completion);
    if (state_.autoZoom) {
        results->zoom = hollowkit::ZoomPlanner::plan(timeline, std::chrono::duration<double>(end - start).count());
    }
    results->waiting = session->camera ? 2 : 1;

    session->screen->stop(end, [results](hollowkit::Result<std::filesystem::path,
                                                          hollowkit::ScreenRecorder::ScreenError> result) {
        results->screen = std::move(result);
        TakeResults::reported(results);
    });
    if (session->camera) {
        session->camera->finish(
            end, [results](hollowkit::Result<std::filesystem::path, hollowkit::RecorderError> result) {
                results->camera = std::move(result);
                if (auto model = results->model.lock()) model->releaseMovieSound(*results->session->camera);
                TakeResults::reported(results);
            });
    }
    publish<Field::composeProgress>(0.0F);
}

void CameraModel::finishScreenTake(std::shared_ptr<TakeResults> results) {
    std::function<void()> completion = std::exchange(results->completion, nullptr);
    const ScreenSession& session = *results->session;
    if (!results->screen || !*results->screen) {
        if (results->screen) postNotice(results->screen->error().userMessage());
        endTakeWork(std::move(completion));
        return;
    }
    const std::filesystem::path screen = results->screen->value();
    if (!results->camera || !*results->camera) {
        // The camera's own error ("No video frames were recorded") is not
        // what the user needs to hear about a take; a movie that could not
        // be written is, with the reason, or the user blames the camera.
        if (results->camera && results->camera->error().kind == hollowkit::RecorderError::Kind::writerFailed) {
            postNotice(kCameraMovieFailedPrefix + results->camera->error().detail +
                                   kCameraMovieFailedSuffix);
        } else {
            postNotice(session.camera ? kNoCameraPicture : kCameraNeverStarted);
        }
        revealTakeFile(screen);
        endTakeWork(std::move(completion));
        return;
    }

    setLastScreenTake(session.take.folder);
    std::vector<hollowkit::FrameSizeChange> frames;
    if (session.camera && session.camera->hasMixedOrientation()) {
        frames = session.camera->sizeChanges();
        if (auto written = hollowkit::FrameSizeChange::writeAll(frames, session.take.cameraFramesURL()); !written) {
            hollowkit::PocketLog::log("The camera's frame sizes were not saved: " + written.error());
        }
    }
    if (isTerminating()) {
        // A composition started now would be cut off by the quit; the take
        // is kept whole and can be rebuilt at the next launch.
        hollowkit::PocketLog::log("Quitting: the take's combined video is left to a rebuild");
        endTakeWork(std::move(completion));
        return;
    }

    hollowkit::ComposeRequest request;
    request.screen = screen;
    request.camera = results->camera->value();
    request.output = session.take.combinedURL();
    request.style = state_.bubbleStyle;
    request.zoom = std::move(results->zoom);
    request.codec = state_.codec;
    request.cameraFrames = std::move(frames);
    composeScreenTake(std::move(request), std::move(completion));
}

void CameraModel::endTakeWork(std::function<void()> completion) {
    publish<Field::composeProgress>(std::nullopt);
    releaseRecordingActivity();
    if (completion) completion();
    for (auto& waiter : std::exchange(takeWorkWaiters_, {})) waiter();
}

}  // namespace lumenhollow
