// CameraModel: the Record command, its countdown, the starts on the camera's
// card and on this computer, the stops with the movie's finish and notice,
// the stop for quitting, and the camera's card-recording reports.

#include <algorithm>
#include <cstdio>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/media_library.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/movie_sample_recorder.h"

namespace lumenhollow {

namespace {

constexpr const char* kCardSavedNotice = "Saved to the camera's microSD card";
constexpr const char* kVideoSavedNotice = "Video saved";
constexpr const char* kCameraDisconnected = "The camera was disconnected";

}  // namespace

bool CameraModel::isBusy() const {
    return isRecording() || state_.isStartingScreen || state_.composeProgress.has_value();
}

void CameraModel::toggleRecording() {
    // While quitting nothing may start: a movie begun during the camera's
    // stop would still be open when the application ends. What ran was
    // already finished by the shutdown.
    if (isTerminating()) return;
    if (state_.countdownRemaining || recording_.countdownId != 0) {
        cancelCountdown();
        return;
    }
    if (state_.composeProgress) return;
    // A take stops also while it is still starting.
    if (takes_.session) {
        stopRecording({});
        return;
    }
    // What runs decides, not the record target: the target may have been
    // changed since, or the camera may have started its card on its own.
    if (recording_.recorder) {
        stopRecording({});
        return;
    }
    if (state_.recordingStarted && camera_->supportsCardRecording()) {
        // Only the camera's card records without a movie here; the shown
        // time stays until the camera reports the end.
        camera_->setCardRecording(false);
        return;
    }
    if (recording_.cardStartPending != 0) {
        // The camera has not said it records yet; a second press withdraws
        // the start rather than sending it again.
        cancelCardStart();
        camera_->setCardRecording(false);
        return;
    }
    if (!state_.stats || !state_.stats->hasPicture) return;
    if (state_.recordScreen) {
        startCountdown(std::max(state_.countdownSeconds, kScreenTakeCountdownSeconds));
    } else if (state_.countdownSeconds > 0) {
        startCountdown(state_.countdownSeconds);
    } else {
        startRecording();
    }
}

void CameraModel::cancelCountdown() {
    const bool running = recording_.countdownId != 0 || state_.countdownRemaining.has_value();
    main_.cancel(recording_.countdownTask);
    recording_.countdownTask = 0;
    recording_.countdownId = 0;
    if (running) publish<Field::countdownRemaining>(std::nullopt);
}

void CameraModel::startCountdown(int seconds) {
    main_.cancel(recording_.countdownTask);
    const uint64_t id = ++recording_.lastCountdownId;
    recording_.countdownId = id;
    publish<Field::countdownRemaining>(seconds);
    // An observer told of the count may have cancelled it already.
    if (recording_.countdownId != id) return;
    recording_.countdownTask = main_.after(kCountdownStep, [weak = weak_from_this(), id, seconds] {
        if (auto self = weak.lock()) self->countdownStep(id, seconds);
    });
}

void CameraModel::countdownStep(uint64_t countdown, int value) {
    if (countdown != recording_.countdownId) return;
    recording_.countdownTask = 0;
    const int next = value - 1;
    publish<Field::countdownRemaining>(next);
    if (countdown != recording_.countdownId) return;
    if (next > 0) {
        recording_.countdownTask = main_.after(kCountdownStep, [weak = weak_from_this(), countdown, next] {
            if (auto self = weak.lock()) self->countdownStep(countdown, next);
        });
        return;
    }
    // 0 and nothing in the same turn, then the start.
    recording_.countdownId = 0;
    publish<Field::countdownRemaining>(std::nullopt);
    startRecording();
}

void CameraModel::startRecording() {
    if (recording_.recorder || takes_.session || state_.composeProgress || isTerminating()) return;
    if (state_.recordScreen) {
        startScreenRecording();
        return;
    }
    if (camera_->supportsCardRecording() && state_.recordTarget == RecordTarget::camera) {
        camera_->setCardRecording(true);
        cancelCardStart();
        recording_.cardStartPending = main_.after(kCardStartConfirmation, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->recording_.cardStartPending = 0;
        });
        return;
    }
    startMacRecording();
}

void CameraModel::startMacRecording() {
    const hollowkit::Clock& clock = main_.clock();
    auto file = hollowkit::MediaLibrary::fileURL(outputFolder_, hollowkit::MediaLibrary::kVideoKind, "mov",
                                                 clock.wallNow());
    if (!file) {
        postNotice(file.error().notice());
        return;
    }

    // Sound is waited for only when some is on its way: from the microphone
    // about to start (unless it is known to be refused), or from the camera,
    // whose sound came within the last second.
    const bool microphoneMayRecord = usesMacMicrophone() && services_.audioInputs &&
                                     services_.audioInputs->access() != hollowkit::MicrophoneAccess::denied;
    const hollowkit::TimePoint now = clock.now();
    const bool cameraSound = tap_->lastAudio() > now - kRecentCameraSound;
    recording_.recorder = std::make_shared<hollowkit::MovieRecorder>(*file, state_.codec, std::nullopt,
                                                           microphoneMayRecord || cameraSound, main_, clock,
                                                           services_.movieWriters);
    recording_.recorder->setOnFailure([weak = weak_from_this(), movie = std::weak_ptr(recording_.recorder)](
                                const hollowkit::RecorderError&) {
        if (auto self = weak.lock()) self->handleMovieFailed(movie);
    });
    tap_->setRecorder(std::make_shared<MovieSampleRecorder>(recording_.recorder));
    recording_.recorderStartedAt = now;
    publish<Field::recordingStarted>(clock.wallNow());
    holdRecordingActivity();
    recording_.pictureWatch = main_.every(std::chrono::seconds(1), [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->checkPictureArrives();
    });
    if (usesMacMicrophone()) {
        startMacMicrophone();
    } else {
        // One still running for the movie before must not record into this one.
        stopMacMicrophone();
    }
}

void CameraModel::stopRecording(std::function<void()> completion) {
    if (takes_.session) {
        stopScreenRecording(takes_.session, std::move(completion));
        return;
    }
    if (!recording_.recorder) {
        // Callers may wait for the completion, so it runs also when nothing records.
        if (completion) main_.post(std::move(completion));
        return;
    }
    finishMovie(detachMovie(), std::nullopt, std::move(completion));
}

void CameraModel::endMovie(std::string reason) {
    if (!recording_.recorder) return;
    finishMovie(detachMovie(), std::move(reason), {});
}

// A movie that can no longer be written ends now, not at the user's stop:
// its finish brings the one notice with the writer's reason.
void CameraModel::handleMovieFailed(const std::weak_ptr<hollowkit::MovieRecorder>& movie) {
    const std::shared_ptr<hollowkit::MovieRecorder> failed = movie.lock();
    if (!failed || failed != recording_.recorder) return;
    finishMovie(detachMovie(), std::nullopt, {});
}

void CameraModel::finishRecordingForTermination(std::function<void()> finished) {
    cancelCountdown();
    cancelCardStart();
    // The movie recording now is finished as any stopped before it, and the
    // quit waits for all of them below: an earlier one may still be
    // completing when the newest is done.
    if (recording_.recorder) finishMovie(detachMovie(), std::nullopt, {});
    const bool takeWork = takes_.session || state_.composeProgress;
    if (!takeWork && recording_.finishingMovies.empty()) {
        stopMacMicrophone();
        if (finished) finished();
        return;
    }
    // What is waited for below ends; then the rest is looked at again.
    auto again = [weak = weak_from_this(), finished = std::move(finished)]() mutable {
        if (auto self = weak.lock()) {
            self->finishRecordingForTermination(std::move(finished));
        } else if (finished) {
            finished();
        }
    };
    // A take's movies are finished; a composition under way is waited for.
    if (takes_.session) {
        stopScreenRecording(takes_.session, std::move(again));
    } else if (state_.composeProgress) {
        takes_.workWaiters.push_back(std::move(again));
    } else {
        // A movie stopped before is still being completed: quitting now
        // would cut its file short.
        recording_.movieFinishWaiters.push_back(std::move(again));
    }
}

void CameraModel::stopRecordingForTermination(std::function<void()> completion) {
    finishRecordingForTermination([weak = weak_from_this(), completion = std::move(completion)]() mutable {
        if (auto self = weak.lock()) {
            self->stopCamera(std::move(completion));
        } else if (completion) {
            completion();
        }
    });
}

std::shared_ptr<hollowkit::MovieRecorder> CameraModel::detachMovie() {
    // No frame reaches the movie after this. Its sound still does until the
    // movie is complete: the sound of the last frames is captured before it
    // arrives, and the recorder waits a moment for it. The microphone runs
    // until then too (releaseMovieSound).
    tap_->setRecorder(
        std::make_shared<MovieSampleRecorder>(recording_.recorder, MovieSampleRecorder::Takes::soundOnly));
    main_.cancel(recording_.pictureWatch);
    recording_.pictureWatch = 0;
    std::shared_ptr<hollowkit::MovieRecorder> movie = std::move(recording_.recorder);
    recording_.recorder.reset();
    publish<Field::recordingStarted>(std::nullopt);
    return movie;
}

void CameraModel::finishMovie(std::shared_ptr<hollowkit::MovieRecorder> movie, std::optional<std::string> reason,
                              std::function<void()> completion) {
    hollowkit::MovieRecorder& recorder = *movie;
    // Held here, not by the completion: a completion holding its own
    // recorder would keep it, and its thread, past the model and past the
    // executor it posts to. The completion still runs when the model is
    // gone: the model's end completes the movie and lets it post.
    recording_.finishingMovies.push_back(std::move(movie));
    recorder.finish(std::nullopt, [weak = weak_from_this(), finishing = &recorder, reason = std::move(reason),
                                   completion = std::move(completion)](
                                      const hollowkit::Result<std::filesystem::path, hollowkit::RecorderError>&
                                          result) {
        std::vector<std::function<void()>> waiters;
        if (auto self = weak.lock()) {
            self->releaseMovieSound(*finishing);
            self->handleMovieFinished(result, reason);
            // Let go on the main executor, where its queue is joined.
            std::erase_if(self->recording_.finishingMovies,
                          [finishing](const auto& held) { return held.get() == finishing; });
            if (self->recording_.finishingMovies.empty()) waiters.swap(self->recording_.movieFinishWaiters);
            self->refreshQuitProgress();
        }
        if (completion) completion();
        for (auto& waiter : waiters) waiter();
    });
}

// A complete movie takes no more sound; the microphone stops unless the
// next recording already uses it.
void CameraModel::releaseMovieSound(const hollowkit::MovieRecorder& movie) {
    const auto entry = std::dynamic_pointer_cast<MovieSampleRecorder>(tap_->recorder());
    if (entry && entry->movie().get() == &movie) tap_->setRecorder(nullptr);
    if (!recording_.recorder && !hasScreenTake()) stopMacMicrophone();
}

void CameraModel::handleMovieFinished(
    const hollowkit::Result<std::filesystem::path, hollowkit::RecorderError>& result,
    const std::optional<std::string>& reason) {
    releaseRecordingActivity();
    if (!reason) {
        postNotice(result ? std::string(kVideoSavedNotice) : result.error().userMessage());
    } else if (result) {
        postNotice(*reason + ": recording stopped, video saved");
    } else {
        postNotice(*reason + ": recording stopped. " + result.error().userMessage());
    }
}

void CameraModel::checkPictureArrives() {
    if (!recording_.recorder) return;
    const hollowkit::TimePoint last = std::max(tap_->lastVideo(), recording_.recorderStartedAt);
    if (main_.clock().now() - last < kNoPictureLimit) return;
    char reason[96];
    std::snprintf(reason, sizeof reason, "No picture from the camera for %lld seconds",
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kNoPictureLimit).count()));
    hollowkit::PocketLog::log(std::string(reason) + "; ending the recording");
    endMovie(reason);
}

void CameraModel::endRecordingActivities() {
    cancelCountdown();
    cancelCardStart();
    // A photo still waiting for its frame stays: the next camera's answers it.
    // A camera that went away ends the movie with its reason; a switch the
    // user chose ends it as Record would.
    if (state_.cameraOff) {
        endMovie(kCameraDisconnected);
    } else {
        stopRecording({});
    }
    // The card belongs to the camera going away: its reports stop here, and
    // a shown card recording would otherwise never end.
    if (!recording_.recorder && !hasScreenTake() && state_.recordingStarted) {
        publish<Field::recordingStarted>(std::nullopt);
    }
}

void CameraModel::cancelCardStart() {
    main_.cancel(recording_.cardStartPending);
    recording_.cardStartPending = 0;
}

void CameraModel::handleCardRecording(const hollowkit::CardRecordingState& cardState) {
    publish<Field::cardRecording>(cardState);
    // The camera's card reports keep coming while this computer records: they
    // describe the card, not the movie or the take.
    if (recording_.recorder || takes_.session) return;
    const hollowkit::WallTime now = main_.clock().wallNow();
    if (cardState.isRecording) {
        cancelCardStart();
        const auto elapsed = std::chrono::seconds(cardState.elapsedSeconds.value_or(0));
        const auto started = now - std::chrono::duration_cast<hollowkit::WallClock::duration>(elapsed);
        if (!state_.recordingStarted) {
            publish<Field::recordingStarted>(started);
            return;
        }
        const auto drift = (now - *state_.recordingStarted) - elapsed;
        if (drift > kCardElapsedTolerance || drift < -kCardElapsedTolerance) {
            publish<Field::recordingStarted>(started);
        }
        return;
    }
    if (cardState.isTransitioning) return;
    if (!state_.recordingStarted) return;
    postNotice(kCardSavedNotice);
    publish<Field::recordingStarted>(std::nullopt);
}

void CameraModel::holdRecordingActivity() {
    // Counted: a movie still finishing and the next one both keep it.
    if (recording_.activityHolders++ > 0) return;
    if (services_.powerAssertion) {
        recording_.activity = services_.powerAssertion->begin(std::string(kRecordingActivityReason));
    }
}

void CameraModel::releaseRecordingActivity() {
    if (recording_.activityHolders == 0 || --recording_.activityHolders > 0) return;
    recording_.activity.end();
}

}  // namespace lumenhollow
