#include "hollowkit/recording/screen_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/movie_temporaries.h"
#include "hollowkit/recording/sound_lead_in.h"

namespace hollowkit {
namespace {

constexpr double kMaxOutputWidth = 3840;
constexpr double kMaxOutputHeight = 2400;
constexpr double kMaxVideoBitRate = 60'000'000;

MovieWriterFactory defaultWriterFactory() {
    // Live capture: a writer that falls behind refuses frames, which are
    // then dropped, rather than queueing them.
    FfmpegMovieWriterOptions options;
    options.realTime = true;
    return ffmpegMovieWriterFactory(options);
}

// The first `frames` frames of `chunk`, copied.
AudioChunk firstFrames(const AudioChunk& chunk, size_t frames) {
    const size_t samples = frames * static_cast<size_t>(chunk.channels());
    if (chunk.sampleFormat() == SampleFormat::s16) {
        return AudioChunk::copyS16(chunk.s16().first(samples), chunk.sampleRate(), chunk.channels(), chunk.pts());
    }
    return AudioChunk::copyF32(chunk.f32().first(samples), chunk.sampleRate(), chunk.channels(), chunk.pts());
}

}  // namespace

std::string ScreenRecorder::ScreenError::userMessage() const {
    switch (kind) {
    case Kind::writerFailed:
        return "Screen recording failed: " + detail;
    case Kind::permissionDenied:
        // The macOS sentence points at System Settings; on Linux what stands
        // in the way is a session without an X display.
        return "Lumenhollow is not allowed to record the screen yet. Screen recording needs an X11 "
               "session: log in with an Xorg session, then quit and reopen Lumenhollow.";
    case Kind::displayNotFound:
        return "That display is no longer connected";
    case Kind::noFrames:
        return "No screen frames were recorded";
    case Kind::captureFailed:
        return detail;
    case Kind::none:
        break;
    }
    return {};
}

ScreenRecorder::ScreenRecorder(const std::filesystem::path& outputURL, VideoCodec codec, bool includeSystemAudio,
                               Executor& main, DisplayService& displays, ScreenCaptureBackend& capture,
                               MovieWriterFactory writerFactory)
    : ScreenRecorder(FileInFolder::hold(outputURL), codec, includeSystemAudio, main, displays, capture,
                     std::move(writerFactory)) {}

ScreenRecorder::ScreenRecorder(FileInFolder output, VideoCodec codec, bool includeSystemAudio, Executor& main,
                               DisplayService& displays, ScreenCaptureBackend& capture,
                               MovieWriterFactory writerFactory)
    : output_(std::move(output)),
      outputURL_(output_.path()),
      codec_(codec),
      includeSystemAudio_(includeSystemAudio),
      main_(main),
      displayService_(displays),
      captureBackend_(capture),
      writerFactory_(writerFactory ? std::move(writerFactory) : defaultWriterFactory()),
      queue_(std::string(kScreenRecorderQueue.label)) {}

ScreenRecorder::~ScreenRecorder() {
    // The capture's handlers post to the queue; they must be gone before it.
    takeCapture().reset();
    // A stop asked for is completed, not dropped with the queue: its first
    // step, queued before this, queues the finish, and the wait below comes
    // after that. The owner letting go right after its stop wants the movie
    // whole, and its outcome posted while the main executor is still there.
    if (stopRequested()) queue_.sync([] {});
    // So may the writer's failure handler: the writer goes while the queue exists.
    if (!queue_.sync([this] { writer_.reset(); })) writer_.reset();
}

void ScreenRecorder::setOnFirstFrame(FirstFrameHandler handler) {
    MutexLock lock(mutex_);
    onFirstFrame_ = std::move(handler);
}

void ScreenRecorder::setOnStopped(StoppedHandler handler) {
    MutexLock lock(mutex_);
    onStopped_ = std::move(handler);
}

void ScreenRecorder::setOnFailure(FailureHandler handler) {
    MutexLock lock(mutex_);
    onFailure_ = std::move(handler);
}

bool ScreenRecorder::stopRequested() const {
    MutexLock lock(mutex_);
    return stopRequested_;
}

std::unique_ptr<ScreenCapture> ScreenRecorder::takeCapture() {
    MutexLock lock(mutex_);
    return std::move(capture_);
}

void ScreenRecorder::start(std::optional<uint32_t> displayID, StartCompletion completion) {
    queue_.post([this, displayID, completion = std::move(completion)]() mutable {
        handleStart(displayID, std::move(completion));
    });
}

void ScreenRecorder::handleStart(std::optional<uint32_t> displayID, StartCompletion completion) {
    Result<void, ScreenError> result = startOnQueue(displayID);
    if (completion) {
        main_.post([completion = std::move(completion), result = std::move(result)]() mutable {
            completion(std::move(result));
        });
    }
}

Result<void, ScreenRecorder::ScreenError> ScreenRecorder::startOnQueue(std::optional<uint32_t> displayID) {
    if (stopRequested()) return {};

    auto content = displayService_.displays();
    if (!content) {
        PocketLog::logf("Screen content unavailable: %s", content.error().c_str());
        return unexpected(ScreenError::permissionDenied());
    }
    const std::vector<DisplayInfo>& list = content.value();
    if (list.empty()) return unexpected(ScreenError::displayNotFound());
    std::optional<DisplayInfo> chosen;
    const std::optional<DisplayInfo> main = mainDisplay(list);
    const uint32_t target = displayID ? *displayID : main->id;
    for (const auto& display : list) {
        if (display.id == target) {
            chosen = display;
            break;
        }
    }
    // A display that went away is not an error: the first one is recorded.
    if (!chosen) chosen = list.front();

    const ScreenOutputSize size = outputSize(chosen->width, chosen->height);
    if (size.width < 2 || size.height < 2) {
        return unexpected(ScreenError::captureFailed("The display has no usable size"));
    }
    if (stopRequested()) return {};

    if (auto made = makeWriter(size.width, size.height); !made) return made;
    if (stopRequested()) return {};

    ScreenCaptureRequest request;
    request.display = *chosen;
    request.outputWidth = size.width;
    request.outputHeight = size.height;
    request.minimumFrameInterval = std::chrono::nanoseconds(1'000'000'000 / kFrameRate);
    request.showsCursor = true;
    request.queueDepth = kQueueDepth;
    request.capturesAudio = includeSystemAudio_;
    request.excludesCurrentProcessAudio = true;
    request.sampleRate = kAudioSampleRate;
    request.channelCount = kAudioChannels;

    ScreenCaptureHandlers handlers;
    handlers.onFrame = [this](VideoFrame frame, ScreenFrameStatus status) {
        frameArrived(std::move(frame), status);
    };
    if (includeSystemAudio_) {
        handlers.onAudio = [this](AudioChunk chunk) { audioArrived(std::move(chunk)); };
    }
    handlers.onStopped = [this](std::string reason) { captureStopped(reason); };

    auto started = captureBackend_.start(request, std::move(handlers));
    if (!started) return unexpected(ScreenError::captureFailed(started.error()));

    std::unique_ptr<ScreenCapture> stale;
    {
        MutexLock lock(mutex_);
        if (stopRequested_) {
            // The stop came while the capture was starting: it ends here, so
            // nothing of this recording keeps running.
            stale = std::move(started.value());
        } else {
            capture_ = std::move(started.value());
        }
    }
    if (stale) {
        stale.reset();
        return {};
    }
    PocketLog::logf("Screen recording %dx%d on display %u", size.width, size.height, chosen->id);
    return {};
}

Result<void, ScreenRecorder::ScreenError> ScreenRecorder::makeWriter(int width, int height) {
    // The empty file reserves the name; an existing file is never replaced.
    if (!output_.folder.valid()) return unexpected(ScreenError::writerFailed(output_.folder.error().message()));
    auto reserved = MovieTemporaries::reserveName(output_);
    if (!reserved) return unexpected(ScreenError::writerFailed(std::strerror(reserved.error())));
    reservation_ = std::move(reserved.value());
    reservedFile_ = true;

    std::unique_ptr<MovieWriter> writer = writerFactory_(output_);
    if (!writer) {
        discardFile();
        return unexpected(ScreenError::writerFailed("the movie writer could not be made"));
    }
    MovieWriterSettings settings;
    settings.codec = codec_;
    settings.width = width;
    settings.height = height;
    settings.videoBitRate = videoBitRate(codec_, width, height);
    settings.expectedFrameRate = kFrameRate;
    settings.allowFrameReordering = false;
    if (includeSystemAudio_) {
        settings.audio = MovieAudioSettings{kAudioSampleRate, kAudioChannels, kAudioBitRate};
    }
    writerSettings_ = settings;
    // The writer's thread only hands the failure over; the queue ends the movie.
    writer->setOnFailure([this](const std::string& error) {
        queue_.post([this, error] { handleWriterFailure(error); });
    });
    writer_ = std::move(writer);
    return {};
}

void ScreenRecorder::frameArrived(VideoFrame frame, ScreenFrameStatus status) {
    if (status == ScreenFrameStatus::complete) framesCaptured_.fetch_add(1);
    // Like a capture stream's queue depth: a queue that cannot keep up drops
    // frames instead of collecting them.
    if (queuedFrames_.fetch_add(1) >= kQueueDepth) {
        queuedFrames_.fetch_sub(1);
        if (status == ScreenFrameStatus::complete) framesDroppedQueue_.fetch_add(1);
        return;
    }
    queue_.post([this, frame = std::move(frame), status]() mutable {
        queuedFrames_.fetch_sub(1);
        handleFrame(std::move(frame), status);
    });
}

void ScreenRecorder::audioArrived(AudioChunk chunk) {
    {
        MutexLock lock(mutex_);
        const TimePoint end = chunk.pts() + chunk.duration();
        if (!soundEnd_ || end > *soundEnd_) soundEnd_ = end;
    }
    soundArrived_.notify_all();
    if (queuedAudio_.fetch_add(1) >= kMaxQueuedAudioChunks) {
        queuedAudio_.fetch_sub(1);
        return;
    }
    queue_.post([this, chunk = std::move(chunk)]() mutable {
        queuedAudio_.fetch_sub(1);
        handleAudio(std::move(chunk));
    });
}

void ScreenRecorder::captureStopped(const std::string& reason) {
    PocketLog::logf("Screen capture stopped: %s", reason.c_str());
    StoppedHandler handler;
    {
        MutexLock lock(mutex_);
        handler = onStopped_;
    }
    if (handler) {
        main_.post([handler = std::move(handler), reason] { handler(reason); });
    }
}

void ScreenRecorder::handleFrame(VideoFrame frame, ScreenFrameStatus status) {
    if (finishing_ || frame.isNull() || !writer_) return;
    // Idle, blank and paused pictures carry nothing new.
    if (status != ScreenFrameStatus::complete) return;
    const TimePoint t = frame.pts();
    {
        MutexLock lock(mutex_);
        // A frame taken after the user stopped is not part of the recording.
        if (stopTime_ && t > *stopTime_) return;
    }

    if (!sessionStart_) {
        // A writer that failed to start is not asked again; stop reports it.
        if (!writerStartError_.empty()) return;
        auto started = writer_->start(writerSettings_, t);
        if (!started) {
            writerStartError_ = started.error().empty() ? "unknown" : started.error();
            PocketLog::logf("Screen writer could not start: %s", writerStartError_.c_str());
            return;
        }
        sessionStart_ = t;
        FirstFrameHandler handler;
        {
            MutexLock lock(mutex_);
            handler = onFirstFrame_;
        }
        if (handler) main_.post([handler = std::move(handler), t] { handler(t); });
        for (const AudioChunk& chunk : heldAudio_.take()) appendAudio(chunk);
    }

    if (!writer_->readyForVideo()) {
        ++framesDroppedWriter_;
        return;
    }
    // Only strictly increasing times make a valid track.
    if (lastVideoTime_ && t <= *lastVideoTime_) return;
    if (writer_->appendVideo(frame)) {
        lastVideoTime_ = t;
        ++framesWritten_;
    } else {
        ++framesDroppedWriter_;
    }
}

void ScreenRecorder::handleAudio(AudioChunk chunk) {
    if (finishing_ || chunk.isNull() || !writer_) return;
    if (!sessionStart_) {
        // The first frame may be on its way still, while this sound was
        // recorded after it was taken.
        if (!writerStartError_.empty()) return;
        heldAudio_.hold(std::move(chunk));
        return;
    }
    appendAudio(chunk);
}

// No sound before the movie's first frame: a chunk that ends by then is
// dropped, and the writer cuts off the part of one that straddles it. No
// sound after the stop time either: the writer learns the movie's end only
// when it finishes, after it has encoded what it was given.
void ScreenRecorder::appendAudio(const AudioChunk& chunk) {
    if (chunk.pts() + chunk.duration() <= *sessionStart_) return;
    std::optional<TimePoint> stopTime;
    {
        MutexLock lock(mutex_);
        stopTime = stopTime_;
    }
    AudioChunk kept = chunk;
    if (stopTime && kept.pts() + kept.duration() > *stopTime) {
        if (kept.pts() >= *stopTime) return;
        const double seconds = std::chrono::duration<double>(*stopTime - kept.pts()).count();
        const auto frames = static_cast<size_t>(std::llround(seconds * kept.sampleRate()));
        if (frames == 0) return;
        kept = firstFrames(kept, std::min(frames, kept.frameCount()));
    }
    if (kept.isNull() || !writer_->readyForAudio()) return;
    // Sound that starts after the first frame (a sound server that began
    // late, a first fragment lost on a busy machine) is led in with silence
    // from that frame, so the two tracks start together.
    if (!soundStarted_) {
        const AudioChunk silence = silenceBefore(kept, *sessionStart_);
        if (silence && writer_->appendAudio(silence)) soundStarted_ = true;
    }
    if (writer_->appendAudio(kept)) soundStarted_ = true;
}

void ScreenRecorder::stop(std::optional<TimePoint> stopTime, StopCompletion completion) {
    std::unique_ptr<ScreenCapture> capture;
    {
        MutexLock lock(mutex_);
        stopRequested_ = true;
        if (stopTime) stopTime_ = stopTime;
        capture = std::move(capture_);
    }
    // Stopping joins the capture thread, which the main executor must not
    // wait for; the queue does it, then finishes. A capture that a start
    // still running on the queue makes later is stopped by that start.
    queue_.post([this, capture = std::shared_ptr<ScreenCapture>(std::move(capture)), stopTime,
                 completion = std::move(completion)]() mutable {
        if (capture && stopTime) waitForSoundUntil(*stopTime);
        capture.reset();
        takeCapture().reset();
        // Everything the capture delivered is queued by now, ahead of this.
        queue_.post([this, stopTime, completion = std::move(completion)]() mutable {
            handleStop(stopTime, std::move(completion));
        });
    });
}

// The sound server delivers sound a fragment after it was recorded; ending
// the capture at once would cut off the last of it. Sound that stopped
// flowing (or never flowed) is not waited for beyond the bound.
void ScreenRecorder::waitForSoundUntil(TimePoint stopTime) {
    if (!includeSystemAudio_) return;
    MutexLock lock(mutex_);
    if (!soundEnd_) return;
    lock.waitFor(soundArrived_, kSoundTailWait, [&]() HK_REQUIRES(mutex_) { return *soundEnd_ >= stopTime; });
}

void ScreenRecorder::handleStop(std::optional<TimePoint> stopTime, StopCompletion completion) {
    Result<std::filesystem::path, ScreenError> result = finish(stopTime);
    if (completion) {
        main_.post([completion = std::move(completion), result = std::move(result)]() mutable {
            completion(std::move(result));
        });
    }
}

Result<std::filesystem::path, ScreenRecorder::ScreenError> ScreenRecorder::finish(
    std::optional<TimePoint> stopTime) {
    finishing_ = true;
    heldAudio_.clear();
    // A second stop hears what the first one did.
    if (outcome_) return *outcome_;

    Result<std::filesystem::path, ScreenError> result = unexpected(ScreenError::noFrames());
    if (writerFailure_) {
        // Completed when it failed; what it holds is kept.
        result = unexpected(ScreenError::writerFailed(*writerFailure_));
    } else if (!writer_) {
        discardFile();
    } else if (!sessionStart_) {
        // The movie never began: the file holds nothing of the user's.
        writer_.reset();
        discardFile();
        if (!writerStartError_.empty()) result = unexpected(ScreenError::writerFailed(writerStartError_));
    } else if (!writer_->isWriting()) {
        // The writer failed while writing. What it wrote is completed as far
        // as it goes and kept: a long recording is not thrown away whole.
        std::string text = writer_->errorText();
        (void)writer_->finish(lastVideoTime_);
        writer_.reset();
        if (text.empty()) text = "unknown";
        PocketLog::logf("Screen recording ended: %s", text.c_str());
        result = unexpected(ScreenError::writerFailed(text));
    } else {
        std::optional<TimePoint> end = lastVideoTime_;
        if (stopTime && lastVideoTime_ && *stopTime > *lastVideoTime_) end = stopTime;
        auto finished = writer_->finish(end);
        std::string text = finished ? std::string() : finished.error();
        writer_.reset();
        if (finished) {
            result = output_.currentPath();  // its folder may have been moved meanwhile
        } else {
            // A failure seen only at the stop (the movie removed just before
            // it) is logged as one seen while recording is.
            if (text.empty()) text = "unknown";
            PocketLog::logf("Screen recording ended: %s", text.c_str());
            result = unexpected(ScreenError::writerFailed(text));
        }
    }
    outcome_ = result;
    reservation_.reset();
    return result;
}

// A full disk is heard as it happens, not at the user's stop: the movie
// ends now, so the recording cannot run on for minutes writing nothing.
void ScreenRecorder::handleWriterFailure(const std::string& error) {
    if (finishing_ || writerFailure_ || !writer_) return;
    writerFailure_ = error.empty() ? "unknown" : error;
    heldAudio_.clear();
    PocketLog::logf("Screen recording ended: %s", writerFailure_->c_str());
    // Completing the file makes what was written playable; its own error is
    // the one already known.
    (void)writer_->finish(lastVideoTime_);
    writer_.reset();
    FailureHandler handler;
    {
        MutexLock lock(mutex_);
        if (!stopRequested_) handler = onFailure_;
    }
    if (handler) {
        main_.post([handler = std::move(handler), failure = ScreenError::writerFailed(*writerFailure_)] {
            handler(failure);
        });
    }
}

void ScreenRecorder::discardFile() {
    if (!reservedFile_) return;
    reservedFile_ = false;
    ::unlinkat(output_.folder.fd(), output_.name.c_str(), 0);
}

ScreenRecorderStats ScreenRecorder::stats() const {
    ScreenRecorderStats copy;
    queue_.sync([&] {
        copy.framesWritten = framesWritten_;
        copy.framesDroppedWriter = framesDroppedWriter_;
    });
    copy.framesCaptured = framesCaptured_.load();
    copy.framesDroppedQueue = framesDroppedQueue_.load();
    return copy;
}

std::map<uint32_t, std::string> ScreenRecorder::screenNames(DisplayService& service) {
    return service.screenNames();
}

Result<std::vector<ScreenDisplay>, std::string> ScreenRecorder::displays(DisplayService& service) {
    auto content = service.displays();
    if (!content) return unexpected(content.error());
    const std::map<uint32_t, std::string> names = screenNames(service);
    std::vector<ScreenDisplay> list;
    list.reserve(content.value().size());
    for (const DisplayInfo& info : content.value()) {
        ScreenDisplay display;
        display.id = info.id;
        // X11 sizes are pixels already: the list shows the size recorded.
        display.pixelSize = PixelSize{static_cast<double>(info.width), static_cast<double>(info.height)};
        if (auto named = names.find(info.id); named != names.end()) {
            display.name = named->second;
        } else if (info.builtIn) {
            display.name = "Built-in Display";
        } else {
            display.name = "Display " + std::to_string(info.id);
        }
        list.push_back(std::move(display));
    }
    return list;
}

ScreenOutputSize ScreenRecorder::outputSize(double width, double height) {
    if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height)) return {};
    const double scale = std::min({1.0, kMaxOutputWidth / width, kMaxOutputHeight / height});
    // std::round: halves away from zero (1365 x 767 gives 1366 x 768).
    return ScreenOutputSize{static_cast<int>(2 * std::round(width * scale / 2)),
                            static_cast<int>(2 * std::round(height * scale / 2))};
}

int64_t ScreenRecorder::videoBitRate(VideoCodec codec, int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    const double k = codec == VideoCodec::hevc ? 0.05 : 0.09;
    const double rate = static_cast<double>(static_cast<int64_t>(width) * height) * 30 * k;
    return static_cast<int64_t>(std::trunc(std::min(rate, kMaxVideoBitRate)));
}

}  // namespace hollowkit
