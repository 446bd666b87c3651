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
// model goes first (its end completes the take's movies and posts it).

#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/zoom_planner.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/movie_sample_recorder.h"

namespace lumenhollow {

namespace {

constexpr const char* kNoCameraPicture = "Screen saved. The camera had no picture, so there is no combined video.";
constexpr const char* kCameraMovieFailedPrefix = "Screen saved. The camera's movie could not be written (";
constexpr const char* kCameraMovieFailedSuffix = "), so there is no combined video.";

}  // namespace

// What the two recorders reported, and what the finish needs besides. The
// model holds it (finishingTakes_) until both have reported; their
// completions hold it weakly.
struct CameraModel::TakeResults {
    std::weak_ptr<CameraModel> model;
    std::shared_ptr<ScreenSession> session;
    hollowkit::ZoomPath zoom;
    std::function<void()> completion;
    int waiting = 0;
    std::optional<hollowkit::Result<std::filesystem::path, hollowkit::ScreenRecorder::ScreenError>> screen;
    std::optional<hollowkit::Result<std::filesystem::path, hollowkit::RecorderError>> camera;

    // Main executor: one recorder has reported. The model is there: it
    // lets go of the take only here or at its end, which completes the
    // take's movies itself and runs the completion.
    static void reported(const std::shared_ptr<TakeResults>& results) {
        if (--results->waiting > 0) return;
        const std::shared_ptr<CameraModel> model = results->model.lock();
        if (!model) return;
        std::erase(model->finishingTakes_, results);
        model->finishScreenTake(results);
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
    takes_.session.reset();
    publish<Field::recordingStarted>(std::nullopt);
    publish<Field::isStartingScreen>(false);

    const hollowkit::TimePoint end = main_.clock().now();
    const hollowkit::TimePoint start = session->startTime.value_or(end);
    const hollowkit::CursorTimeline timeline =
        session->cursor->stop().shifted(hollowkit::CursorRecorder::timelineSeconds(start));
    if (auto written = timeline.write(session->folder, ScreenTake::kCursorFile); !written) {
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
    finishingTakes_.push_back(results);

    // Weakly: the recorders' queues hold these until they report, and the
    // session holds the recorders.
    const std::weak_ptr<TakeResults> weakResults = results;
    session->screen->stop(end, [weakResults](hollowkit::Result<std::filesystem::path,
                                                              hollowkit::ScreenRecorder::ScreenError> result) {
        const std::shared_ptr<TakeResults> take = weakResults.lock();
        if (!take) return;
        take->screen = std::move(result);
        TakeResults::reported(take);
    });
    if (session->camera) {
        session->camera->finish(
            end, [weakResults](hollowkit::Result<std::filesystem::path, hollowkit::RecorderError> result) {
                const std::shared_ptr<TakeResults> take = weakResults.lock();
                if (!take) return;
                take->camera = std::move(result);
                if (auto model = take->model.lock()) model->releaseMovieSound(*take->session->camera);
                TakeResults::reported(take);
            });
    }
    publish<Field::composeProgress>(0.0F);
}

// The model's end: a take running or stopped has its movies completed
// before the end returns, by its recorders as they go (each completes a
// stop or finish asked for), and the session goes with them; nothing is
// composed. A stop's completion is posted. Called after the tap has let go
// of the camera's movie.
void CameraModel::endTakesWithTheModel() {
    if (takes_.session) {
        const std::shared_ptr<ScreenSession> session = std::move(takes_.session);
        session->cursor->stop();
        session->screen->stop(std::nullopt, {});
        if (session->camera) session->camera->finish(std::nullopt, {});
    }
    for (const std::shared_ptr<TakeResults>& take : std::exchange(finishingTakes_, {})) {
        if (take->completion) main_.post(std::exchange(take->completion, nullptr));
    }
}

// The quit waits no longer for the takes' movies: each take still finishing
// is named, with what of it is whole. Their recorders go on; the model's end
// completes what is left of them.
void CameraModel::leaveFinishingTakes() {
    const auto stateOf = [](const auto& result, bool begun) {
        if (!begun) return TakeMovieState::none;
        if (!result) return TakeMovieState::completing;
        return *result ? TakeMovieState::whole : TakeMovieState::failed;
    };
    for (const std::shared_ptr<TakeResults>& results : finishingTakes_) {
        const ScreenSession& session = *results->session;
        const ScreenTake take = ScreenTake::whereNow(session.take, session.folder);
        noteTakeLeft(take.folder, takeLeftUnfinished(take, stateOf(results->screen, true),
                                                     stateOf(results->camera, session.camera != nullptr)));
    }
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
        // what the user needs to hear about a take, nor is an empty slot (no
        // camera movie was begun); a movie that could not be written is,
        // with the reason, or the user blames the camera.
        const bool unwritten =
            results->camera && results->camera->error().kind == hollowkit::RecorderError::Kind::writerFailed;
        noticeAndReveal(unwritten ? kCameraMovieFailedPrefix + results->camera->error().detail + kCameraMovieFailedSuffix
                                  : std::string(kNoCameraPicture),
                        screen);
        endTakeWork(std::move(completion));
        return;
    }

    // Remembered where its folder is now, should it have been moved.
    const ScreenTake take = ScreenTake::whereNow(session.take, session.folder);
    setLastScreenTake(take.folder);
    std::vector<hollowkit::FrameSizeChange> frames;
    if (session.camera && session.camera->hasMixedOrientation()) {
        frames = session.camera->sizeChanges();
        if (auto written = hollowkit::FrameSizeChange::writeAll(frames, session.folder, ScreenTake::kCameraFramesFile);
            !written) {
            hollowkit::PocketLog::log("The camera's frame sizes were not saved: " + written.error());
        }
    }
    if (isTerminating()) {
        // A composition started now would be cut off by the quit; the take
        // is kept whole and can be rebuilt at the next launch.
        leaveTakeToRebuild(take);
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
    request.folder = session.folder;
    composeScreenTake(std::move(request), std::move(completion));
}

void CameraModel::endTakeWork(std::function<void()> completion) {
    publish<Field::composeProgress>(std::nullopt);
    refreshQuitProgress();
    releaseRecordingActivity();
    if (completion) completion();
    for (auto& waiter : std::exchange(takes_.workWaiters, {})) waiter();
}

}  // namespace lumenhollow
