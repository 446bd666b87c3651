// Costs on the per-frame path at 4K NV12: passing a handle, copying a
// decoder's picture in, and cycling a pooled buffer.

#include <benchmark/benchmark.h>

#include <vector>

#include "hollowkit/media/pixel_buffer_pool.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {
namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

void handleCopy(benchmark::State& state) {
    const VideoFrame frame = WritableVideoFrame::allocate(PixelFormat::nv12, kWidth, kHeight).freeze(TimePoint{});
    for (auto _ : state) {
        VideoFrame copy = frame;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(handleCopy);

void copyFromDecoderPlanes(benchmark::State& state) {
    // Decoders pad rows to their own alignment; 3840 + 32 forces the row loop.
    const size_t stride = kWidth + 32;
    std::vector<uint8_t> luma(stride * kHeight, 16);
    std::vector<uint8_t> chroma(stride * kHeight / 2, 128);
    const PlaneView planes[] = {{luma.data(), stride}, {chroma.data(), stride}};
    for (auto _ : state) {
        VideoFrame frame = VideoFrame::copyFrom(PixelFormat::nv12, kWidth, kHeight, planes, TimePoint{});
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kWidth * kHeight * 3 / 2));
}
BENCHMARK(copyFromDecoderPlanes)->Unit(benchmark::kMillisecond);

void pooledAcquireAndRelease(benchmark::State& state) {
    PixelBufferPool pool(PixelFormat::nv12, kWidth, kHeight);
    for (auto _ : state) {
        VideoFrame frame = pool.acquire().freeze(TimePoint{});
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(pooledAcquireAndRelease);

void freshAllocateAndRelease(benchmark::State& state) {
    for (auto _ : state) {
        WritableVideoFrame writable = WritableVideoFrame::allocate(PixelFormat::nv12, kWidth, kHeight);
        // Touch every page, as a producer writing the picture would.
        for (int plane = 0; plane < 2; ++plane) {
            const PlaneSize size = planeSize(PixelFormat::nv12, kWidth, kHeight, plane);
            for (int y = 0; y < size.rows; y += 1) {
                writable.row(plane, y)[0] = 1;
            }
        }
        VideoFrame frame = std::move(writable).freeze(TimePoint{});
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(freshAllocateAndRelease)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit

