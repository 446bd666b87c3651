#pragma once

// ScenePanorama: the still world a simulated camera looks at. A full turn of
// pan around, generated once: a sky-to-floor gradient with a coloured panel
// every 30 degrees of pan, grid lines every 10 degrees and pan labels every
// 30 (so motion shows), and photographs hung on it. By default a footballer
// from Debian's opencv-doc package faces the camera at pan 0, tilt 0, with
// pictures without faces at other pans; a picture that cannot be read is
// left out. Stored as NV12 (BT.709, limited range), as the cameras deliver,
// padded left and right with the other end of the turn so every window the
// lens allows is one piece.
//
// Immutable once built: share it (std::shared_ptr<const>) between cameras
// and threads; render() is reentrant. Building costs some tens of
// milliseconds and about 25 MB at the default density.

#include <memory>
#include <string>
#include <vector>

#include "hollowkit/media/video_frame.h"
#include "hollowkit/simulation/virtual_lens.h"

namespace hollowkit {

class ScenePanorama {
public:
    static constexpr const char* kFacePhotoPath = "/usr/share/doc/opencv-doc/examples/data/messi5.jpg";

    // A photograph hung in the scene: the point `anchorX`, `anchorY` of the
    // picture (shares of its size, origin top-left) lies in the direction
    // `panDegrees`, `tiltDegrees`; it spans `widthDegrees` across.
    struct Picture {
        std::string path;
        double panDegrees = 0;
        double tiltDegrees = 0;
        double widthDegrees = 40;
        double anchorX = 0.5;
        double anchorY = 0.5;

        bool operator==(const Picture&) const = default;
    };

    struct Options {
        // Scene pixels per degree of pan or tilt. 12 gives a 960-pixel window
        // at zoom 1.0x, upscaled to 1080p; more costs memory, not render time.
        double pixelsPerDegree = 12;
        std::vector<Picture> pictures = defaultPictures();
    };

    // The footballer first, his face (at 0.45, 0.33 of the photograph)
    // at pan 0, tilt 0, about 80 degrees wide, so that his face is large
    // enough for a Haar cascade at zoom 1.0x in 1080p; then fruit at pan 75,
    // a building at pan -75 and a painting behind the camera at pan 180.
    static std::vector<Picture> defaultPictures();

    // Never null; an empty picture list gives the bare background.
    static std::shared_ptr<const ScenePanorama> build(const Options& options);
    static std::shared_ptr<const ScenePanorama> build() { return build(Options{}); }

    // The lens over this scene: pan 0, tilt 0 at the scene's centre.
    VirtualLens lens(LensLimits limits = {}) const;

    // The window of the scene scaled to width × height (both even, at most
    // VideoFrame::kMaxDimension; a null frame otherwise), bilinear, NV12.
    // Parts of the window beyond the scene repeat its edge. Any thread.
    VideoFrame render(const SceneWindow& window, int width, int height, TimePoint pts) const;

    // The paths of the pictures that were read and hung, in option order.
    const std::vector<std::string>& hungPictures() const { return hung_; }
    // The whole scene, NV12.
    const VideoFrame& picture() const { return nv12_; }
    double pixelsPerDegree() const { return pixelsPerDegree_; }

private:
    ScenePanorama() = default;

    VideoFrame nv12_;
    double pixelsPerDegree_ = 0;
    double centerX_ = 0;
    double centerY_ = 0;
    std::vector<std::string> hung_;
};

}  // namespace hollowkit
