#pragma once

// BubbleCompositor draws one frame of a combined screen-and-camera video: a
// black canvas, the screen cut to the zoom rectangle of the moment and scaled
// to fill the canvas, and over it the camera, either as a round bubble with a
// thin light ring and a soft shadow (the room kept, blurred or removed) or as
// the person cut out of the room, standing on the canvas's lower edge with
// faded sides and a soft shadow.
//
// All geometry here is in canvas pixels with the origin at the top left, y
// downwards; the bubble rectangle of bubble_geometry.h (origin bottom left)
// is turned over once, in bubbleSquare(). The camera is drawn as a layer of
// premultiplied BGRA pixels that can be laid over a BGRA canvas or straight
// onto the Y'CbCr 4:2:0 planes an encoder takes, so a composer never has to
// turn whole frames into RGB and back.
//
// The person mask of a blurred or removed room and of a cut-out is seeded by
// the face in the camera picture, looked for a few times a second of the
// movie (FaceSearch) in the part of the picture the bubble shows; without a
// face the segmenter assumes a person in the middle.
//
// One owner (the thread drawing a combined movie's frames); calls must not
// overlap. Rows of
// large pictures are shared out to the compositor's own RowWorkers. Nothing
// fails: a missing screen leaves black, a missing camera frame (or a cut-out
// without a person mask) leaves the bubble out of that frame.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "hollowkit/imaging/face_detector_backend.h"
#include "hollowkit/imaging/face_search.h"
#include "hollowkit/imaging/person_segmenter.h"
#include "hollowkit/imaging/row_workers.h"
#include "hollowkit/imaging/segmentation_backend.h"
#include "hollowkit/media/bubble_style.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/media/pixel_buffer_pool.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/recording/frame_size_change.h"
#include "hollowkit/recording/zoom_planner.h"

namespace hollowkit {

class BgraScratch;
class BlurScratch;

// A rectangle in pixels, origin at the top left.
struct PixelRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }

    bool operator==(const PixelRect&) const = default;
};

// Everything the compositor needs of a take besides its frames.
struct BubbleInstruction {
    BubbleStyle style;
    ZoomPath zoom;                            // ZoomPath::none(): never zoomed
    std::vector<FrameSizeChange> cameraFrames;  // the camera's picture sizes, in recorded order
};

// Premultiplied BGRA pixels placed on the canvas at (x, y); parts outside
// the canvas are clipped when the layer is laid down.
struct BubbleLayer {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width x height x 4, rows packed

    const uint8_t* row(int r) const { return pixels.data() + static_cast<size_t>(r) * static_cast<size_t>(width) * 4; }
    uint8_t* row(int r) { return pixels.data() + static_cast<size_t>(r) * static_cast<size_t>(width) * 4; }
};

// One 8-bit plane of a picture.
struct ImagePlane {
    const uint8_t* data = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};
struct MutableImagePlane {
    uint8_t* data = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

// Y'CbCr 4:2:0 (BT.709, limited range) as three planes; the chroma planes
// have half the width and height, rounded up.
struct Yuv420View {
    ImagePlane planes[3];
    int width() const { return planes[0].width; }
    int height() const { return planes[0].height; }
};
struct Yuv420Canvas {
    MutableImagePlane planes[3];
    int width() const { return planes[0].width; }
    int height() const { return planes[0].height; }
};

class BubbleCompositor {
public:
    // The bubble's ring: white at 22 %, this many pixels (at least 2) wider
    // than the face per pixel of bubble width.
    static constexpr double kRingShare = 0.012;
    static constexpr int kMinRingWidth = 2;

    // Without a backend, people are found with GrabCut, and without a face
    // backend faces with the Haar cascade. `threads` counts the caller's
    // thread too.
    explicit BubbleCompositor(BubbleInstruction instruction, std::unique_ptr<SegmentationBackend> backend = nullptr,
                              int threads = RowWorkers::defaultThreadCount(),
                              std::unique_ptr<FaceDetectorBackend> faces = nullptr);
    ~BubbleCompositor();
    BubbleCompositor(const BubbleCompositor&) = delete;
    BubbleCompositor& operator=(const BubbleCompositor&) = delete;

    const BubbleInstruction& instruction() const { return instruction_; }

    // One whole frame at `seconds` into `canvas` (BGRA, the render size):
    // black, the screen (when given), the camera's bubble (when given).
    // False only when the canvas is not a BGRA picture.
    bool render(const VideoFrame* screen, const VideoFrame* camera, double seconds, WritableVideoFrame& canvas);

    // The screen (NV12 or BGRA; NV12 is converted first) cut to the zoom
    // rectangle at `seconds` and scaled to cover the BGRA canvas, centred.
    void drawScreen(const VideoFrame& screen, double seconds, WritableVideoFrame& canvas);
    // The same on Y'CbCr planes, plane by plane.
    void drawScreen(const Yuv420View& screen, double seconds, Yuv420Canvas& canvas);

    // The camera's bubble for a frame at `seconds` on a canvas of the given
    // size, or null when nothing is drawn (a cut-out without a person mask).
    // The layer stays valid until the next call. `camera` is NV12 or BGRA.
    const BubbleLayer* bubbleLayer(const VideoFrame& camera, double seconds, int canvasWidth, int canvasHeight);
    // The same from a decoded camera picture in 4:2:0 planes.
    const BubbleLayer* bubbleLayer(const Yuv420View& camera, double seconds, int canvasWidth, int canvasHeight);

    // Lays a layer over a canvas (source over, clipped to the canvas).
    static void blendLayer(const BubbleLayer& layer, WritableVideoFrame& canvas);
    static void blendLayer(const BubbleLayer& layer, Yuv420Canvas& canvas);

    // --- Geometry, exposed for the composer and for tests. ---

    // The camera's picture size in force at `seconds`: the last change at or
    // before it; none before the first change.
    static const FrameSizeChange* sizeInForce(std::span<const FrameSizeChange> changes, double seconds);
    // Where the live picture sits inside a camera frame of `extent`: the
    // frame itself when no size is in force or the size already has the
    // frame's shape (within 2 pixels); otherwise the size fitted and centred,
    // its rim (1 % a side, rounded up) dropped.
    static PixelRect cameraContentRect(const PixelRect& extent, const FrameSizeChange* size);
    // The square of the picture a circle shows: the full height of a
    // landscape picture; for a portrait one a fifth of the spare height
    // below its top.
    static PixelRect circleCrop(const PixelRect& content);
    // The bubble's square on a canvas, top-left origin.
    static PixelRect bubbleSquare(const BubbleStyle& style, int canvasWidth, int canvasHeight);
    // Ring width in pixels for a bubble this wide: 1.2 % rounded, at least 2.
    static int ringWidth(double bubbleWidth);
    // The part of the screen (in its own pixels) that covers the canvas when
    // the zoom rectangle `zoom` is scaled to fill it, centred.
    static PixelRect screenSourceRect(const ZoomRect& zoom, int screenWidth, int screenHeight, int canvasWidth,
                                      int canvasHeight);

    // Pictures searched for a face are brought down to at most this wide
    // (the Haar search's own working width).
    static constexpr int kFaceSearchWidth = 640;

private:
    struct CircleCache;
    struct CameraSource;

    const BubbleLayer* layerFor(const CameraSource& camera, double seconds, int canvasWidth, int canvasHeight);
    const BubbleLayer* circleLayer(const CameraSource& camera, const PixelRect& content, double seconds,
                                   int canvasWidth, int canvasHeight);
    const BubbleLayer* cutoutLayer(const CameraSource& camera, const PixelRect& content, double seconds,
                                   int canvasWidth, int canvasHeight);
    // `camera` cut to `crop` and scaled to width x height, as BGRA, from
    // `pool` through `scaler`.
    static VideoFrame scaledPicture(const CameraSource& camera, const PixelRect& crop, int width, int height,
                                    std::unique_ptr<PixelBufferPool>& pool, ffmpeg::SwsContextPtr& scaler);
    // The face in the part `crop` of the camera picture at `seconds`
    // (normalised to the crop), searched for when a search is due.
    std::optional<NormalizedRect> faceIn(const CameraSource& camera, const PixelRect& crop, double seconds);

    const BubbleInstruction instruction_;
    PersonSegmenter segmenter_;
    RowWorkers workers_;
    std::unique_ptr<CircleCache> circle_;    // the ring, shadow and disc of the current canvas size
    std::unique_ptr<PixelBufferPool> pictures_;  // camera pictures at the bubble's size
    std::unique_ptr<PixelBufferPool> treated_;   // the same with the room treated
    // The working pictures of the room's blur (at the bubble's size) and of
    // an NV12 screen drawn as BGRA: kept while the compositor draws, gone
    // with it when its composition ends.
    const std::unique_ptr<BlurScratch> blur_;
    const std::unique_ptr<BgraScratch> screenPictures_;
    BubbleLayer layer_;                          // the cut-out's layer, rebuilt each frame
    std::vector<uint8_t> shadow_;                // scratch: the cut-out's shadow alpha
    std::vector<uint8_t> personMask_;            // scratch: the cut-out's faded mask
    ffmpeg::SwsContextPtr scaler_;               // camera crops to BGRA at the bubble's size
    FaceSearch faces_;                           // the face the person masks are seeded by
    PixelRect faceCrop_;                         // the part of the picture faces_ searched
    std::unique_ptr<PixelBufferPool> searched_;  // camera crops at the search's size
    ffmpeg::SwsContextPtr searchScaler_;         // camera crops to BGRA at the search's size
};

}  // namespace hollowkit
