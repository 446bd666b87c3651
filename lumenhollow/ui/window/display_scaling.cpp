#include "lumenhollow/ui/window/display_scaling.h"

#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/imaging/nv12_display_scaler.h"

namespace lumenhollow {

bool drawForDisplay(const hollowkit::VideoFrame& frame, hollowkit::WritableVideoFrame& output) {
    if (frame.isNull() || output.isNull() || output.pixelFormat() != hollowkit::PixelFormat::bgra) return false;
    if (frame.pixelFormat() != hollowkit::PixelFormat::nv12) return hollowkit::drawAsBgra(frame, output);
    // Kept per thread: a delivering thread draws frame after frame at one
    // size, so its tables and rows are made once.
    thread_local hollowkit::Nv12DisplayScaler scaler;
    return scaler.draw(hollowkit::Nv12Planes{frame.planeData(0), frame.stride(0), frame.planeData(1), frame.stride(1),
                                  frame.width(), frame.height()},
                       hollowkit::BgraTarget{output.planeData(0), output.stride(0), output.width(), output.height()});
}

}  // namespace lumenhollow
