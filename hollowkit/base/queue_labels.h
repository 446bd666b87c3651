#pragma once

// Labels of the library's serial queues and worker threads, with the
// scheduling class each one asks for. Every component builds its own queue
// from these at construction; two instances of a component share the label,
// never the queue. Labels are kept whole for logs; the OS thread name is
// shortened separately (thread_name.h). Constants only, any thread.

#include <array>
#include <cstdint>
#include <string_view>

namespace hollowkit {

// How urgent a queue's work is; `unspecified` means the system default.
// `utility` is for bulk background work such as the local-network sweep's
// workers. Every library thread, a SerialQueue's or one started by hand,
// applies the class of its label as it begins (enterLibraryThread in
// thread_name.h).
enum class QualityOfService : uint8_t {
    unspecified = 0,
    utility,
    userInitiated,
    userInteractive,
};

// A nice(2) increment for the hint. Raising priority needs CAP_SYS_NICE,
// which the app does not have, so the urgent classes stay at the default and
// only background-ish work is lowered.
constexpr int niceIncrement(QualityOfService qos) {
    return qos == QualityOfService::utility ? 5 : 0;
}

struct QueueLabel {
    std::string_view label;
    QualityOfService qos = QualityOfService::unspecified;
};

// Queues owned for a component's whole life, one per instance.
inline constexpr QueueLabel kBackgroundPreviewQueue{"HollowKit.BackgroundPreview", QualityOfService::userInteractive};
inline constexpr QueueLabel kMacMicrophoneQueue{"HollowKit.MacMicrophone"};
inline constexpr QueueLabel kMovieRecorderQueue{"HollowKit.MovieRecorder"};
inline constexpr QueueLabel kScreenRecorderQueue{"HollowKit.ScreenRecorder"};
inline constexpr QueueLabel kFaceDetectorQueue{"HollowKit.FaceDetector", QualityOfService::userInitiated};
inline constexpr QueueLabel kFaceFollowerQueue{"HollowKit.FaceFollower", QualityOfService::userInitiated};
inline constexpr QueueLabel kUsbCaptureQueue{"HollowKit.USBCapture"};
inline constexpr QueueLabel kUsbControlQueue{"HollowKit.USBControl"};
inline constexpr QueueLabel kUsbAudioQueue{"HollowKit.USBAudio"};
// Photos are encoded here rather than on the camera's delivery thread.
inline constexpr QueueLabel kPhotoWriterQueue{"HollowKit.PhotoWriter"};

// Queues and threads a component starts while it runs.
inline constexpr QueueLabel kBootstrapQueue{"HollowKit.Bootstrap"};
inline constexpr QueueLabel kProbeQueue{"HollowKit.Probe", QualityOfService::utility};
inline constexpr QueueLabel kVideoThread{"HollowKit.Video"};
inline constexpr QueueLabel kUdpReceiveThread{"HollowKit.UDPReceive"};

inline constexpr std::array kLibraryQueueLabels{
    kBackgroundPreviewQueue, kMacMicrophoneQueue, kMovieRecorderQueue, kScreenRecorderQueue,
    kFaceDetectorQueue,      kFaceFollowerQueue,  kUsbCaptureQueue,    kUsbControlQueue,
    kUsbAudioQueue,          kPhotoWriterQueue,   kBootstrapQueue,     kProbeQueue,
    kVideoThread,            kUdpReceiveThread,
};

// The class listed for `label`; unknown labels (tests, ad-hoc queues) get
// `unspecified`. Lets SerialQueue pick its hint from the label alone.
constexpr QualityOfService qualityOfServiceFor(std::string_view label) {
    for (const auto& entry : kLibraryQueueLabels) {
        if (entry.label == label) {
            return entry.qos;
        }
    }
    return QualityOfService::unspecified;
}

}  // namespace hollowkit
