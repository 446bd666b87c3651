// Time to turn one camera frame into a HEIF photo (encode and write) at
// 1080p and 2160p, from NV12 (a camera frame as decoded) and from BGRA (a
// frame after a colour look), and the 320-wide JPEG thumbnail. Wall time:
// the HEVC encoder works on its own threads.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "hollowkit/recording/photo_writer.h"

namespace hollowkit {
namespace {

// A picture with what a camera sees: smooth gradients, hard edges and sensor
// grain, so the encoder has realistic work (a flat frame costs next to nothing).
VideoFrame scene(PixelFormat format, int width, int height) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(format, width, height);
    uint32_t seed = 12345;
    const auto grain = [&seed] {
        seed = seed * 1664525U + 1013904223U;
        return static_cast<int>(seed >> 29) - 4;  // -4...3
    };
    const auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (int y = 0; y < height; ++y) {
        auto row = frame.row(0, y);
        for (int x = 0; x < width; ++x) {
            const bool box = (x / (width / 6) + y / (height / 4)) % 3 == 0;
            const int base = 40 + 150 * x / width + 30 * y / height + (box ? 50 : 0);
            if (format == PixelFormat::nv12) {
                row[static_cast<size_t>(x)] = clamp(base + grain());
            } else {
                uint8_t* p = &row[static_cast<size_t>(x) * 4];
                p[0] = clamp(base / 2 + 60 + grain());
                p[1] = clamp(base + grain());
                p[2] = clamp(220 - base / 2 + grain());
                p[3] = 255;
            }
        }
    }
    if (format == PixelFormat::nv12) {
        for (int y = 0; y < (height + 1) / 2; ++y) {
            auto row = frame.row(1, y);
            for (size_t i = 0; i < row.size(); i += 2) {
                row[i] = clamp(100 + static_cast<int>(i * 60 / row.size()) + grain() / 2);
                row[i + 1] = clamp(160 - y * 60 / height + grain() / 2);
            }
        }
    }
    return std::move(frame).freeze(TimePoint{});
}

void heifPhoto(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const int width = height * 16 / 9;
    const auto format = state.range(1) == 0 ? PixelFormat::nv12 : PixelFormat::bgra;
    const VideoFrame frame = scene(format, width, height);
    const auto folder = std::filesystem::temp_directory_path() / ("hk-photo-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const PhotoPlace place{folder, std::chrono::system_clock::now()};
    uintmax_t bytes = 0;
    for (auto _ : state) {
        const auto written = PhotoWriter::writeNow(frame, place);
        if (!written) {
            state.SkipWithError(written.error().userMessage().c_str());
            break;
        }
        bytes = std::filesystem::file_size(*written);
        std::filesystem::remove(*written);
    }
    std::filesystem::remove_all(folder);
    state.counters["fileKB"] = static_cast<double>(bytes) / 1024.0;
    state.SetLabel(format == PixelFormat::nv12 ? "nv12" : "bgra");
}
BENCHMARK(heifPhoto)
    ->ArgsProduct({{1080, 2160}, {0, 1}})
    ->ArgNames({"height", "bgra"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

void jpegThumbnail(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const VideoFrame frame = scene(PixelFormat::nv12, height * 16 / 9, height);
    for (auto _ : state) {
        auto jpeg = PhotoWriter::jpegThumbnailNow(frame, 320);
        benchmark::DoNotOptimize(jpeg);
    }
}
BENCHMARK(jpegThumbnail)->Arg(1080)->Arg(2160)->ArgName("height")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit

