// Distinct moving NV12 pictures with texture and a little noise, like a
// camera's: what the recording benchmarks feed their recorders, so the
// encoder has real work and the figures compare.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "hollowkit/media/video_frame.h"

namespace benchsupport {

inline std::vector<hollowkit::VideoFrame> cameraFrames(int width, int height, int count) {
    std::vector<hollowkit::VideoFrame> frames;
    uint32_t seed = 12345;
    for (int index = 0; index < count; ++index) {
        auto frame = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::nv12, width, height);
        for (int y = 0; y < height; ++y) {
            auto row = frame.row(0, y);
            for (int x = 0; x < width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                row[static_cast<size_t>(x)] =
                    static_cast<uint8_t>(32 + ((x / 4 + y / 4 + index * 6) % 160) + (seed >> 30));
            }
        }
        for (int y = 0; y < height / 2; ++y) {
            auto row = frame.row(1, y);
            for (size_t i = 0; i < row.size(); ++i) {
                row[i] = static_cast<uint8_t>(100 + ((static_cast<int>(i) / 8 + y / 8 + index) % 56));
            }
        }
        frames.push_back(std::move(frame).freeze(hollowkit::TimePoint{}));
    }
    return frames;
}

}  // namespace benchsupport
