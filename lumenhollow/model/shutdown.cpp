// CameraModel: the quit request, the shutdown that runs when the
// application agrees to end, and the output-folder command.
//
// The shutdown waits for three things in turn, each with its own bound: the
// recording's files being finished, the photos asked for being written,
// then the camera stopping. A movie whose finish is cut off has no index
// and cannot be played, so finishing gets a generous bound of its own; the
// photos' bound grows with their number (the camera keeps running for
// those still waiting for their frame); the short fallback covers only the
// camera, whose stop loses nothing when it is cut short.

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/stored_settings.h"

namespace lumenhollow {

void CameraModel::dismissSheets() {
    publish<Field::showUSBGuide>(false);
    publish<Field::showWelcome>(false);
    publish<Field::showScreenPermissionHelp>(false);
    publish<Field::showShortcuts>(false);
    publish<Field::showHomeNetworkSheet>(false);
}

void CameraModel::markWelcomed() {
    // Not saved: the welcome shows again at the next start, and settings_
    // tells the user once.
    settings_.set(settings_key::welcomed, true);
}

void CameraModel::afterClosingSheets() {
    // One quit: a second request (a repeated Ctrl+Q, SIGTERM during the
    // shutdown) would otherwise run the shutdown twice. Once the shutdown
    // waits for what is being saved, the window says again that it does:
    // ending now would lose it.
    if (shutdown_.quitRequested) {
        if (isTerminating() && !shutdown_.askedAgain) {
            shutdown_.askedAgain = true;
            hollowkit::PocketLog::log("Quit asked for again; still saving what was recorded before quitting");
            refreshQuitProgress();
        }
        return;
    }
    shutdown_.quitRequested = true;
    dismissSheets();
    const bool hadSheet = services_.shell.endAttachedSheets();
    // Always from a later turn, so whatever called this finishes first; after
    // the sheets' own closing when there were any.
    main_.after(hadSheet ? kSheetCloseDelay : hollowkit::Duration::zero(), [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->services_.shell.requestTermination();
    });
}

void CameraModel::quitAndReopen() {
    shutdown_.relaunchOnQuit = true;
    afterClosingSheets();
}

void CameraModel::handleTerminationRequest() {
    if (shutdown_.phase != ShutdownPhase::none) return;
    shutdown_.quitRequested = true;  // quit requests from now on are ignored
    shutdown_.phase = ShutdownPhase::finishingRecording;
    stopTimers();
    // Photos and thumbnails waiting for a frame wait no longer than the
    // frame wait from here on: the camera keeps running until they are done.
    boundFrameWaits();
    // Nothing may start a camera from here on: neither a route switch under
    // way (its new camera) nor a wireless retry.
    cancelPendingRetry();
    cancelPendingResolution();
    if (route_.pendingSwitch) {
        main_.cancel(route_.pendingSwitch->watchdog);
        route_.pendingSwitch.reset();
    }

    shutdown_.timer = main_.after(kRecordingFinishLimit, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->recordingFinishedForTermination(false);
    });
    auto finished = [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->recordingFinishedForTermination(true);
    };
    if (shutdown_.recordingFinish) {
        shutdown_.recordingFinish(std::move(finished));
    } else {
        finishRecordingForTermination(std::move(finished));
    }
    refreshQuitProgress();
}

void CameraModel::recordingFinishedForTermination(bool finished) {
    // A finish after the bound, or a second report, finds the shutdown on.
    if (shutdown_.phase != ShutdownPhase::finishingRecording) return;
    main_.cancel(shutdown_.timer);
    if (!finished) {
        // A take still finishing, or composed, is named with what of it is
        // whole and how to make its combined movie, not as a recording.
        const bool recording = takes_.session || !recording_.finishingMovies.empty();
        if (recording || (!state_.composeProgress && finishingTakes_.empty())) {
            // A movie still being completed is not lost: the model's end
            // completes it. The log names it, with where it is.
            const auto bound = std::chrono::duration_cast<std::chrono::seconds>(kRecordingFinishLimit);
            std::string line = "The recording was not finished within " + std::to_string(bound.count()) + " s";
            for (const auto& movie : recording_.finishingMovies) {
                line += "; " + movie->outputURL().string() + " is completed as the program ends, keeping what reached "
                        "the disk";
            }
            if (recording_.finishingMovies.empty()) line += "; quitting without it";
            hollowkit::PocketLog::log(line);
        }
        leaveFinishingTakes();
        stopCompositionForQuit();
    }
    shutdown_.phase = ShutdownPhase::finishingPhotos;
    refreshQuitProgress();
    finishPhotosForTermination([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->photosFinishedForTermination();
    });
}

void CameraModel::photosFinishedForTermination() {
    if (shutdown_.phase != ShutdownPhase::finishingPhotos) return;
    shutdown_.phase = ShutdownPhase::stoppingCamera;
    refreshQuitProgress();
    shutdown_.timer = main_.after(kTerminationFallback, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->cameraStoppedForTermination(false);
    });
    stopCamera([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->cameraStoppedForTermination(true);
    });
}

void CameraModel::cameraStoppedForTermination(bool stopped) {
    if (shutdown_.phase != ShutdownPhase::stoppingCamera) return;
    main_.cancel(shutdown_.timer);
    shutdown_.timer = 0;
    if (!stopped) {
        hollowkit::PocketLog::logf("The camera did not stop within %.0f s; quitting anyway",
                                   std::chrono::duration<double>(kTerminationFallback).count());
    }
    shutdown_.phase = ShutdownPhase::replied;
    services_.shell.replyToTermination(shutdown_.relaunchOnQuit);
}

void CameraModel::refreshQuitProgress() {
    if (!isTerminating()) return;
    QuitProgress progress;
    progress.askedAgain = shutdown_.askedAgain;
    // What records is waited for only until the recording's bound; the
    // photos are waited for until theirs.
    const bool recording = shutdown_.phase == ShutdownPhase::finishingRecording;
    if (recording) {
        progress.movies = static_cast<int>(recording_.finishingMovies.size()) + (recording_.recorder ? 1 : 0);
        progress.takes = static_cast<int>(finishingTakes_.size()) + (takes_.session ? 1 : 0);
        progress.composing = state_.composeProgress.has_value() && progress.takes == 0;
    }
    if (recording || shutdown_.phase == ShutdownPhase::finishingPhotos) {
        progress.photos = static_cast<int>(unfinishedPhotos());
    }
    if (state_.quitProgress != progress) publish<Field::quitProgress>(progress);
}

void CameraModel::finishPhotosForTermination(std::function<void()> finished) {
    const size_t unfinished = unfinishedPhotos();
    if (unfinished == 0) {
        if (finished) finished();
        return;
    }
    const hollowkit::Duration limit = photoFinishLimit(unfinished);
    const double seconds = std::chrono::duration<double>(limit).count();
    hollowkit::PocketLog::logf("Waiting for %zu photos to be saved (at most %.0f s)", unfinished, seconds);
    // Whichever comes first, the last photo or the bound, runs `finished`.
    auto once = std::make_shared<std::function<void()>>(std::move(finished));
    const hollowkit::TaskId bound = main_.after(limit, [weak = weak_from_this(), once, seconds] {
        if (auto self = weak.lock()) {
            hollowkit::PocketLog::logf("%zu photos were not saved within %.0f s; going on without them",
                                       self->unfinishedPhotos(), seconds);
        }
        if (auto run = std::exchange(*once, nullptr)) run();
    });
    photos_.doneWaiters.push_back([main = &main_, once, bound] {
        main->cancel(bound);
        if (auto run = std::exchange(*once, nullptr)) run();
    });
}

void CameraModel::openOutputFolder() {
    // A folder that cannot be made shows nothing; there is nothing to report.
    std::error_code error;
    std::filesystem::create_directories(outputFolder_, error);
    services_.desktop.openFolder(outputFolder_);
}

}  // namespace lumenhollow
