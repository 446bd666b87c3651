#include "hollowkit/recording/movie_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/movie_temporaries.h"
#include "hollowkit/recording/sound_lead_in.h"

namespace hollowkit {
namespace {

// The audio bit rate of every camera movie.
constexpr int64_t kAudioBitRate = 192000;
constexpr int kExpectedFrameRate = 30;

double seconds(Duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// A movie that never started, or never held a picture, leaves at most the
// empty file its name was reserved with (the writer keeps no movie without
// a picture); that holds nobody's data and would only confuse the user.
bool removeIfEmpty(const FileInFolder& file) {
    struct stat info{};
    return ::fstatat(file.folder.fd(), file.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
           info.st_size == 0 && ::unlinkat(file.folder.fd(), file.name.c_str(), 0) == 0;
}

}  // namespace

std::string RecorderError::userMessage() const {
    switch (kind) {
    case Kind::writerFailed:
        return "Recording failed: " + detail;
    case Kind::noVideo:
        return "No video frames were recorded";
    case Kind::none:
        break;
    }
    return {};
}

MovieRecorder::MovieRecorder(const std::filesystem::path& outputURL, VideoCodec codec,
                             std::optional<TimePoint> sessionStart, bool expectsAudio, Executor& main,
                             const Clock& clock, MovieWriterFactory writerFactory)
    : MovieRecorder(FileInFolder::hold(outputURL), codec, sessionStart, expectsAudio, main, clock,
                    std::move(writerFactory)) {}

MovieRecorder::MovieRecorder(FileInFolder output, VideoCodec codec, std::optional<TimePoint> sessionStart,
                             bool expectsAudio, Executor& main, const Clock& clock, MovieWriterFactory writerFactory)
    : output_(std::move(output)),
      outputURL_(output_.path()),
      reservation_(MovieTemporaries::holdReservation(output_)),
      codec_(codec),
      main_(main),
      clock_(clock),
      writerFactory_(writerFactory ? std::move(writerFactory) : ffmpegMovieWriterFactory()),
      sessionStart_(sessionStart),
      expectsAudio_(expectsAudio),
      queue_(std::string(kMovieRecorderQueue.label)) {}

MovieRecorder::~MovieRecorder() {
    // A finish asked for is completed now, without waiting out the sound's
    // catch-up: the owner letting go of a finishing recorder wants the file
    // whole, and the completion is posted while the executor is still there
    // (the owner outlives neither). Work queued before it runs first.
    if (finishRequested_.load()) queue_.sync([this] { completeFinish(); });
    // Nothing may run on the queue once the writer is gone: a catch-up
    // deadline would finish a writer that no longer exists, a late frame
    // would make a new one. So the queue stops first (dropping what waits
    // on it), then the writer goes; a failure it reports on its way out
    // finds the queue stopped and is dropped.
    queue_.stop();
    writer_.reset();
}

void MovieRecorder::appendVideo(VideoFrame frame) {
    if (frame.isNull() || finishRequested_.load()) return;
    // A queue that cannot keep up (it is finishing the file, or the machine
    // is overloaded) must not collect frames without bound.
    if (queuedVideo_.fetch_add(1) >= kMaxQueuedVideoFrames) {
        queuedVideo_.fetch_sub(1);
        droppedAtQueue_.fetch_add(1);
        const int64_t time =
            std::chrono::duration_cast<std::chrono::nanoseconds>(frame.pts().time_since_epoch()).count();
        int64_t latest = latestDroppedAtQueue_.load();
        while (time > latest && !latestDroppedAtQueue_.compare_exchange_weak(latest, time)) {
        }
        return;
    }
    queue_.post([this, frame = std::move(frame)]() mutable {
        queuedVideo_.fetch_sub(1);
        handleVideo(std::move(frame));
    });
}

void MovieRecorder::appendAudio(AudioChunk chunk) {
    if (chunk.isNull() || soundClosed_.load()) return;
    if (queuedAudio_.fetch_add(1) >= kMaxQueuedAudioChunks) {
        queuedAudio_.fetch_sub(1);
        return;
    }
    queue_.post([this, chunk = std::move(chunk)]() mutable {
        queuedAudio_.fetch_sub(1);
        handleAudio(std::move(chunk));
    });
}

void MovieRecorder::finish(std::optional<TimePoint> endTime, Completion completion) {
    finishRequested_.store(true);
    queue_.post([this, endTime, completion = std::move(completion)]() mutable {
        handleFinish(endTime, std::move(completion));
    });
}

void MovieRecorder::noAudioExpected() {
    queue_.post([this] { expectsAudio_ = false; });
}

std::vector<FrameSizeChange> MovieRecorder::sizeChanges() const {
    std::vector<FrameSizeChange> copy;
    queue_.sync([&] { copy = sizeChanges_; });
    return copy;
}

bool MovieRecorder::hasMixedOrientation() const {
    const auto changes = sizeChanges();
    return hollowkit::hasMixedOrientation(changes);
}

MovieRecorderStats MovieRecorder::stats() const {
    MovieRecorderStats copy;
    queue_.sync([&] { copy = stats_; });
    const uint64_t droppedAtQueue = droppedAtQueue_.load();
    copy.videoDroppedBusy += droppedAtQueue;
    copy.videoDroppedQueueFull = droppedAtQueue;
    copy.videoOffered += droppedAtQueue;
    return copy;
}

std::optional<TimePoint> MovieRecorder::retime(TimePoint pts) {
    if (!sessionStart_) return pts;
    if (!clockOffset_) {
        // Fixed once, by the first sample, for video and sound alike: a
        // camera whose clock runs apart from the host's is moved onto it.
        Duration offset = clock_.now() - pts;
        if (offset <= kClockOffsetThreshold && offset >= -kClockOffsetThreshold) {
            offset = Duration::zero();
        }
        clockOffset_ = offset;
    }
    return pts + *clockOffset_;
}

void MovieRecorder::handleVideo(VideoFrame frame) {
    ++stats_.videoOffered;
    if (finishing_ || failure_) return;
    const auto pts = retime(frame.pts());
    if (!pts) return;
    if (*pts != frame.pts()) frame = frame.withPts(*pts);
    if (sessionStart_ && *pts < *sessionStart_) return;

    if (!writer_) {
        const TimePoint now = clock_.now();
        if (!firstVideoArrival_) firstVideoArrival_ = now;
        // Give the first sound up to a second to arrive, so the movie can
        // have a sound track at all.
        if (expectsAudio_ && !audioFormat_ && now - *firstVideoArrival_ < kAudioWait) return;
        setUpWriter(frame);
        if (!writer_) return;
        pictureStart_ = *pts;
        appendHeldAudio();
    }

    // One repeated or backward time would fail the whole movie in the
    // muxer; the frame is dropped instead.
    if (lastVideoTime_ && *pts <= *lastVideoTime_) {
        if (!loggedOutOfOrder_) {
            loggedOutOfOrder_ = true;
            PocketLog::logf("Recorder dropped a frame %.3fs not later than the one before",
                            seconds(*lastVideoTime_ - *pts));
        }
        return;
    }
    noteOffered(*pts);
    noteFrameSize(frame);
    if (!writer_->readyForVideo()) {
        ++stats_.videoDroppedBusy;
        return;
    }
    if (writer_->appendVideo(frame)) {
        lastVideoTime_ = *pts;
        ++stats_.videoWritten;
    } else {
        ++stats_.videoDroppedBusy;
    }
}

void MovieRecorder::setUpWriter(const VideoFrame& frame) {
    const int width = frame.width();
    const int height = frame.height();
    std::unique_ptr<MovieWriter> writer = writerFactory_(output_);
    if (!writer) {
        setupError_ = "no movie writer";
        logSetupFailure("Recorder setup failed: " + setupError_);
        return;
    }
    // The writer's thread only hands the failure over; the queue ends the movie.
    writer->setOnFailure([this](const std::string& error) {
        queue_.post([this, error] { handleWriterFailure(error); });
    });
    MovieWriterSettings settings;
    settings.codec = codec_;
    settings.width = width;
    settings.height = height;
    settings.videoBitRate = bitRate(codec_, width, height);
    settings.expectedFrameRate = kExpectedFrameRate;
    if (audioFormat_) {
        settings.audio = MovieAudioSettings{audioFormat_->sampleRate,
                                            std::min(audioFormat_->channels, 2), kAudioBitRate};
    }
    const TimePoint start = sessionStart_.value_or(frame.pts());
    if (auto started = writer->start(settings, start); !started) {
        setupError_ = started.error();
        logSetupFailure("Recorder could not start: " + setupError_);
        return;
    }
    setupError_.clear();
    writerStart_ = start;
    hasAudioTrack_ = settings.audio.has_value();
    writer_ = std::move(writer);
    PocketLog::logf("Recording %dx%d %s %s to %s", width, height, std::string(toString(codec_)).c_str(),
                    hasAudioTrack_ ? "with audio" : "without audio",
                    outputURL_.filename().string().c_str());
}

// Each frame retries a failed setup; the same reason is logged once.
void MovieRecorder::logSetupFailure(const std::string& line) {
    if (line == loggedSetupLine_) return;
    loggedSetupLine_ = line;
    PocketLog::log(line);
}

void MovieRecorder::noteFrameSize(const VideoFrame& frame) {
    const int width = frame.width();
    const int height = frame.height();
    if (sizeChanges_.empty()) {
        sizeChanges_.push_back(FrameSizeChange{0, width, height});
        return;
    }
    const FrameSizeChange& last = sizeChanges_.back();
    if (last.width == width && last.height == height) return;
    const double time = std::max(0.0, seconds(frame.pts() - writerStart_));
    sizeChanges_.push_back(FrameSizeChange{time, width, height});
    PocketLog::logf("Camera frames changed to %dx%d at %.1fs", width, height, time);
}

void MovieRecorder::handleAudio(AudioChunk chunk) {
    if (failure_ || (finishing_ && !pendingFinish_)) return;
    const auto pts = retime(chunk.pts());
    if (!pts) return;
    if (*pts != chunk.pts()) chunk = chunk.withPts(*pts);
    if (!audioFormat_) audioFormat_ = AudioFormat{chunk.sampleRate(), chunk.channels()};
    if (!writer_) {
        heldAudio_.hold(std::move(chunk));
        return;
    }
    if (hasAudioTrack_ && writer_->isWriting() && writer_->readyForAudio()) writeSound(chunk);
    if (pendingFinish_ && soundReachedEnd()) completeFinish();
}

bool MovieRecorder::writeSound(const AudioChunk& chunk) {
    if (!soundEnd_ && pictureStart_) {
        const AudioChunk silence = silenceBefore(chunk, *pictureStart_);
        if (silence && writer_->appendAudio(silence)) noteSoundEnd(silence);
    }
    if (!writer_->appendAudio(chunk)) return false;
    noteSoundEnd(chunk);
    return true;
}

void MovieRecorder::noteSoundEnd(const AudioChunk& chunk) {
    const TimePoint end = chunk.pts() + chunk.duration();
    if (!soundEnd_ || end > *soundEnd_) soundEnd_ = end;
}

void MovieRecorder::noteOffered(TimePoint pts) {
    if (lastOfferedTime_ && pts <= *lastOfferedTime_) return;
    if (lastOfferedTime_) lastOfferedInterval_ = pts - *lastOfferedTime_;
    lastOfferedTime_ = pts;
}

// Where the movie ends: the end the finish asked for when that is after the
// last frame written, else the end of the last frame offered (one interval
// of the frames offered after it, as the writer shows a frame), whether or
// not the writer took it: a writer that fell behind at the end shortens
// neither track, and the frames it missed do not stretch the last one.
std::optional<TimePoint> MovieRecorder::movieEnd(std::optional<TimePoint> endTime) const {
    if (!lastVideoTime_) return std::nullopt;
    if (endTime && *endTime > *lastVideoTime_) return endTime;
    // Every frame written was offered, so the last offered is at least as late.
    const Duration framePeriod = std::chrono::nanoseconds(1'000'000'000 / kExpectedFrameRate);
    return std::max(*lastVideoTime_, lastOfferedTime_.value_or(*lastVideoTime_)) +
           lastOfferedInterval_.value_or(framePeriod);
}

bool MovieRecorder::soundReachedEnd() const {
    const std::optional<TimePoint> end = movieEnd(pendingFinish_ ? pendingFinish_->endTime : std::nullopt);
    return !end || (soundEnd_ && *soundEnd_ >= *end);
}

// Held sound that reaches past the movie's time zero goes in, in order; the
// writer cuts off the part of a chunk before zero.
void MovieRecorder::appendHeldAudio() {
    const std::deque<AudioChunk> held = heldAudio_.take();
    if (!hasAudioTrack_) return;
    for (const AudioChunk& chunk : held) {
        if (chunk.pts() + chunk.duration() <= writerStart_) continue;
        if (!writer_->isWriting() || !writer_->readyForAudio()) return;
        writeSound(chunk);
    }
}

void MovieRecorder::handleFinish(std::optional<TimePoint> endTime, Completion completion) {
    finishing_ = true;
    heldAudio_.clear();
    // A frame dropped before the queue was offered too; the interval before
    // it is not known, the last one seen stands for it.
    const int64_t dropped = latestDroppedAtQueue_.load();
    if (dropped != std::numeric_limits<int64_t>::min() && writer_) {
        const auto pts = retime(TimePoint(std::chrono::nanoseconds(dropped)));
        if (pts && (!sessionStart_ || *pts >= *sessionStart_) && (!lastOfferedTime_ || *pts > *lastOfferedTime_)) {
            lastOfferedTime_ = pts;
        }
    }
    if (!writer_) {
        // A movie that could not even be created is a failure, not an
        // empty recording: say why.
        deliver(setupError_.empty() ? unexpected(RecorderError::noVideo())
                                    : unexpected(RecorderError::writerFailed(setupError_)),
                std::move(completion));
        return;
    }
    if (failure_) {
        deliver(unexpected(*failure_), std::move(completion));
        return;
    }
    if (writerFinished_) {
        deliver(unexpected(RecorderError::noVideo()), std::move(completion));
        return;
    }
    writerFinished_ = true;
    if (!writer_->isWriting()) {
        std::string error = writer_->errorText();
        // Completing the file still gives its index a chance to make what was
        // written playable.
        (void)writer_->finish(std::nullopt);
        if (!error.empty()) logEnded(error);
        deliver(error.empty() ? unexpected(RecorderError::noVideo())
                              : unexpected(RecorderError::writerFailed(error)),
                std::move(completion));
        return;
    }
    pendingFinish_ = PendingFinish{endTime, std::move(completion), 0};
    if (hasAudioTrack_ && !soundReachedEnd()) {
        // The sound of the last frames may still be on its way.
        pendingFinish_->deadline = queue_.after(kSoundCatchUp, [this] { completeFinish(); });
        return;
    }
    completeFinish();
}

void MovieRecorder::completeFinish() {
    if (!pendingFinish_) return;
    PendingFinish pending = std::move(*pendingFinish_);
    pendingFinish_.reset();
    queue_.cancel(pending.deadline);
    soundClosed_.store(true);
    Completion completion = std::move(pending.completion);
    // Given to the writer also when it is the last frame's own end: sound
    // that came in large chunks must not run past the picture.
    auto finished = writer_->finish(movieEnd(pending.endTime));
    if (!finished) {
        const std::string error = finished.error().empty() ? "unknown" : finished.error();
        logEnded(error);
        deliver(unexpected(RecorderError::writerFailed(error)), std::move(completion));
        return;
    }
    // Where the movie is now: its folder may have been moved meanwhile.
    deliver(output_.currentPath(), std::move(completion));
}

void MovieRecorder::handleWriterFailure(const std::string& error) {
    if (finishing_ || writerFinished_ || !writer_) return;
    writerFinished_ = true;
    failure_ = RecorderError::writerFailed(error.empty() ? "unknown" : error);
    heldAudio_.clear();
    logEnded(error);
    // Completing the file gives its index the chance to make what was
    // written playable; its own error is the one already known.
    (void)writer_->finish(std::nullopt);
    if (onFailure_ && !finishRequested_.load()) {
        main_.post([handler = onFailure_, failure = *failure_] { handler(failure); });
    }
}

// Every failure of a movie that was being written is logged once, whether
// it ended the movie while recording or showed only at the finish (a movie
// removed just before the stop, a file that could not be completed).
void MovieRecorder::logEnded(const std::string& error) {
    PocketLog::logf("Recording of %s ended: %s", outputURL_.filename().string().c_str(), error.c_str());
}

void MovieRecorder::deliver(Result<std::filesystem::path, RecorderError> result,
                            Completion completion) {
    soundClosed_.store(true);
    // Only a movie with a picture is saved.
    if (removeIfEmpty(output_) && result) result = unexpected(RecorderError::noVideo());
    reservation_.reset();
    if (!completion) return;
    main_.post([result = std::move(result), completion = std::move(completion)] { completion(result); });
}

}  // namespace hollowkit
