// Live-view latency on loopback: from the camera sending a picture's last
// datagram to the frame handler, through the bound socket's receive thread,
// the link's pump (waiting on the socket, never polling), the stream
// assembler and the decoder, with the decode time itself (assembler's sample
// to frame handler) measured apart. Also the CPU an idle
// link costs while it waits for datagrams.
//
// A plain UDP socket plays the camera: it answers the handshake, then sends
// each access unit of an HEVC test stream cut into video datagrams. The
// receiving side runs as the video thread does: pump 12 ms, again.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/wireless/bound_udp_socket.h"
#include "hollowkit/wireless/duml_udp_link.h"
#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

class QuietSink final : public LogSink {
public:
    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view) override {}
};

// The camera's end: a loopback socket that answers one handshake.
class FakeCamera {
public:
    FakeCamera() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local));
        socklen_t length = sizeof(local);
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
    }

    uint16_t port() const { return port_; }

    // Answers the first handshake; remembers the app's address and session.
    void answerHandshake() {
        Bytes buffer(2048);
        sockaddr_in from{};
        socklen_t length = sizeof(from);
        for (;;) {
            ssize_t n = ::recvfrom(fd_.get(), buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                                   &length);
            auto header = UdpPacketHeader::parse(ByteView(buffer.data(), n > 0 ? size_t(n) : 0));
            if (header && header->type == UdpPacketType::handshake) {
                peer_ = from;
                session_ = header->sessionId;
                const Bytes answer = udpPacket(UdpPacketType::handshake, session_, 0, Bytes(40, 0));
                ::sendto(fd_.get(), answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&peer_),
                         sizeof(peer_));
                return;
            }
        }
    }

    // Sends one access unit; returns the moment its last datagram left.
    TimePoint sendUnit(ByteView unit) {
        for (Bytes& datagram : splitIntoVideoDatagrams(unit, 1400)) {
            const Bytes header = packetHeader(UdpPacketType::video, datagram.size() - kUdpHeaderLength, session_,
                                              ++sequence_ == 0 ? ++sequence_ : sequence_);
            std::copy(header.begin(), header.end(), datagram.begin());
            ::sendto(fd_.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&peer_),
                     sizeof(peer_));
        }
        return Clock::system().now();
    }

private:
    UniqueFd fd_;
    uint16_t port_ = 0;
    sockaddr_in peer_{};
    uint16_t session_ = 0;
    uint16_t sequence_ = 0;
};

struct Pipeline {
    FakeCamera camera;
    std::unique_ptr<DumlUDPLink> link;
    HevcStreamAssembler assembler;
    FfmpegHevcDecoder decoder;
    std::thread video;
    std::atomic<bool> running{true};

    std::mutex mutex;
    std::condition_variable delivered;
    int frames = 0;            // guarded by mutex
    TimePoint sampleAt{};      // guarded by mutex: the picture left the assembler
    TimePoint handlerAt{};     // guarded by mutex: the frame handler ran

    bool start(bool decode) {
        UdpLinkTimings timings;
        timings.syncRounds = 0;
        link = std::make_unique<DumlUDPLink>(std::make_unique<BoundUDPSocket>(),
                                             UdpEndpoint{"127.0.0.1", camera.port(), "lo"}, timings);
        std::thread answer([this] { camera.answerHandshake(); });
        const bool opened = link->open();
        answer.join();
        if (!opened) {
            return false;
        }
        auto done = [this] {
            {
                std::lock_guard lock(mutex);
                ++frames;
                handlerAt = Clock::system().now();
            }
            delivered.notify_one();
        };
        assembler.setOnSample([this, decode, done](const HevcSample& sample) {
            {
                std::lock_guard lock(mutex);
                sampleAt = Clock::system().now();
            }
            if (decode) {
                decoder.decode(sample);
            } else {
                done();
            }
        });
        decoder.setOnFrame([done](const VideoFrame&) { done(); });
        link->onVideoDatagram = [this](ByteView datagram) { assembler.pushDatagram(datagram); };
        assembler.beginLink();
        // The video thread: the session's loop pumps 12 ms at a time.
        video = std::thread([this] {
            while (running.load()) {
                link->pump(12ms);
            }
        });
        return true;
    }

    void stop() {
        running = false;
        if (video.joinable()) {
            video.join();
        }
        link.reset();
    }
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

void runLatency(benchmark::State& state, int width, int height, bool decode = true) {
    QuietSink sink;
    PocketLog::setSinkForTesting(&sink);
    auto units = encodeHevcTestStream({.width = width, .height = height, .gopLength = 30, .grain = 4}, 60);
    if (!units) {
        state.SkipWithError(units.error().c_str());
        return;
    }
    Pipeline pipeline;
    if (!pipeline.start(decode)) {
        state.SkipWithError("link did not open");
        return;
    }
    std::vector<double> beyondDecodeUs;
    std::vector<double> decodeUs;
    std::vector<double> totalUs;
    size_t next = 0;
    for (auto _ : state) {
        int before = 0;
        {
            std::lock_guard lock(pipeline.mutex);
            before = pipeline.frames;
        }
        const TimePoint sentAt = pipeline.camera.sendUnit((*units)[next].bytes);
        next = (next + 1) % units->size();
        std::unique_lock lock(pipeline.mutex);
        if (!pipeline.delivered.wait_for(lock, 2s, [&] { return pipeline.frames > before; })) {
            state.SkipWithError("frame lost");
            break;
        }
        const Duration total = pipeline.handlerAt - sentAt;
        const Duration decodeTime = pipeline.handlerAt - pipeline.sampleAt;
        beyondDecodeUs.push_back(std::chrono::duration<double, std::micro>(total - decodeTime).count());
        decodeUs.push_back(std::chrono::duration<double, std::micro>(decodeTime).count());
        totalUs.push_back(std::chrono::duration<double, std::micro>(total).count());
        state.SetIterationTime(std::chrono::duration<double>(total).count());
    }
    pipeline.stop();
    PocketLog::setSinkForTesting(nullptr);
    state.counters["beyond_decode_p50_us"] = percentile(beyondDecodeUs, 0.50);
    state.counters["beyond_decode_p95_us"] = percentile(beyondDecodeUs, 0.95);
    state.counters["decode_p50_us"] = percentile(decodeUs, 0.50);
    state.counters["total_p95_us"] = percentile(totalUs, 0.95);
}

void BM_LiveViewLatency720p(benchmark::State& state) {
    runLatency(state, 1280, 720);
}
BENCHMARK(BM_LiveViewLatency720p)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

// The same road without decoding: socket, pump and assembly alone.
void BM_LiveViewLatency1080pNoDecode(benchmark::State& state) {
    runLatency(state, 1920, 1080, false);
}
BENCHMARK(BM_LiveViewLatency1080pNoDecode)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

void BM_LiveViewLatency1080p(benchmark::State& state) {
    runLatency(state, 1920, 1080);
}
BENCHMARK(BM_LiveViewLatency1080p)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

// CPU used by the process while the link waits with no traffic: the receive
// thread sleeps in poll() and the pump on a condition variable.
void BM_IdleLinkCpu(benchmark::State& state) {
    QuietSink sink;
    PocketLog::setSinkForTesting(&sink);
    Pipeline pipeline;
    if (!pipeline.start(false)) {
        state.SkipWithError("link did not open");
        return;
    }
    auto cpuSeconds = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds();
        const TimePoint wallBefore = Clock::system().now();
        std::this_thread::sleep_for(500ms);
        cpu += cpuSeconds() - cpuBefore;
        wall += std::chrono::duration<double>(Clock::system().now() - wallBefore).count();
    }
    pipeline.stop();
    PocketLog::setSinkForTesting(nullptr);
    state.counters["idle_cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
}
BENCHMARK(BM_IdleLinkCpu)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit

