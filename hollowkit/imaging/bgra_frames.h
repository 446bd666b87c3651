#pragma once

// Turning camera frames into BGRA pictures for the imaging code that works on
// colour pixels (background treatment, segmentation input). NV12 is read as
// BT.709 with limited ("video") range, as the camera codes its HD video,
// through the same tables as the colour look (nv12_tables.h). Pure
// functions, any thread.

#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class RowWorkers;

// Draws `frame` (NV12 or BGRA) into `output` (BGRA) at the output's size:
// areas are averaged when shrinking, interpolated when growing. False, with
// `output` untouched, for a null frame, another format or a null output.
// The conversion's rows are shared among `workers` when given.
bool drawAsBgra(const VideoFrame& frame, WritableVideoFrame& output, RowWorkers* workers = nullptr);

// `frame` as BGRA of the same size and time: a BGRA frame comes back as it
// is (shared pixels); NV12 is converted. Null for anything else.
VideoFrame asBgra(const VideoFrame& frame);

}  // namespace hollowkit
