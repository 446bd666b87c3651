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
// BM_UnderLoss runs the whole live view (link, session, assembler, decoder)
// against the simulated camera on virtual time, with the camera losing and
// repeating datagrams at random (several seeds), and reports what became of
// the pictures: how many the camera sent whole (from its first whole
// random-access one), and of those how many were shown, concealed, refused
// by reason. Arguments: loss and duplication in tenths of a percent, B
// pictures between references. The aims: at least 90 % of the whole
// pictures shown at 2 % loss + 1 % duplication, 95 % for a B-picture stream.
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
#include <optional>
#include <string>
#include <thread>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/stop_flag.h"
#include "hollowkit/camera/command_queue.h"
#include "hollowkit/camera/gimbal_commands.h"
#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/testing/reference_hevc_decoder.h"
#include "hollowkit/testing/sim_pocket_transport.h"
#include "hollowkit/testing/sim_pocket_udp.h"
#include "hollowkit/wireless/duml_udp_link.h"
#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "hollowkit/wireless/udp_packet.h"
#include "hollowkit/wireless/wireless_video_session.h"

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

// ---- Under loss --------------------------------------------------------------------

constexpr int kLossPictures = 300;
constexpr uint32_t kLossSeeds[] = {3, 7, 11, 19, 23};

// As the loss tests' stream: rich enough that a picture spans about a dozen
// datagrams of 1000 bytes, as a camera's pictures span many.
const std::vector<Bytes>* lossStream(int bFrames, std::string* error) {
    static std::map<int, std::vector<Bytes>> streams;
    if (auto found = streams.find(bFrames); found != streams.end()) {
        return &found->second;
    }
    auto units = encodeHevcTestStream(
        {.width = 320, .height = 180, .gopLength = 30, .crf = 12, .grain = 8, .bFrames = bFrames}, kLossPictures);
    if (!units) {
        *error = units.error();
        return nullptr;
    }
    std::vector<Bytes> bytes;
    for (HevcAccessUnit& unit : units.value()) {
        bytes.push_back(std::move(unit.bytes));
    }
    return &streams.emplace(bFrames, std::move(bytes)).first->second;
}

struct LossFigures {
    int wholeFromIrap = 0;  // sent whole, from the first whole random-access picture on
    int lostMessages = 0;   // incomplete messages the assembler dropped
    HevcDecodeCounts counts;
};

// One run of the live view on virtual time until the camera has sent the
// whole stream, and a little longer so the last datagrams arrive.
LossFigures runUnderLoss(const std::vector<Bytes>& units, const SimPocketFaults& faults) {
    SimPocketUdpOptions options;
    options.videoDatagramSize = 1000;
    options.accessUnitLimit = static_cast<int>(units.size());
    SimPocketUdp camera(options);
    camera.setAccessUnits(units);
    camera.setFaults(faults);
    ManualClock clock;
    auto transport = std::make_unique<SimPocketTransport>(camera, clock);
    SimPocketTransport& wire = *transport;
    DumlUDPLink link(std::move(transport), UdpEndpoint{"127.0.0.31", 9004, "lo"});
    LossFigures figures;
    if (!link.open()) {
        return figures;
    }
    HevcStreamAssembler assembler;
    FfmpegHevcDecoder decoder(clock, FfmpegHevcDecoderOptions{1});
    assembler.setOnSample([&decoder](const HevcSample& sample) { decoder.decode(sample); });
    decoder.setOnFrame([](const VideoFrame& frame) { benchmark::DoNotOptimize(frame.planeData(0)); });
    GimbalCommands gimbal(clock);
    CommandQueue commands;
    StopFlag stop;
    std::optional<TimePoint> allSent;
    wire.onTime = [&](TimePoint now) {
        if (!allSent && camera.accessUnitsSent() >= static_cast<int>(units.size())) {
            allSent = now;
        }
        if (allSent && now - *allSent >= std::chrono::milliseconds(500)) {
            stop.set();
        }
    };
    WirelessVideoSession session(link, assembler, gimbal, commands, stop, {});
    session.run();

    bool started = false;
    for (const SimSentPicture& picture : camera.picturesSent()) {
        started = started || (picture.whole && picture.irap);
        figures.wholeFromIrap += started && picture.whole ? 1 : 0;
    }
    figures.lostMessages = assembler.counters().lostMessages;
    figures.counts = decoder.counts();
    return figures;
}

void BM_UnderLoss(benchmark::State& state) {
    static QuietSink sink;
    PocketLog::setSinkForTesting(&sink);
    const double loss = static_cast<double>(state.range(0)) / 1000.0;
    const double duplication = static_cast<double>(state.range(1)) / 1000.0;
    const int bFrames = static_cast<int>(state.range(2));
    std::string error;
    const std::vector<Bytes>* units = lossStream(bFrames, &error);
    if (units == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    LossFigures total;
    for (auto _ : state) {
        total = {};
        for (uint32_t seed : kLossSeeds) {
            const LossFigures run =
                runUnderLoss(*units, {.videoLossRate = loss, .videoDuplicateRate = duplication, .seed = seed});
            total.wholeFromIrap += run.wholeFromIrap;
            total.lostMessages += run.lostMessages;
            total.counts.shown += run.counts.shown;
            total.counts.concealed += run.counts.concealed;
            total.counts.refusedBadData += run.counts.refusedBadData;
            total.counts.refusedDecoderError += run.counts.refusedDecoderError;
            total.counts.skippedBeforeRandomAccess += run.counts.skippedBeforeRandomAccess;
            total.counts.droppedNoDecoder += run.counts.droppedNoDecoder;
            total.counts.droppedUnconverted += run.counts.droppedUnconverted;
            total.counts.sequencesWithoutRandomAccess += run.counts.sequencesWithoutRandomAccess;
        }
    }
    const HevcDecodeCounts& c = total.counts;
    const double share = total.wholeFromIrap > 0 ? 100.0 * c.shown / total.wholeFromIrap : 0.0;
    state.counters["whole"] = total.wholeFromIrap;
    state.counters["shown"] = c.shown;
    state.counters["shown_pct"] = share;
    state.counters["concealed"] = c.concealed;
    state.counters["refused_data"] = c.refusedBadData;
    state.counters["refused_other"] = c.refusedDecoderError;
    state.counters["lost_msgs"] = total.lostMessages;
    std::printf("live view under loss: %.1f %% lost, %.1f %% repeated, %d B pictures, %zu seeds x %d pictures: "
                "%d sent whole, %d shown (%.1f %%), %d of them concealed; refused: %d bad data, %d decoder errors; "
                "skipped before a random-access picture %d, no decoder %d, unconverted %d; %d messages lost, "
                "%d sequences begun without their random-access picture\n",
                100 * loss, 100 * duplication, bFrames, std::size(kLossSeeds), kLossPictures, total.wholeFromIrap,
                c.shown, share, c.concealed, c.refusedBadData, c.refusedDecoderError, c.skippedBeforeRandomAccess,
                c.droppedNoDecoder, c.droppedUnconverted, total.lostMessages, c.sequencesWithoutRandomAccess);
}

// 0 %, 2 % and 5 % loss with 1 % repeats, and a B-picture stream without
// loss and with 2 % loss.
BENCHMARK(BM_UnderLoss)
    ->Args({0, 10, 0})
    ->Args({20, 10, 0})
    ->Args({50, 10, 0})
    ->Args({0, 0, 3})
    ->Args({20, 10, 3})
    ->ArgNames({"loss_permille", "dup_permille", "bframes"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit

