#pragma once

// FaceDetector: finds faces in the live picture and hands their boxes,
// largest first, to one handler. Throttled: at most one detection runs at a
// time and a new one starts only once `interval` (1 / rate) has passed since
// the last start; frames that come sooner, or while one runs, are dropped,
// never queued. Off until its owner enables it. Knows nothing of cameras.
//
// Threads: submit() on the camera's sample thread (a time comparison under
// the lock and one post); detection and the handler on the detector's queue
// "HollowKit.FaceDetector"; setEnabled from the owner's thread. The lock
// guards busy, lastRun and enabled and is never held while the backend or
// the handler runs. A failed detection logs "Face detection failed: " and
// the backend's text and delivers nothing; the same text again in a row is
// not logged again, so a missing model does not flood the log 15 times a
// second.

#include <functional>
#include <memory>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/imaging/face_detector_backend.h"
#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class FaceDetector {
public:
    // Boxes of one detection, normalised with the origin top-left, largest
    // area first (equal areas keep the backend's order). Empty: no face.
    // `seenAt` is the time stamp of the frame they were found in: a result
    // comes a detection (and, on a busy machine, a wait) after its frame.
    using FacesHandler = std::function<void(const std::vector<NormalizedRect>& faces, TimePoint seenAt)>;

    // `rate` detections per second at most (the camera model passes 15). A
    // null backend means the Haar cascade of opencv-data. Runs on a queue of
    // its own on the system clock.
    explicit FaceDetector(double rate, std::unique_ptr<FaceDetectorBackend> backend = nullptr);
    // Runs detections on `queue` and reads time from its clock (tests). The
    // queue must outlive the detector.
    FaceDetector(double rate, std::unique_ptr<FaceDetectorBackend> backend, Executor& queue);
    ~FaceDetector();
    FaceDetector(const FaceDetector&) = delete;
    FaceDetector& operator=(const FaceDetector&) = delete;

    // Set once, before the first submit. Called on the detector's queue.
    void setOnFaces(FacesHandler handler);

    // Turning it off refuses new frames; a detection already running still
    // delivers. Any thread.
    void setEnabled(bool enabled);
    bool enabled() const;

    // Offers one frame. Sample thread; never waits for a detection.
    void submit(const VideoFrame& frame);

    Duration interval() const { return interval_; }

private:
    struct Core;

    const Duration interval_;
    std::unique_ptr<SerialQueue> ownQueue_;
    Executor& queue_;
    std::shared_ptr<Core> core_;  // detections hold it weakly
};

}  // namespace hollowkit
