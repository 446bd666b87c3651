// Throughput of the DUML scanner over a mix of noise and valid frames, and of
// the frame checksum.

#include <benchmark/benchmark.h>

#include <random>

#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_crc.h"
#include "hollowkit/camera/duml_frame.h"

namespace hollowkit {
namespace {

constexpr size_t kBufferSize = 1 << 20;

// Roughly half noise, half frames of 0 to 242 payload bytes, like a link
// that carries pushes and replies between unrelated datagram bytes.
Bytes mixedStream() {
    std::mt19937 random(2024);
    Bytes out;
    out.reserve(kBufferSize + 2048);
    while (out.size() < kBufferSize) {
        const size_t noise = random() % 256;
        for (size_t i = 0; i < noise; ++i) out.push_back(static_cast<uint8_t>(random()));
        DumlFrame frame;
        frame.target = 0x0802;
        frame.id = static_cast<uint16_t>(random());
        frame.flags = DumlFrame::kRequestFlags;
        frame.cmdSet = 0x02;
        frame.cmdId = 0x80;
        frame.payload.resize(random() % 243);
        for (auto& b : frame.payload) b = static_cast<uint8_t>(random());
        const Bytes wire = frame.encoded().value();
        out.insert(out.end(), wire.begin(), wire.end());
    }
    out.resize(kBufferSize);
    return out;
}

void BM_ParseAllMixed(benchmark::State& state) {
    const Bytes input = mixedStream();
    size_t frames = 0;
    for (auto _ : state) {
        auto found = DumlFrame::parseAll(input);
        frames = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_ParseAllMixed);

void BM_Crc16(benchmark::State& state) {
    Bytes data(static_cast<size_t>(state.range(0)));
    std::mt19937 random(1);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    for (auto _ : state) {
        benchmark::DoNotOptimize(dumlCrc16(data));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc16)->Arg(64)->Arg(1021)->Arg(kBufferSize);

void BM_EncodeInfoReply(benchmark::State& state) {
    DumlFrame request = DumlConstants::wifiRoleQueryFrame();
    request.cmdSet = 0x00;
    request.cmdId = 0x81;
    const DumlFrame reply = DumlFrame::makeReply(request, {});
    for (auto _ : state) {
        auto wire = reply.encoded();
        benchmark::DoNotOptimize(wire);
    }
}
BENCHMARK(BM_EncodeInfoReply);

}  // namespace
}  // namespace hollowkit

