#pragma once

// ScreenRecorder: records one display into a QuickTime movie ("Screen.mov"
// of a take), with the pointer drawn in and, when asked, the sound the
// computer plays. Made for one file and used once: construct, set the
// handlers, start(), then stop() once. The capture runs on the backend's
// own thread; every frame, the start, the stop and the finish are handled
// in order on the recorder's queue ("HollowKit.ScreenRecorder"), and every
// result (first frame, capture stopped, write failure, start outcome,
// finished file or error) is posted to the main executor.
//
// The movie begins at the first complete frame, whose capture time is
// reported through onFirstFrame; stop() ends it at the given stop time, so
// it lasts until then even when no new frame came after the last one.
// Frames captured after the stop time are not written. Sound starts with the
// first frame: sound that comes before that frame is handled (capturing and
// converting a frame takes longer than a sound fragment) is held, bounded,
// and what of it lies after the frame's time is written; sound that begins
// after the frame is led in with silence from it (sound_lead_in.h). Sound
// ends with the stop time too: the stop lets the sound recorded until then
// come in (a fragment or two, bounded by kSoundTailWait) before it ends the
// capture.
// A movie that can no longer be written (a full disk, a file past its size
// limit) is ended as it happens: what was written is completed and kept,
// later frames and sound are dropped, and the failure handler hears of it
// on the main executor, before the stop that follows reports the same
// error. A stop that arrives
// while the recorder is still starting is legal: the start gives up at its
// next step and whatever it had started is stopped, so nothing keeps
// running.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_codec.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/recording/display_service.h"
#include "hollowkit/recording/held_sound.h"
#include "hollowkit/recording/movie_writer.h"
#include "hollowkit/recording/screen_capture_backend.h"
#include "hollowkit/recording/screen_display.h"

namespace hollowkit {

// Counts for benchmarks and logs; read with ScreenRecorder::stats().
struct ScreenRecorderStats {
    uint64_t framesCaptured = 0;      // complete frames the capture delivered
    uint64_t framesWritten = 0;       // frames the writer took
    uint64_t framesDroppedQueue = 0;  // dropped because the queue held its limit
    uint64_t framesDroppedWriter = 0; // dropped because the writer was behind

    bool operator==(const ScreenRecorderStats&) const = default;
};

struct ScreenOutputSize {
    int width = 0;
    int height = 0;

    bool operator==(const ScreenOutputSize&) const = default;
};

class ScreenRecorder {
public:
    struct ScreenError {
        enum class Kind : uint8_t {
            none = 0,
            writerFailed,      // the movie could not be written; `detail` says why
            permissionDenied,  // the screen may not be captured
            displayNotFound,   // there is no display at all
            noFrames,          // no frame ever reached the movie
            captureFailed,     // the capture would not start; `detail` is the system's text
        };

        Kind kind = Kind::none;
        std::string detail;

        static ScreenError writerFailed(std::string text) { return {Kind::writerFailed, std::move(text)}; }
        static ScreenError permissionDenied() { return {Kind::permissionDenied, {}}; }
        static ScreenError displayNotFound() { return {Kind::displayNotFound, {}}; }
        static ScreenError noFrames() { return {Kind::noFrames, {}}; }
        static ScreenError captureFailed(std::string text) { return {Kind::captureFailed, std::move(text)}; }

        // The sentence shown to the user.
        std::string userMessage() const;

        bool operator==(const ScreenError&) const = default;
    };

    using FirstFrameHandler = std::function<void(TimePoint)>;
    using StoppedHandler = std::function<void(const std::string&)>;
    using FailureHandler = std::function<void(const ScreenError&)>;
    using StartCompletion = std::function<void(Result<void, ScreenError>)>;
    using StopCompletion = std::function<void(Result<std::filesystem::path, ScreenError>)>;

    static constexpr int kFrameRate = 60;
    // Frames allowed to wait for the queue; more are dropped at once.
    static constexpr int kQueueDepth = 6;
    static constexpr int kMaxQueuedAudioChunks = 64;
    // Longest wait at the stop for sound recorded before the stop time; the
    // server hands it over a fragment (tens of milliseconds) late, and on a
    // busy machine a good part of a second late.
    static constexpr Duration kSoundTailWait = std::chrono::milliseconds(1500);
    static constexpr int kAudioSampleRate = 48000;
    static constexpr int kAudioChannels = 2;
    static constexpr int64_t kAudioBitRate = 192000;

    // Nothing starts here. `main` receives every result. Without a factory
    // the FFmpeg writer is used. The services must outlive the recorder.
    // The movie is made in `output`'s held folder, wherever it is moved,
    // and its result is where it is at the end (FileInFolder::currentPath);
    // the path form holds the folder `outputURL` names now.
    ScreenRecorder(FileInFolder output, VideoCodec codec, bool includeSystemAudio, Executor& main,
                   DisplayService& displays, ScreenCaptureBackend& capture, MovieWriterFactory writerFactory = {});
    ScreenRecorder(const std::filesystem::path& outputURL, VideoCodec codec, bool includeSystemAudio,
                   Executor& main, DisplayService& displays, ScreenCaptureBackend& capture,
                   MovieWriterFactory writerFactory = {});
    // Completes a movie whose stop was asked for (its completion is posted;
    // the main executor must outlive the recorder), blocking for the
    // writer's finish; otherwise stops a capture still running, and a movie
    // never stopped stays incomplete. Not from the recorder's own queue.
    ~ScreenRecorder();

    ScreenRecorder(const ScreenRecorder&) = delete;
    ScreenRecorder& operator=(const ScreenRecorder&) = delete;

    // Any thread; meant to be set before start(). Run on the main executor.
    void setOnFirstFrame(FirstFrameHandler handler);
    void setOnStopped(StoppedHandler handler);
    // Runs at most once, with a writerFailed error, when the movie failed
    // while recording; not once stop() was called (the stop reports it).
    void setOnFailure(FailureHandler handler);

    const std::filesystem::path& outputURL() const { return outputURL_; }
    VideoCodec codec() const { return codec_; }
    bool includesSystemAudio() const { return includeSystemAudio_; }

    // Main executor; returns at once. Starts capturing `displayID` (the main
    // display when none is given, the first display when that one is gone)
    // on the recorder's queue, then runs `completion` on the main executor:
    // success once capture runs, or permissionDenied, displayNotFound,
    // writerFailed or captureFailed. When stop() came first it starts
    // nothing and reports success; the stop reports the outcome.
    void start(std::optional<uint32_t> displayID, StartCompletion completion);

    // Main executor; returns at once; call once. Stops the capture, then
    // completes the movie, lasting until `stopTime` when that is after the
    // last frame (the host clock's time when the user stopped), and runs
    // `completion` on the main executor with the file or the error
    // (noFrames when no frame was written; no file is left then).
    void stop(std::optional<TimePoint> stopTime, StopCompletion completion);

    // The recordable displays, in the window system's order, named for the
    // picker: the display's own product name, else "Built-in Display" for a
    // laptop panel, else "Display <id>". Fails with the window system's
    // error, unchanged. Main executor (it asks the window system).
    static Result<std::vector<ScreenDisplay>, std::string> displays(DisplayService& service);
    // The display names the window system knows, by display id.
    static std::map<uint32_t, std::string> screenNames(DisplayService& service);

    // The recorded size for a display of w x h pixels: never larger, within
    // 3840 x 2400, the display's aspect, even sides (halves round away from
    // zero). 5120 x 2880 gives 3840 x 2160; 1365 x 767 gives 1366 x 768.
    static ScreenOutputSize outputSize(double width, double height);
    // Average video bit rate: width x height x 30 x (0.05 HEVC, 0.09 H.264),
    // at most 60,000,000, truncated.
    static int64_t videoBitRate(VideoCodec codec, int width, int height);

    // Any thread. Waits for the queue; from the queue itself it cannot wait
    // and returns what the counters say without the queue's own part.
    ScreenRecorderStats stats() const;

private:
    // Own queue only.
    void handleStart(std::optional<uint32_t> displayID, StartCompletion completion);
    Result<void, ScreenError> startOnQueue(std::optional<uint32_t> displayID);
    Result<void, ScreenError> makeWriter(int width, int height);
    void handleFrame(VideoFrame frame, ScreenFrameStatus status);
    void handleAudio(AudioChunk chunk);
    void appendAudio(const AudioChunk& chunk);
    void waitForSoundUntil(TimePoint stopTime);
    void handleStop(std::optional<TimePoint> stopTime, StopCompletion completion);
    Result<std::filesystem::path, ScreenError> finish(std::optional<TimePoint> stopTime);
    void discardFile();
    void handleWriterFailure(const std::string& error);

    // Capture threads.
    void frameArrived(VideoFrame frame, ScreenFrameStatus status);
    void audioArrived(AudioChunk chunk);
    void captureStopped(const std::string& reason);

    bool stopRequested() const;
    std::unique_ptr<ScreenCapture> takeCapture();

    const FileInFolder output_;
    const std::filesystem::path outputURL_;  // where the movie was when it began
    const VideoCodec codec_;
    const bool includeSystemAudio_;
    Executor& main_;
    DisplayService& displayService_;
    ScreenCaptureBackend& captureBackend_;
    const MovieWriterFactory writerFactory_;

    // Any thread.
    std::atomic<int> queuedFrames_{0};
    std::atomic<int> queuedAudio_{0};
    std::atomic<uint64_t> framesCaptured_{0};
    std::atomic<uint64_t> framesDroppedQueue_{0};

    mutable Mutex mutex_;
    FirstFrameHandler onFirstFrame_ HK_GUARDED_BY(mutex_);
    StoppedHandler onStopped_ HK_GUARDED_BY(mutex_);
    FailureHandler onFailure_ HK_GUARDED_BY(mutex_);
    std::unique_ptr<ScreenCapture> capture_ HK_GUARDED_BY(mutex_);
    bool stopRequested_ HK_GUARDED_BY(mutex_) = false;
    std::optional<TimePoint> stopTime_ HK_GUARDED_BY(mutex_);
    std::optional<TimePoint> soundEnd_ HK_GUARDED_BY(mutex_);  // end of the latest chunk
    std::condition_variable soundArrived_;

    // Own queue only.
    std::unique_ptr<MovieWriter> writer_;
    MovieWriterSettings writerSettings_;
    bool reservedFile_ = false;  // the empty file made at start is ours
    // That file, held until the movie is finished, so a clearing of a killed
    // run's leftovers meanwhile does not take it for one of theirs.
    UniqueFd reservation_;
    std::string writerStartError_;
    std::optional<std::string> writerFailure_;  // the writer failed while writing and was completed
    std::optional<TimePoint> sessionStart_;
    std::optional<TimePoint> lastVideoTime_;
    HeldSound heldAudio_;  // arrived before the first frame
    bool soundStarted_ = false;  // the movie's sound track has begun
    bool finishing_ = false;
    std::optional<Result<std::filesystem::path, ScreenError>> outcome_;
    uint64_t framesWritten_ = 0;
    uint64_t framesDroppedWriter_ = 0;

    mutable SerialQueue queue_;  // last: its thread stops before the fields above go
};

}  // namespace hollowkit
