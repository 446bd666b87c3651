#pragma once

// CameraModelLimits: the camera model's timings, limits, gains and fixed
// texts, by area. CameraModel takes them in as its own, so they are named
// CameraModel::kSettleDelay and so on everywhere.

#include <chrono>
#include <cstddef>
#include <string_view>

#include "hollowkit/base/clock.h"

namespace lumenhollow {

struct CameraModelLimits {
    // --- The camera and its connection.
    // A picture of the other orientation is published once it has held this long.
    static constexpr hollowkit::Duration kSettleDelay = std::chrono::seconds(3);
    // A wireless camera that is off and failed is tried again after this.
    static constexpr hollowkit::Duration kWirelessRetryDelay = std::chrono::seconds(3);
    // A camera that has not finished stopping after this is replaced anyway.
    static constexpr hollowkit::Duration kStopWatchdog = std::chrono::seconds(5);
    static constexpr hollowkit::Duration kAudioLevelInterval =
        std::chrono::duration_cast<hollowkit::Duration>(std::chrono::duration<double>(1.0 / 15.0));
    static constexpr hollowkit::Duration kFreeSpaceInterval = std::chrono::seconds(10);
    static constexpr double kFaceDetectionsPerSecond = 15.0;
    static constexpr std::string_view kFormatWhileRecordingNotice = "Stop recording before changing the format";

    // --- Quit and shutdown.
    // After the sheets were ended, the termination waits this long for them to go.
    static constexpr hollowkit::Duration kSheetCloseDelay = std::chrono::milliseconds(350);
    // How long the shutdown waits for the camera to stop.
    static constexpr hollowkit::Duration kTerminationFallback = std::chrono::seconds(3);
    // How long it waits for open movie files to be finished: a movie cut off
    // before its index is written cannot be played, so this is generous.
    static constexpr hollowkit::Duration kRecordingFinishLimit = std::chrono::seconds(30);
    // How long it waits for the photos asked for before the quit: 10 s for
    // each still to be written (a 1080p photo takes about 1 s, 3 s on a
    // machine loaded 30 deep; a 4K one 2.5 times that), 60 s at most
    // whatever their number.
    static constexpr hollowkit::Duration kPhotoFinishPerPhoto = std::chrono::seconds(10);
    static constexpr hollowkit::Duration kPhotoFinishCeiling = std::chrono::seconds(60);
    static constexpr hollowkit::Duration photoFinishLimit(size_t photos) {
        return photos >= static_cast<size_t>(kPhotoFinishCeiling / kPhotoFinishPerPhoto)
                   ? kPhotoFinishCeiling
                   : kPhotoFinishPerPhoto * static_cast<int64_t>(photos);
    }

    // --- Scenes.
    static constexpr size_t kMaxScenes = 9;
    static constexpr double kSceneThumbnailWidth = 320;
    // The face follower waits this long after a recall so it does not fight the move.
    static constexpr double kSceneRecallPauseSeconds = 3.0;

    // --- Recording.
    static constexpr hollowkit::Duration kCountdownStep = std::chrono::seconds(1);
    // A take of the screen always counts down at least this many seconds.
    static constexpr int kScreenTakeCountdownSeconds = 3;
    // The camera's sound counts as flowing when it came this recently.
    static constexpr hollowkit::Duration kRecentCameraSound = std::chrono::seconds(1);
    // The elapsed time the camera reports for its card recording moves the
    // shown start only when the two differ by more than this.
    static constexpr hollowkit::Duration kCardElapsedTolerance = std::chrono::seconds(2);
    // How long a card start waits for the camera to say it records; Record
    // meanwhile withdraws the start.
    static constexpr hollowkit::Duration kCardStartConfirmation = std::chrono::seconds(5);
    // A movie being written without a frame for this long is ended and saved.
    static constexpr hollowkit::Duration kNoPictureLimit = std::chrono::seconds(5);
    static constexpr std::string_view kRecordingActivityReason = "Recording video";
    static constexpr std::string_view kScreenRecordingKind = "Screen Recording";

    // --- Photos.
    // A photo or a scene's thumbnail waits for its frame until one comes,
    // except in a quit, which waits for it this long from its request: then
    // a photo is given up with a notice, a thumbnail quietly.
    static constexpr hollowkit::Duration kPhotoFrameWait = std::chrono::seconds(2);
    // Photos waiting for their frame or being written at once. Each holds
    // its frame until it is written (3 MB at 1080p, 8 MB with a look; 4
    // times that at 4K); a press beyond is refused with a notice.
    static constexpr size_t kMaxPendingPhotos = 8;

    // --- The computer's microphone.
    static constexpr std::string_view kMacMicrophoneOff = "off";
    // Said when the remembered input is gone and a recording takes the
    // default input in its place.
    static constexpr std::string_view kMissingMicrophoneNotice =
        "The chosen microphone is not connected, so the default microphone records";

    // --- Manual gimbal input.
    static constexpr int kKeySpeed = 150;
    static constexpr double kJoystickGain = 330.0;
    static constexpr double kDragSpeedGain = -2.0;
    static constexpr int kZoomStepPercent = 25;
    static constexpr double kScrollQuantum = 4.0;
    static constexpr hollowkit::Duration kDragMoveInterval =
        std::chrono::duration_cast<hollowkit::Duration>(std::chrono::duration<double>(1.0 / 15.0));
    // Degrees across the preview's width at 1.0x.
    static constexpr double kPreviewDegrees = 70.0;
    // How long manual input and a jump to a position keep the follower still.
    static constexpr double kManualPauseSeconds = 1.5;
    static constexpr double kJumpPauseSeconds = 3.0;

    // --- Face tracking and auto framing.
    static constexpr hollowkit::Duration kFaceLinger = std::chrono::seconds(1);
    static constexpr hollowkit::Duration kNoFaceNoticeDelay = std::chrono::seconds(2);
    static constexpr hollowkit::Duration kAutoFrameTimeout = std::chrono::milliseconds(2500);
};

}  // namespace lumenhollow
