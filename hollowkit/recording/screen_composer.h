#pragma once

// ScreenComposer turns the two movies of a screen-and-camera take into one
// "Combined.mov": the screen filling the frame, zoomed along the take's zoom
// path, the camera drawn over it by a BubbleCompositor, and the sound of
// both movies (the camera's first, then the screen's), each in its own track
// and cut at the screen's end. The movie has one picture every 1/30 s for
// the screen's duration, at the screen's size fitted into 3840 x 2400, coded
// as HEVC (hvc1) or H.264 (avc1) at high quality, tagged BT.709, with its
// index at the front so it plays while it loads.
//
// The new movie is written under a temporary name in the output's folder
// (MovieTemporaries: locked while written, so a start-up clean-up leaves it
// alone) and renamed over the output only once it is complete, so a failed
// export leaves an earlier "Combined.mov" exactly as it was.
//
// compose() runs the work on the composer's own queue
// ("HollowKit.ScreenComposer"), one composition at a time: each movie is
// decoded on a thread of its own and the frames are drawn on another, a few
// frames ahead of the encoder on the queue, so the three overlap. It reports
// progress (rising from 0 to 1, never back) and the result on the main
// executor; every progress report of a composition comes before its result.
// composeNow() is the same work with the calling thread as the encoder's
// (its decoding and drawing threads end before it returns). Destroying the
// composer stops a running composition at its next frame, without a result
// and without renaming anything into the output; a movie it had made before
// is still told (its completion posted before the destructor returns).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/base/stop_flag.h"
#include "hollowkit/imaging/face_detector_backend.h"
#include "hollowkit/imaging/segmentation_backend.h"
#include "hollowkit/media/bubble_style.h"
#include "hollowkit/media/video_codec.h"
#include "hollowkit/recording/frame_size_change.h"
#include "hollowkit/recording/zoom_planner.h"

namespace hollowkit {

struct ComposeError {
    enum class Kind : uint8_t {
        none = 0,
        exportFailed,        // `message` says what failed
        missingScreenVideo,  // the screen movie has no (usable) picture
        folderRemoved,       // the take's held folder was removed while it was composed
    };

    Kind kind = Kind::none;
    std::string message;

    static ComposeError exportFailed(std::string text) { return {Kind::exportFailed, std::move(text)}; }
    static ComposeError missingScreenVideo() { return {Kind::missingScreenVideo, {}}; }
    static ComposeError folderRemoved() { return {Kind::folderRemoved, {}}; }

    // "Could not build the combined video: " + message, or
    // "The screen recording has no video", or "Could not build the combined
    // video: its folder was removed".
    std::string userMessage() const;

    bool operator==(const ComposeError&) const = default;
};

struct ComposeRequest {
    std::filesystem::path screen;  // "Screen.mov"
    std::filesystem::path camera;  // "Camera.mov"
    std::filesystem::path output;  // "Combined.mov"; replaced only by a complete movie
    BubbleStyle style{BubbleCorner::bottomTrailing, BubbleSize::medium, BubbleShape::circle, BubbleBackground::keep};
    ZoomPath zoom;                              // ZoomPath::none(): no zoom
    VideoCodec codec = VideoCodec::hevc;
    std::vector<FrameSizeChange> cameraFrames;  // from "Camera.json"; empty when there is none
    // The take's folder, held since the take began: when it is, the three
    // files are read and written there by their names, wherever the folder
    // was moved, and the result is Combined.mov where the folder is then.
    // A held folder that is removed meanwhile (deleted, or moved to another
    // disk) stops the composition at its next frame: folderRemoved.
    HeldFolder folder;
};

struct ScreenComposerOptions {
    // Constant-quality levels and speed presets of the encoders. Lower is
    // better; these keep text on screen crisp.
    int h264Crf = 18;
    int hevcCrf = 20;
    std::string h264Preset = "veryfast";
    std::string hevcPreset = "superfast";
    // Threads for the encoder and the compositor; 0: the CPUs this process
    // may run on (the compositor uses at most four).
    int threads = 0;
    // Finds the person for blurred or removed rooms and cut-outs; GrabCut
    // when not set.
    std::function<std::unique_ptr<SegmentationBackend>()> segmentationBackend;
    // Finds the face the person is found by; the Haar cascade when not set.
    std::function<std::unique_ptr<FaceDetectorBackend>()> faceDetectorBackend;
};

class ScreenComposer {
public:
    using Progress = std::function<void(float)>;
    using Completion = std::function<void(Result<std::filesystem::path, ComposeError>)>;

    // Longest side limits of the combined movie.
    static constexpr int kMaxWidth = 3840;
    static constexpr int kMaxHeight = 2400;
    static constexpr int kFrameRate = 30;

    explicit ScreenComposer(Executor& main, ScreenComposerOptions options = {});
    // Stops a running composition (its temporary file is removed, the
    // output left as it was) and waits for the queue.
    ~ScreenComposer();
    ScreenComposer(const ScreenComposer&) = delete;
    ScreenComposer& operator=(const ScreenComposer&) = delete;

    // Any thread; returns at once. `progress` and `completion` run on the
    // main executor; the completion runs exactly once (unless the composer
    // is destroyed first) with the output path or the error.
    void compose(ComposeRequest request, Progress progress, Completion completion);

    // The whole composition, encoded on the calling thread. `progress` is
    // called on this thread with rising values and 1 last on success;
    // `stop`, when set, ends the work early with an error.
    static Result<std::filesystem::path, ComposeError> composeNow(const ComposeRequest& request,
                                                                 const Progress& progress,
                                                                 const ScreenComposerOptions& options = {},
                                                                 const StopFlag* stop = nullptr);

    // The combined movie's size for a screen of w x h: scaled down (never
    // up) to fit 3840 x 2400, each side rounded to an even number, halves
    // away from zero. 5120 x 2880 gives 3840 x 2160; 1513 x 983 gives
    // 1514 x 984. Sizes that are not positive give 0 x 0.
    static std::pair<int, int> renderSize(int width, int height);

    // The temporary file a composition into `output` writes first.
    static std::filesystem::path temporaryPath(const std::filesystem::path& output);

private:
    Executor& main_;
    const ScreenComposerOptions options_;
    StopFlag stop_;
    SerialQueue queue_;  // last: its thread stops before the fields above go
};

}  // namespace hollowkit
