// The USB camera's per-frame cost, from dequeuing the driver's buffer to
// the frame handler, against the frame interval it must fit in.
//
// convert*: the copy or conversion into the pooled NV12 frame alone (NV12
// copy, YUYV 4:2:2 to 4:2:0, MJPEG decode with libturbojpeg), from a
// prepared picture, at 1080p and 2160p.
// dequeueToHandler*: the whole path through V4l2Stream over a
// FakeV4l2Device: DQBUF of every ready buffer, conversion of the newest,
// QBUF, the handler. The fake's own work of painting the next picture is
// left out (manual timing). The counters give the mean milliseconds per
// frame and that time as a share of the frame interval at 30 frames per
// second: below 1 the stream keeps up without dropping.

#include <benchmark/benchmark.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <chrono>
#include <fcntl.h>
#include <vector>

#include "hollowkit/testing/fake_v4l2_device.h"
#include "hollowkit/usb/capture_frame_converter.h"
#include "hollowkit/usb/linux/v4l2_stream.h"

namespace hollowkit {
namespace {

constexpr double kIntervalMs30 = 1000.0 / 30;

struct Size {
    int width;
    int height;
};

Size sizeOf(const benchmark::State& state) {
    return state.range(0) == 2160 ? Size{3840, 2160} : Size{1920, 1080};
}

void reportPerFrame(benchmark::State& state, double totalSeconds) {
    const double msPerFrame = totalSeconds * 1000.0 / static_cast<double>(state.iterations());
    state.counters["ms_per_frame"] = msPerFrame;
    state.counters["share_of_30fps_interval"] = msPerFrame / kIntervalMs30;
}

Bytes nv12Picture(Size size) {
    Bytes bytes(size_t(size.width) * size_t(size.height) * 3 / 2);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
    return bytes;
}

Bytes yuyvPicture(Size size) {
    Bytes bytes(size_t(size.width) * size_t(size.height) * 2);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    return bytes;
}

// A camera-like picture (smooth gradients with some detail) as a 4:2:2
// JPEG, the subsampling UVC cameras send.
Bytes jpegPicture(Size size) {
    std::vector<uint8_t> rgb(size_t(size.width) * size_t(size.height) * 3);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            uint8_t* p = &rgb[(size_t(y) * size_t(size.width) + size_t(x)) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / size.width);
            p[1] = static_cast<uint8_t>(y * 255 / size.height);
            p[2] = static_cast<uint8_t>(((x / 8) ^ (y / 8)) & 0x3F);
        }
    }
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    tjCompress2(handle, rgb.data(), size.width, 0, size.height, TJPF_RGB, &jpeg, &jpegSize, TJSAMP_422, 85, 0);
    Bytes bytes(jpeg, jpeg + jpegSize);
    tjFree(jpeg);
    tjDestroy(handle);
    return bytes;
}

void convert(benchmark::State& state, uint32_t pixelFormat) {
    const Size size = sizeOf(state);
    const Bytes bytes = pixelFormat == kFourccNv12   ? nv12Picture(size)
                        : pixelFormat == kFourccYuyv ? yuyvPicture(size)
                                                     : jpegPicture(size);
    const size_t stride = pixelFormat == kFourccNv12 ? size_t(size.width)
                          : pixelFormat == kFourccYuyv ? size_t(size.width) * 2
                                                       : 0;
    const RawPicture picture{pixelFormat, size.width, size.height, stride, bytes};
    CaptureFrameConverter converter;
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        VideoFrame frame = converter.convert(picture, TimePoint{});
        benchmark::DoNotOptimize(frame);
        if (!frame) state.SkipWithError("conversion failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    reportPerFrame(state, total);
}

void convertNv12(benchmark::State& state) {
    convert(state, kFourccNv12);
}
void convertYuyv(benchmark::State& state) {
    convert(state, kFourccYuyv);
}
void convertMjpeg(benchmark::State& state) {
    convert(state, kFourccMjpeg);
}
BENCHMARK(convertNv12)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);
BENCHMARK(convertYuyv)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);
BENCHMARK(convertMjpeg)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);

void dequeueToHandler(benchmark::State& state, uint32_t pixelFormat) {
    const Size size = sizeOf(state);
    const Clock& clock = Clock::system();
    FakeV4l2Device device(clock);
    device.setFormats({{pixelFormat, "bench", {{uint32_t(size.width), uint32_t(size.height), {{1, 30}}, {}}}}});
    const int fd = device.open(device.path(), O_RDWR | O_NONBLOCK);
    const FakeV4l2Device::CurrentFormat current = device.currentFormat();
    const V4l2StreamFormat format{current.pixelFormat, int(current.width), int(current.height), current.bytesPerLine,
                                  current.sizeImage};
    auto stream = V4l2Stream::start(device, fd, format, clock);
    if (!stream) {
        state.SkipWithError("stream did not start");
        return;
    }
    benchmark::IterationCount handled = 0;
    const auto handler = [&](const VideoFrame& frame) { handled += frame.isNull() ? 0 : 1; };
    double total = 0;
    for (auto _ : state) {
        device.produceFrame();
        const auto start = std::chrono::steady_clock::now();
        auto taken = stream.value()->takeNewest();
        if (taken && taken.value()) handler(taken.value());
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (handled != state.iterations()) state.SkipWithError("frames were lost");
    reportPerFrame(state, total);
    stream.value().reset();
    device.close(fd);
}

void dequeueToHandlerNv12(benchmark::State& state) {
    dequeueToHandler(state, V4L2_PIX_FMT_NV12);
}
void dequeueToHandlerYuyv(benchmark::State& state) {
    dequeueToHandler(state, V4L2_PIX_FMT_YUYV);
}
void dequeueToHandlerMjpeg(benchmark::State& state) {
    dequeueToHandler(state, V4L2_PIX_FMT_MJPEG);
}
BENCHMARK(dequeueToHandlerNv12)->Arg(1080)->Arg(2160)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(dequeueToHandlerYuyv)->Arg(1080)->Arg(2160)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(dequeueToHandlerMjpeg)->Arg(1080)->Arg(2160)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit

