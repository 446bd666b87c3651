// Colour-look throughput: our FrameProcessor against FFmpeg's lut3d filter
// (trilinear) on the same frames and the same ".cube" file, at 1080p and 4K,
// on one thread and on all of them. Figures are megapixels per second
// ("MP/s"; items are pixels).
//
// FFmpeg runs as a child process over 30 frames of raw video; the time of
// the same run with a pass-through filter is subtracted, so its figure is the
// filter alone (decoding the raw frames and the process start excluded).
// It is skipped with a message when ffmpeg is not installed.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/imaging/frame_processor.h"
#include "hollowkit/imaging/lut_engine.h"
#include "hollowkit/imaging/lut_library.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {
namespace {

constexpr int kFfmpegFrames = 30;

const std::filesystem::path& workDir() {
    static const std::filesystem::path dir = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("lut_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return dir;
}

// The "Teal & Orange" look written out as a ".cube" file, so both sides read
// the very same numbers.
const std::string& cubePath() {
    static const std::string path = [] {
        const ColorLUT& look = *LUTLibrary::builtInLook("builtin.teal-orange");
        const auto file = (workDir() / "teal-orange.cube").string();
        std::ofstream out(file);
        out << "LUT_3D_SIZE " << look.dimension << "\n";
        char line[96];
        for (size_t i = 0; i < look.rgba.size(); i += 4) {
            std::snprintf(line, sizeof line, "%.7f %.7f %.7f\n", look.rgba[i], look.rgba[i + 1],
                          look.rgba[i + 2]);
            out << line;
        }
        return file;
    }();
    return path;
}

// A camera-like picture: smooth gradients with texture, so table lookups
// wander the way they do on real footage.
VideoFrame picture(PixelFormat format, int width, int height) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(format, width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.row(0, y).data();
        for (int x = 0; x < width; ++x) {
            const int texture = (x * 7 + y * 13) % 23;
            if (format == PixelFormat::bgra) {
                row[4 * x] = static_cast<uint8_t>(x * 255 / width);
                row[4 * x + 1] = static_cast<uint8_t>(y * 255 / height + texture / 2);
                row[4 * x + 2] = static_cast<uint8_t>(((x + y) * 255 / (width + height)) ^ texture);
                row[4 * x + 3] = 255;
            } else {
                row[x] = static_cast<uint8_t>(16 + (x + y) * 219 / (width + height) + texture / 3);
            }
        }
    }
    if (format == PixelFormat::nv12) {
        for (int y = 0; y < (height + 1) / 2; ++y) {
            uint8_t* row = frame.row(1, y).data();
            for (int x = 0; x < (width + 1) / 2; ++x) {
                row[2 * x] = static_cast<uint8_t>(64 + x * 128 / width);
                row[2 * x + 1] = static_cast<uint8_t>(192 - y * 128 / height);
            }
        }
    }
    return std::move(frame).freeze(TimePoint{});
}

int allThreads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

void setRate(benchmark::State& state, int64_t pixels) {
    state.SetItemsProcessed(state.iterations() * pixels);
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

// Arguments: width, height, threads (0 = all), pixel format (0 = BGRA, 1 = NV12).
void lookThroughput(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int threads = state.range(2) == 0 ? allThreads() : static_cast<int>(state.range(2));
    const PixelFormat format = state.range(3) == 0 ? PixelFormat::bgra : PixelFormat::nv12;

    FrameProcessor::Options options;
    options.threadCount = threads;
    FrameProcessor processor(options);
    auto lut = ColorLUT::load(cubePath());
    if (!lut) {
        state.SkipWithError("could not read the look");
        return;
    }
    processor.setLUT(*lut);
    const VideoFrame frame = picture(format, width, height);
    for (auto _ : state) {
        VideoFrame out = processor.process(frame);
        benchmark::DoNotOptimize(out);
    }
    state.SetLabel(std::string(format == PixelFormat::bgra ? "BGRA" : "NV12") + ", " +
                   std::to_string(threads) + (threads == 1 ? " thread" : " threads") +
                   (LutEngine::hasVectorKernel() ? "" : ", portable loop"));
    setRate(state, int64_t{width} * height);
}

// The look's preparation when it is selected (table, axes), not per frame.
void lookSelection(benchmark::State& state) {
    const ColorLUT& look = *LUTLibrary::builtInLook("builtin.teal-orange");
    for (auto _ : state) {
        auto engine = LutEngine::prepare(look);
        benchmark::DoNotOptimize(engine);
    }
}

bool haveFfmpeg() {
    static const bool have = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    return have;
}

// One raw frame on disk, looped kFfmpegFrames times by FFmpeg's demuxer.
std::string rawFrame(PixelFormat format, int width, int height) {
    const auto path = (workDir() / ((format == PixelFormat::bgra ? "bgra_" : "nv12_") +
                                    std::to_string(width) + "x" + std::to_string(height) + ".raw"))
                          .string();
    if (std::filesystem::exists(path)) return path;
    const VideoFrame frame = picture(format, width, height);
    std::ofstream out(path, std::ios::binary);
    for (int plane = 0; plane < frame.planeCount(); ++plane) {
        const PlaneSize size = planeSize(format, width, height, plane);
        for (int y = 0; y < size.rows; ++y) {
            out.write(reinterpret_cast<const char*>(frame.row(plane, y).data()),
                      static_cast<std::streamsize>(size.rowBytes));
        }
    }
    return path;
}

double secondsOf(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto end = std::chrono::steady_clock::now();
    if (status != 0) return -1;
    return std::chrono::duration<double>(end - start).count();
}

// Arguments as for lookThroughput.
void ffmpegLut3d(benchmark::State& state) {
    if (!haveFfmpeg()) {
        state.SkipWithError("ffmpeg is not installed: no comparison");
        return;
    }
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int threads = state.range(2) == 0 ? allThreads() : static_cast<int>(state.range(2));
    const PixelFormat format = state.range(3) == 0 ? PixelFormat::bgra : PixelFormat::nv12;
    const std::string input = rawFrame(format, width, height);

    const std::string head = "ffmpeg -nostdin -v error -threads 1 -filter_threads " +
                             std::to_string(threads) + " -stream_loop " +
                             std::to_string(kFfmpegFrames - 1) + " -f rawvideo -pix_fmt " +
                             (format == PixelFormat::bgra ? "bgra" : "nv12") + " -s " +
                             std::to_string(width) + "x" + std::to_string(height) + " -i '" +
                             input + "' -vf ";
    // The pass-through run has the same pixel-format conversions as the look
    // run (NV12 needs one before lut3d), so only the filter's work remains.
    const std::string convert = format == PixelFormat::nv12 ? "format=bgra," : "";
    const std::string withLook = head + "'" + convert + "lut3d=file=" + cubePath() +
                                 ":interp=trilinear' -f null - 2>&1";
    const std::string withoutLook = head + "'" + convert + "null' -f null - 2>&1";

    for (auto _ : state) {
        const double look = secondsOf(withLook);
        const double plain = secondsOf(withoutLook);
        if (look < 0 || plain < 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        // Net filter time per frame; never below a microsecond.
        state.SetIterationTime(std::max(1e-6, (look - plain) / kFfmpegFrames));
    }
    state.SetLabel(std::string("ffmpeg lut3d, ") + (format == PixelFormat::bgra ? "BGRA" : "NV12") +
                   ", " + std::to_string(threads) + (threads == 1 ? " thread" : " threads"));
    setRate(state, int64_t{width} * height);
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int format : {0, 1}) {
        for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
            for (int threads : {1, 0}) b->Args({w, h, threads, format});
        }
    }
    b->ArgNames({"w", "h", "threads", "nv12"});
}

BENCHMARK(lookThroughput)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ffmpegLut3d)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(lookSelection)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit

int main(int argc, char** argv) {
    hollowkit::installFfmpegLogging();
    hollowkit::applyMemorySettings();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(hollowkit::workDir());
    return 0;
}
