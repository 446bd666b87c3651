// CameraModel: face tracking (the follower keeps the face in frame while it
// is on) and auto framing (one move that frames the next face seen). Both
// need a camera that takes exact positions. The background preview's person
// mask is seeded by the face too, whichever camera it is. The detector runs
// only while one of them wants faces; its results arrive here on the main
// executor.

#include "hollowkit/imaging/auto_framer.h"
#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

constexpr const char* kOverWiFi =
    "Over Wi-Fi Lumenhollow cannot steer the gimbal to an exact angle yet, so this would drift. Connect the "
    "camera with USB-C and choose Webcam to use it.";

}  // namespace

void CameraModel::startFaceTracking() {
    if (!camera_->supportsPositioning()) {
        postNotice(std::string("Face tracking: ") + kOverWiFi);
        return;
    }
    if (!state_.stats || !state_.stats->hasPicture) {
        postNotice("Face tracking starts once the video is live");
        return;
    }
    publish<Field::faceTracking>(true);
    faces_.trackingStartedAt = main_.clock().now();
    faces_.noFaceNotified = false;
    faceFollower_->start(weakCamera());
    updateFaceDetection();
    postNotice("Face tracking on");
}

void CameraModel::toggleFaceTracking() {
    if (state_.faceTracking) {
        stopFaceTracking();
    } else {
        startFaceTracking();
    }
}

void CameraModel::stopFaceTracking() {
    // A pending auto frame goes on: it ends with its move or its give-up.
    if (!state_.faceTracking) return;
    publish<Field::faceTracking>(false);
    faceFollower_->stop();
    publish<Field::trackedFace>(std::nullopt);
    updateFaceDetection();
}

void CameraModel::updateFaceDetection() {
    enableFaceDetection();
    if (!state_.faceTracking && !faces_.pendingAutoFrame) publish<Field::trackedFace>(std::nullopt);
}

void CameraModel::enableFaceDetection() {
    const bool masking = backgroundPreview_->isActive();
    faceDetector_->setEnabled(state_.faceTracking || faces_.pendingAutoFrame.has_value() || masking);
    // A face seen before the room was last treated may no longer be there.
    if (!masking) updateMaskFace(std::nullopt, hollowkit::kDistantPast);
}

void CameraModel::updateMaskFace(const std::optional<hollowkit::NormalizedRect>& face, hollowkit::TimePoint now) {
    if (face) {
        faces_.maskFace = face;
    } else if (!backgroundPreview_->isActive() || now > faces_.lastSeen + kFaceLinger) {
        faces_.maskFace.reset();
    }
    backgroundPreview_->setFace(faces_.maskFace);
}

void CameraModel::autoFrame() {
    if (!camera_->supportsPositioning()) {
        postNotice(std::string("Auto frame: ") + kOverWiFi);
        return;
    }
    // A second request restarts the wait.
    faces_.pendingAutoFrame = main_.clock().now();
    main_.cancel(faces_.autoFrameTimer);
    // Give up on time even when no detector result comes (the picture
    // stopped): a request left pending would move the camera whenever a face
    // next appears, maybe minutes later.
    faces_.autoFrameTimer = main_.after(kAutoFrameTimeout, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->faces_.autoFrameTimer = 0;
            self->giveUpAutoFrame();
        }
    });
    updateFaceDetection();
    postNotice("Looking for a face\u2026");
}

void CameraModel::handleFaceObservations(const std::vector<hollowkit::NormalizedRect>& faces,
                                         hollowkit::TimePoint seenAt) {
    // A detection already under way when the detector was switched off
    // still reports; nothing wants it, and it must not leave a face box.
    const bool masking = backgroundPreview_->isActive();
    if (!state_.faceTracking && !faces_.pendingAutoFrame && !masking) return;

    const hollowkit::TimePoint now = main_.clock().now();
    const std::optional<hollowkit::NormalizedRect> face =
        faces.empty() ? std::nullopt : std::optional<hollowkit::NormalizedRect>(faces.front());
    // The person mask follows the same face as tracking, lingering alike.
    if (masking) updateMaskFace(face, now);
    if (face) faces_.lastSeen = now;
    if (!state_.faceTracking && !faces_.pendingAutoFrame) return;

    if (face) {
        publish<Field::trackedFace>(face);
    } else if (now > faces_.lastSeen + kFaceLinger) {
        // The box lingers through short misses.
        publish<Field::trackedFace>(std::nullopt);
    }

    if (faces_.pendingAutoFrame) {
        if (face) {
            cancelAutoFrame();
            performAutoFrame(*face);
        } else if (now > *faces_.pendingAutoFrame + kAutoFrameTimeout) {
            giveUpAutoFrame();
            return;
        }
        updateFaceDetection();
        // The follower waits until the framing is decided.
        return;
    }
    if (!state_.faceTracking) return;

    // The follower allows for the camera's turn since the frame.
    faceFollower_->update(face, seenAt);
    if (face) {
        faces_.noFaceNotified = false;
        return;
    }
    if (!faces_.noFaceNotified && !state_.trackedFace && now > faces_.trackingStartedAt + kNoFaceNoticeDelay) {
        faces_.noFaceNotified = true;
        postNotice("Tracking is on, but no face is in view");
    }
}

void CameraModel::performAutoFrame(const hollowkit::NormalizedRect& face) {
    const std::optional<hollowkit::CameraPosition> position = camera_->currentPosition();
    if (!position) return;
    // A range only the camera knew is published first, as for a zoom step.
    const std::optional<hollowkit::ZoomRange> range = adoptZoomRange();
    const hollowkit::CameraPosition target =
        hollowkit::AutoFramer::target(face, position->zoom ? position->zoom : state_.zoom, range,
                                      position->pan, position->tilt, hollowkit::kDefaultFramingGeometry);
    // The follower would fight the move.
    if (state_.faceTracking) faceFollower_->pause(kJumpPauseSeconds);
    camera_->move(target);
    if (target.zoom) publish<Field::zoom>(*target.zoom);
    postNotice("Framed");
}

void CameraModel::giveUpAutoFrame() {
    if (!faces_.pendingAutoFrame) return;
    cancelAutoFrame();
    postNotice("No face found to frame");
    updateFaceDetection();
}

void CameraModel::cancelAutoFrame() {
    faces_.pendingAutoFrame.reset();
    main_.cancel(faces_.autoFrameTimer);
    faces_.autoFrameTimer = 0;
}

void CameraModel::endFaceActivities() {
    // The next camera starts with neither: a request left pending would move
    // it as soon as it first sees a face.
    stopFaceTracking();
    if (faces_.pendingAutoFrame) {
        cancelAutoFrame();
        updateFaceDetection();
    }
    // Nor with the last camera's face for its person mask.
    faces_.lastSeen = hollowkit::kDistantPast;
    updateMaskFace(std::nullopt, hollowkit::kDistantPast);
}

}  // namespace lumenhollow
