#pragma once

// Turning camera frames into BGRA pictures for the imaging code that works on
// colour pixels (background treatment, segmentation input). NV12 is read as
// BT.709 with limited ("video") range, as the camera codes its HD video,
// through the same tables as the colour look (nv12_tables.h). Pure
// functions, any thread.

#include <cstddef>
#include <memory>

#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class RowWorkers;

// What converting picture after picture works in: the scaled planes of an
// NV12 picture drawn at another size, and asBgra's pictures (a pool, so a
// picture comes back for reuse once its last frame is gone). Kept by the
// owner of such a path and reused: made and freed per picture, a frame-sized
// block would be mapped and zeroed anew each time (memory_settings.h). The
// owner lets them go when its path goes idle, by release() or by destroying
// it; frames handed out stay valid. One thread at a time.
class BgraScratch {
public:
    struct Parts;  // what the conversions keep; made on first use

    BgraScratch();
    ~BgraScratch();
    BgraScratch(const BgraScratch&) = delete;
    BgraScratch& operator=(const BgraScratch&) = delete;

    // Frees the planes and the pictures waiting for reuse.
    void release();
    // The bytes held now: the planes and the pictures waiting for reuse.
    size_t heldBytes() const;
    Parts& parts();

private:
    std::unique_ptr<Parts> parts_;
};

// Draws `frame` (NV12 or BGRA) into `output` (BGRA) at the output's size:
// areas are averaged when shrinking, interpolated when growing. False, with
// `output` untouched, for a null frame, another format or a null output.
// The conversion's rows are shared among `workers` when given. NV12 drawn
// at another size is scaled in `scratch` when given, else in planes made
// for this call alone.
bool drawAsBgra(const VideoFrame& frame, WritableVideoFrame& output, RowWorkers* workers = nullptr,
                BgraScratch* scratch = nullptr);

// `frame` as BGRA of the same size and time: a BGRA frame comes back as it
// is (shared pixels); NV12 is converted, into a picture from `scratch` when
// given, else into a new one. Null for anything else.
VideoFrame asBgra(const VideoFrame& frame, BgraScratch* scratch = nullptr);

}  // namespace hollowkit
