#pragma once

// FaceSearch: the face in the pictures of a movie as they are drawn, for a
// person mask to be seeded by. Faces are looked for with a
// FaceDetectorBackend (the Haar cascade by default) at most once every
// `interval` of the movie's time, so the search costs a fraction of the
// drawing; the largest face found stands until the next search. A face not
// seen again is kept through short misses and let go `linger` after it was
// last seen. Time that goes back (a movie drawn again from its start) makes
// a search due at once.
//
// One thread at a time (the one drawing the movie). A backend that fails
// counts as a search without a face; its first failure is logged.

#include <memory>
#include <optional>

#include "hollowkit/imaging/face_detector_backend.h"
#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class FaceSearch {
public:
    struct Options {
        double interval = 0.25;  // seconds of movie time between searches
        double linger = 1.0;     // seconds a face stays after it was last seen
    };

    // A null backend means the Haar cascade of opencv-data.
    explicit FaceSearch(std::unique_ptr<FaceDetectorBackend> backend = nullptr);
    FaceSearch(std::unique_ptr<FaceDetectorBackend> backend, Options options);
    ~FaceSearch();
    FaceSearch(const FaceSearch&) = delete;
    FaceSearch& operator=(const FaceSearch&) = delete;

    // Whether the picture at `seconds` should be searched: none was yet
    // (since the last forget), `interval` has passed, or time went back.
    bool due(double seconds) const;
    // Searches `picture`, the one drawn at `seconds`.
    void search(const VideoFrame& picture, double seconds);
    // The face (normalised, top-left, in the searched pictures' framing);
    // nothing when none is known.
    const std::optional<NormalizedRect>& face() const { return face_; }
    // Drops the face and makes the next picture due, for pictures of
    // another framing.
    void forget();

private:
    const std::unique_ptr<FaceDetectorBackend> backend_;
    const Options options_;
    std::optional<NormalizedRect> face_;
    std::optional<double> lastSearch_;
    double lastSeen_ = 0;
    bool failureLogged_ = false;
};

}  // namespace hollowkit
