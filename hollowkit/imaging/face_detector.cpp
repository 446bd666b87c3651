#include "hollowkit/imaging/face_detector.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/imaging/haar_face_detector_backend.h"

namespace hollowkit {

namespace {

// 1 / rate, kept within a sane span so that a rate of 0, a negative one or
// NaN cannot overflow the time arithmetic.
Duration intervalFor(double rate) {
    constexpr double kLongestSeconds = 3600.0;
    if (!(rate > 0)) {
        return toDuration(kLongestSeconds);
    }
    return toDuration(std::min(1.0 / rate, kLongestSeconds));
}

}  // namespace

struct FaceDetector::Core {
    Core(std::unique_ptr<FaceDetectorBackend> backendIn, const Clock& clockRef)
        : backend(std::move(backendIn)), clock(clockRef) {}

    void detect(const VideoFrame& frame);

    // Used only on the queue.
    const std::unique_ptr<FaceDetectorBackend> backend;
    std::optional<std::string> lastFailure;

    const Clock& clock;

    mutable Mutex lock;
    bool busy HK_GUARDED_BY(lock) = false;
    TimePoint lastRun HK_GUARDED_BY(lock) = kDistantPast;
    bool enabled HK_GUARDED_BY(lock) = false;
    std::shared_ptr<const FacesHandler> onFaces HK_GUARDED_BY(lock);
};

void FaceDetector::Core::detect(const VideoFrame& frame) {
    auto result = backend->detect(frame);
    if (!result.has_value()) {
        if (lastFailure != result.error()) {
            PocketLog::log("Face detection failed: " + result.error());
            lastFailure = result.error();
        }
    } else {
        lastFailure.reset();
        std::vector<NormalizedRect> faces = std::move(result).value();
        // A box with NaN in it locates nothing and would break the ordering.
        std::erase_if(faces, [](const NormalizedRect& face) { return !face.isFinite(); });
        std::stable_sort(faces.begin(), faces.end(),
                         [](const NormalizedRect& a, const NormalizedRect& b) { return a.area() > b.area(); });
        std::shared_ptr<const FacesHandler> handler;
        {
            MutexLock guard(lock);
            handler = onFaces;
        }
        if (handler && *handler) {
            (*handler)(faces, frame.pts());
        }
    }
    // Only now may the next frame be accepted.
    MutexLock guard(lock);
    busy = false;
}

FaceDetector::FaceDetector(double rate, std::unique_ptr<FaceDetectorBackend> backend)
    : interval_(intervalFor(rate)),
      ownQueue_(std::make_unique<SerialQueue>(std::string(kFaceDetectorQueue.label))),
      queue_(*ownQueue_),
      core_(std::make_shared<Core>(backend ? std::move(backend) : std::make_unique<HaarFaceDetectorBackend>(),
                                   queue_.clock())) {}

FaceDetector::FaceDetector(double rate, std::unique_ptr<FaceDetectorBackend> backend, Executor& queue)
    : interval_(intervalFor(rate)),
      queue_(queue),
      core_(std::make_shared<Core>(backend ? std::move(backend) : std::make_unique<HaarFaceDetectorBackend>(),
                                   queue_.clock())) {}

FaceDetector::~FaceDetector() {
    // Joining the own queue here means no handler runs once the destructor
    // has returned. With a borrowed queue, a detection still queued finds
    // the core gone and does nothing.
    ownQueue_.reset();
}

void FaceDetector::setOnFaces(FacesHandler handler) {
    auto shared = std::make_shared<const FacesHandler>(std::move(handler));
    MutexLock guard(core_->lock);
    core_->onFaces = std::move(shared);
}

void FaceDetector::setEnabled(bool enabled) {
    MutexLock guard(core_->lock);
    core_->enabled = enabled;
}

bool FaceDetector::enabled() const {
    MutexLock guard(core_->lock);
    return core_->enabled;
}

void FaceDetector::submit(const VideoFrame& frame) {
    const TimePoint now = core_->clock.now();
    {
        MutexLock guard(core_->lock);
        // lastRun + interval, not now − lastRun: the distant past is the
        // smallest time point and the subtraction would overflow.
        if (!core_->enabled || core_->busy || now < core_->lastRun + interval_) {
            return;
        }
        core_->busy = true;
        core_->lastRun = now;
        if (frame.isNull()) {
            // Nothing to look at: ready for the next frame at once.
            core_->busy = false;
            return;
        }
    }
    std::weak_ptr<Core> weak = core_;
    // The frame handle keeps the camera's pixels alive; nothing is copied.
    queue_.post([weak, frame] {
        if (auto core = weak.lock()) {
            core->detect(frame);
        }
    });
}

}  // namespace hollowkit
