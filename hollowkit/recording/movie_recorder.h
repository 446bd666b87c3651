#pragma once

// MovieRecorder: writes the camera's frames, and its sound when there is any,
// into one QuickTime movie. Made for one file and used once. Samples arrive
// from any thread and are handled on the recorder's own queue
// ("HollowKit.MovieRecorder"); the movie itself is encoded by a MovieWriter
// behind it. Finishing reports the file or a RecorderError on the main
// executor.
//
// Two uses: a plain recording keeps the samples' own times and starts the
// movie at its first written frame; the camera half of a screen-and-camera
// take is given a session start on the host clock, moves camera times onto
// that clock when the two differ by more than a second, drops frames from
// before the start, and starts the movie exactly there. With sound expected,
// the recorder waits up to one second after the first frame for the first
// sound so the movie can get a sound track.
//
// Live capture never waits for the encoder: a sample that finds the writer
// (or the recorder's own queue) full is dropped, so memory stays bounded.
// Sound that comes before the movie exists is held (a bounded, recent
// stretch) and written once it does, from the movie's time zero on: the
// chunk carrying the first frame's time often arrives just before it.
//
// Sound that begins after the first frame (the first sound of a stream that
// started late, or the sound at that frame lost on a busy machine) is led
// in with silence from that frame on, as a gap within the track is, so the
// two tracks start together.
//
// The movie ends where the last frame offered before the finish ends, also
// when the encoder was too late to take that frame (or the frames before
// it): the last picture written stays on screen until then, and the sound
// goes on to the same end and no further.
//
// Sound is captured ahead of its delivery (a sound server's buffers, the
// microphone's queue), so when finish is asked for, the sound of the last
// frames is often still on its way. Frames stop at once; sound is still
// taken until it reaches the movie's end, for at most kSoundCatchUp, and
// only then is the movie completed.
//
// A movie that cannot be written any more (the disk filled, the file reached
// its size limit, the movie or its folder was removed, noticed at the next
// piece written) is ended at once rather than at the finish: the recorder
// completes what was written, so it stays playable, takes no more samples,
// and tells the failure handler on the main executor. The finish that
// follows reports the same error.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_codec.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/recording/frame_size_change.h"
#include "hollowkit/recording/held_sound.h"
#include "hollowkit/recording/movie_writer.h"

namespace hollowkit {

struct RecorderError {
    enum class Kind : uint8_t {
        none = 0,
        writerFailed,  // the movie could not be written; `detail` says why
        noVideo,       // no frame ever reached a movie
    };

    Kind kind = Kind::none;
    std::string detail;

    static RecorderError writerFailed(std::string text) { return {Kind::writerFailed, std::move(text)}; }
    static RecorderError noVideo() { return {Kind::noVideo, {}}; }

    // "Recording failed: " + detail, or "No video frames were recorded".
    std::string userMessage() const;

    bool operator==(const RecorderError&) const = default;
};

// Counts for benchmarks and logs; read with MovieRecorder::stats().
struct MovieRecorderStats {
    uint64_t videoOffered = 0;   // frames given to appendVideo
    uint64_t videoWritten = 0;   // frames the writer took
    uint64_t videoDroppedBusy = 0;  // dropped because the writer or the queue was full
    uint64_t videoDroppedQueueFull = 0;  // of those, dropped before reaching the queue

    bool operator==(const MovieRecorderStats&) const = default;
};

class MovieRecorder {
public:
    using Completion = std::function<void(Result<std::filesystem::path, RecorderError>)>;
    using FailureHandler = std::function<void(const RecorderError& error)>;

    // Frames and sound chunks allowed to wait on the recorder's queue; more
    // are dropped at once.
    // Enough to ride out the encoder's start (a few hundred milliseconds at
    // 4K), short enough to bound memory.
    static constexpr int kMaxQueuedVideoFrames = 8;
    static constexpr int kMaxQueuedAudioChunks = 64;
    // How long a recording that expects sound waits for it after the first
    // frame, and how far apart the camera and host clocks must be before a
    // take moves the camera's times.
    static constexpr Duration kAudioWait = std::chrono::seconds(1);
    static constexpr Duration kClockOffsetThreshold = std::chrono::seconds(1);
    // How long finish waits for sound still on its way to the last frame's end.
    static constexpr Duration kSoundCatchUp = std::chrono::seconds(1);

    // Opens nothing yet: the movie is created with the first usable frame.
    // `main` receives the completion; `clock` is the host clock (the one
    // sample times are stamped on). Without a factory the FFmpeg writer is
    // used.
    // The movie is made in `output`'s held folder, wherever it is moved,
    // and its result is where it is at the end (FileInFolder::currentPath);
    // the path form holds the folder `outputURL` names now.
    MovieRecorder(FileInFolder output, VideoCodec codec, std::optional<TimePoint> sessionStart, bool expectsAudio,
                  Executor& main, const Clock& clock = Clock::system(), MovieWriterFactory writerFactory = {});
    MovieRecorder(const std::filesystem::path& outputURL, VideoCodec codec,
                  std::optional<TimePoint> sessionStart, bool expectsAudio, Executor& main,
                  const Clock& clock = Clock::system(), MovieWriterFactory writerFactory = {});
    // Completes a movie whose finish was asked for (its completion is
    // posted; the main executor must outlive the recorder); drops other work
    // not yet done, so a movie never finished stays incomplete. Blocks for
    // the writer's finish. Not from the recorder's own queue.
    ~MovieRecorder();

    MovieRecorder(const MovieRecorder&) = delete;
    MovieRecorder& operator=(const MovieRecorder&) = delete;

    // Set before the first sample. Runs at most once, on the main executor,
    // when the movie failed while recording (a writerFailed error) and was
    // ended; not for a failure that finish reports by itself, and not once
    // finish was asked for. The owner still calls finish, whose completion
    // carries the same error.
    void setOnFailure(FailureHandler handler) { onFailure_ = std::move(handler); }

    // Any thread; returns at once.
    void appendVideo(VideoFrame frame);
    void appendAudio(AudioChunk chunk);

    // Any thread; returns at once. Completes the movie (lasting until
    // `endTime` when that is after the last frame written, else until the
    // end of the last frame offered) and runs `completion` once
    // on the main executor with the file, or with the error. A movie that
    // never started, or holds no picture, leaves no file behind (noVideo
    // unless the writer failed). Frames offered afterwards are
    // dropped; sound is still taken until the movie is complete (see above).
    void finish(std::optional<TimePoint> endTime, Completion completion);

    // Any thread: sound will not come after all (the microphone failed), so
    // the recorder stops waiting for it and starts with the next frame.
    void noAudioExpected();

    // The frame-size changes so far, and whether the picture turned between
    // landscape and portrait. They wait for the recorder's queue; called on
    // that queue itself they cannot wait and return empty / false.
    std::vector<FrameSizeChange> sizeChanges() const;
    bool hasMixedOrientation() const;
    MovieRecorderStats stats() const;

    const std::filesystem::path& outputURL() const { return outputURL_; }
    VideoCodec codec() const { return codec_; }

private:
    struct AudioFormat {
        int sampleRate = 0;
        int channels = 0;
    };

    // Own queue only.
    void handleVideo(VideoFrame frame);
    void handleAudio(AudioChunk chunk);
    void handleFinish(std::optional<TimePoint> endTime, Completion completion);
    void handleWriterFailure(const std::string& error);
    void completeFinish();
    void noteSoundEnd(const AudioChunk& chunk);
    bool writeSound(const AudioChunk& chunk);
    bool soundReachedEnd() const;
    void noteOffered(TimePoint pts);
    std::optional<TimePoint> movieEnd(std::optional<TimePoint> endTime) const;
    std::optional<TimePoint> retime(TimePoint pts);
    void setUpWriter(const VideoFrame& frame);
    void appendHeldAudio();
    void noteFrameSize(const VideoFrame& frame);
    void logSetupFailure(const std::string& line);
    void logEnded(const std::string& error);
    void deliver(Result<std::filesystem::path, RecorderError> result, Completion completion);

    const FileInFolder output_;
    const std::filesystem::path outputURL_;  // where the movie was when it began: for logs
    // The empty file reserving the name, held until the end is delivered, so
    // a start-up clearing elsewhere does not take it for a killed run's.
    UniqueFd reservation_;
    const VideoCodec codec_;
    Executor& main_;
    const Clock& clock_;
    const MovieWriterFactory writerFactory_;
    FailureHandler onFailure_;  // set before the first sample, then only read

    // Any thread.
    std::atomic<bool> finishRequested_{false};
    std::atomic<bool> soundClosed_{false};  // the movie is complete: no more sound
    std::atomic<int> queuedVideo_{0};
    std::atomic<int> queuedAudio_{0};
    std::atomic<uint64_t> droppedAtQueue_{0};
    // The latest time of a frame dropped before the queue (the sample
    // clock's nanoseconds), so the movie still lasts until it ends.
    std::atomic<int64_t> latestDroppedAtQueue_{std::numeric_limits<int64_t>::min()};

    // Own queue only.
    std::unique_ptr<MovieWriter> writer_;
    bool writerFinished_ = false;
    std::optional<RecorderError> failure_;  // the writer failed while recording
    bool hasAudioTrack_ = false;
    std::optional<AudioFormat> audioFormat_;
    HeldSound heldAudio_;  // re-timed, arrived before the writer
    bool finishing_ = false;
    // Finish asked for, the movie still open for the sound of its last frames.
    struct PendingFinish {
        std::optional<TimePoint> endTime;
        Completion completion;
        TaskId deadline = 0;
    };
    std::optional<PendingFinish> pendingFinish_;
    std::optional<TimePoint> soundEnd_;  // end of the last sound handed to the writer
    const std::optional<TimePoint> sessionStart_;
    std::optional<TimePoint> lastVideoTime_;
    // The last frame meant for the movie, taken or dropped for a busy
    // writer, and the interval before it.
    std::optional<TimePoint> lastOfferedTime_;
    std::optional<Duration> lastOfferedInterval_;
    std::optional<Duration> clockOffset_;
    bool expectsAudio_;
    std::optional<TimePoint> firstVideoArrival_;
    TimePoint writerStart_{};
    std::optional<TimePoint> pictureStart_;  // the time of the frame the movie was set up with
    std::vector<FrameSizeChange> sizeChanges_;
    std::string setupError_;   // the last reason the writer could not start
    std::string loggedSetupLine_;
    bool loggedOutOfOrder_ = false;
    MovieRecorderStats stats_;

    mutable SerialQueue queue_;  // last: its thread stops before the fields above go
};

}  // namespace hollowkit
