// The Wi-Fi live view's picture path against libavcodec alone, on the same
// HEVC stream in the same run: video datagrams -> HevcStreamAssembler ->
// FfmpegHevcDecoder -> frame handler (NV12 frames), versus whole Annex-B
// access units fed straight to libavcodec with the same thread settings.
//
// Streams (60 frames, an IDR every 30, 1080p30 and 2160p30, with grain so
// the bit rate is near a camera's) are encoded once with libx265 when a
// benchmark first needs them. Arguments: picture height, decoder threads
// (0: one per core). BM_PipelineOverBare runs a pass of each per iteration,
// so both see the same machine load, and reports cost_ratio = pipeline time
// over bare time (the aim is at most 1.15).
//
// Set LIVE_VIEW_BENCH_DUMP to a folder to also write the streams there as
// .hevc files (to compare with `ffmpeg -i stream.hevc -f null -`).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/reference_hevc_decoder.h"
#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit {
namespace {

constexpr int kFrames = 60;
constexpr size_t kDatagramBytes = 1400;
constexpr uint16_t kSession = 0x2468;

class QuietSink final : public LogSink {
public:
    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view) override {}
};

struct TestStream {
    std::vector<HevcAccessUnit> units;
    std::vector<Bytes> datagrams;  // headers filled in, numbers patched per pass
    size_t bytes = 0;
};

const TestStream* streamFor(int height, std::string* error) {
    static std::map<int, TestStream> streams;
    if (auto found = streams.find(height); found != streams.end()) {
        return &found->second;
    }
    HevcTestStreamOptions options;
    options.height = height;
    options.width = height * 16 / 9;
    options.framesPerSecond = 30;
    options.gopLength = 30;
    options.grain = 8;
    auto units = encodeHevcTestStream(options, kFrames);
    if (!units) {
        *error = units.error();
        return nullptr;
    }
    TestStream stream;
    stream.units = std::move(units).value();
    for (const HevcAccessUnit& unit : stream.units) {
        stream.bytes += unit.bytes.size();
        for (Bytes& d : splitIntoVideoDatagrams(unit.bytes, kDatagramBytes)) {
            const Bytes header = packetHeader(UdpPacketType::video, d.size() - kUdpHeaderLength, kSession, 0);
            std::copy(header.begin(), header.end(), d.begin());
            stream.datagrams.push_back(std::move(d));
        }
    }
    if (const char* folder = std::getenv("LIVE_VIEW_BENCH_DUMP")) {
        const std::string path = std::string(folder) + "/live_view_" + std::to_string(height) + "p.hevc";
        if (FILE* file = std::fopen(path.c_str(), "wb")) {
            const Bytes all = joinAccessUnits(stream.units);
            std::fwrite(all.data(), 1, all.size(), file);
            std::fclose(file);
        }
    }
    return &streams.emplace(height, std::move(stream)).first->second;
}

// Our path, kept across passes as the video thread keeps it across frames.
struct Pipeline {
    HevcStreamAssembler assembler;
    FfmpegHevcDecoder decoder;
    int64_t frames = 0;
    uint16_t sequence = 0;

    explicit Pipeline(int threads) : decoder(Clock::system(), FfmpegHevcDecoderOptions{threads}) {
        assembler.setOnSample([this](const HevcSample& sample) { decoder.decode(sample); });
        decoder.setOnFrame([this](const VideoFrame& frame) {
            benchmark::DoNotOptimize(frame.planeData(0));
            ++frames;
        });
    }

    void pass(std::vector<Bytes>& datagrams) {
        for (Bytes& d : datagrams) {
            // The camera numbers every datagram; a new pass goes on counting.
            sequence = static_cast<uint16_t>(sequence == 0xFFFF ? 1 : sequence + 1);
            d[4] = static_cast<uint8_t>(sequence);
            d[5] = static_cast<uint8_t>(sequence >> 8);
            assembler.push(d);
        }
    }
};

struct Bare {
    std::unique_ptr<ReferenceHevcDecoder> decoder;
    int64_t frames = 0;

    void pass(const std::vector<HevcAccessUnit>& units) {
        for (const HevcAccessUnit& unit : units) {
            frames += decoder->decode(unit.bytes);
        }
    }
};

int threadsFor(int argument) {
    if (argument > 0) {
        return argument;
    }
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
}

void setUp(benchmark::State& state, const TestStream** stream) {
    static QuietSink sink;
    PocketLog::setSinkForTesting(&sink);
    std::string error;
    *stream = streamFor(static_cast<int>(state.range(0)), &error);
    if (*stream == nullptr) {
        state.SkipWithError(error.c_str());
    }
}

void BM_Pipeline(benchmark::State& state) {
    const TestStream* stream = nullptr;
    setUp(state, &stream);
    if (stream == nullptr) {
        return;
    }
    std::vector<Bytes> datagrams = stream->datagrams;
    Pipeline pipeline(threadsFor(static_cast<int>(state.range(1))));
    pipeline.pass(datagrams);  // warm: decoder session, buffer pools
    if (pipeline.frames != kFrames) {
        state.SkipWithError("the pipeline lost frames on a clean stream");
        return;
    }
    pipeline.frames = 0;
    for (auto _ : state) {
        pipeline.pass(datagrams);
    }
    state.SetItemsProcessed(pipeline.frames);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(pipeline.frames), benchmark::Counter::kIsRate);
}

void BM_BareDecode(benchmark::State& state) {
    const TestStream* stream = nullptr;
    setUp(state, &stream);
    if (stream == nullptr) {
        return;
    }
    auto decoder = ReferenceHevcDecoder::create(threadsFor(static_cast<int>(state.range(1))));
    if (!decoder) {
        state.SkipWithError(decoder.error().c_str());
        return;
    }
    Bare bare{std::move(decoder).value()};
    bare.pass(stream->units);
    bare.frames = 0;
    for (auto _ : state) {
        bare.pass(stream->units);
    }
    state.SetItemsProcessed(bare.frames);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(bare.frames), benchmark::Counter::kIsRate);
}

void BM_PipelineOverBare(benchmark::State& state) {
    const TestStream* stream = nullptr;
    setUp(state, &stream);
    if (stream == nullptr) {
        return;
    }
    const int threads = threadsFor(static_cast<int>(state.range(1)));
    auto decoder = ReferenceHevcDecoder::create(threads);
    if (!decoder) {
        state.SkipWithError(decoder.error().c_str());
        return;
    }
    Bare bare{std::move(decoder).value()};
    std::vector<Bytes> datagrams = stream->datagrams;
    Pipeline pipeline(threads);
    bare.pass(stream->units);
    pipeline.pass(datagrams);
    bare.frames = 0;
    pipeline.frames = 0;
    using Clock = std::chrono::steady_clock;
    Clock::duration bareTime{};
    Clock::duration pipelineTime{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        bare.pass(stream->units);
        const auto t1 = Clock::now();
        pipeline.pass(datagrams);
        const auto t2 = Clock::now();
        bareTime += t1 - t0;
        pipelineTime += t2 - t1;
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    const double bareSeconds = std::chrono::duration<double>(bareTime).count();
    const double pipelineSeconds = std::chrono::duration<double>(pipelineTime).count();
    state.counters["bare_fps"] = static_cast<double>(bare.frames) / bareSeconds;
    state.counters["pipeline_fps"] = static_cast<double>(pipeline.frames) / pipelineSeconds;
    state.counters["cost_ratio"] = pipelineSeconds / bareSeconds;
    state.counters["stream_kB_per_frame"] = static_cast<double>(stream->bytes) / kFrames / 1000.0;
}

// Heights 1080 and 2160; threads 1 (one core) and 0 (one per core).
void streamArgs(benchmark::internal::Benchmark* b) {
    for (int height : {1080, 2160}) {
        for (int threads : {1, 0}) {
            b->Args({height, threads});
        }
    }
    b->ArgNames({"height", "threads"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Pipeline)->Apply(streamArgs)->UseRealTime();
BENCHMARK(BM_BareDecode)->Apply(streamArgs)->UseRealTime();
BENCHMARK(BM_PipelineOverBare)->Apply(streamArgs)->UseManualTime();

}  // namespace
}  // namespace hollowkit

