// The live-view picture path end to end: video datagrams through the
// assembler and the libavcodec decoder to decoded frames, checked by the
// frame numbers drawn in the pictures.

#include <gtest/gtest.h>

#include <random>

#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "live_view_test_streams.h"
#include "wireless_test_support.h"

namespace hollowkit {
namespace {

using testsupport::NumberedDatagram;
using testsupport::smallStream;
using testsupport::videoDatagrams;

constexpr uint16_t kSession = 0x2001;
constexpr uint16_t kForeignSession = 0x3002;
constexpr uint32_t kUnreadable = 0xFFFFFFFF;

struct Pipeline {
    ManualClock clock;
    HevcStreamAssembler assembler;
    FfmpegHevcDecoder decoder{clock, FfmpegHevcDecoderOptions{2}};
    std::vector<uint32_t> numbers;
    std::vector<std::pair<int, int>> sizes;
    int damaged = 0;
    bool ptsFromClock = true;

    Pipeline() {
        assembler.setOnSample([this](const HevcSample& sample) { decoder.decode(sample); });
        decoder.setOnFrame([this](const VideoFrame& frame) {
            const auto number = readPatternIndex(frame);
            numbers.push_back(number.value_or(kUnreadable));
            if (!number || !patternIntact(frame, *number)) {
                ++damaged;
            }
            sizes.emplace_back(frame.width(), frame.height());
            ptsFromClock = ptsFromClock && frame.pts() == clock.now();
        });
    }

    void push(const std::vector<NumberedDatagram>& datagrams) {
        for (const NumberedDatagram& d : datagrams) {
            assembler.push(d.bytes);
        }
    }
};

std::vector<uint32_t> numbersFrom(uint32_t first, uint32_t end) {
    std::vector<uint32_t> out;
    for (uint32_t i = first; i < end; ++i) {
        out.push_back(i);
    }
    return out;
}

struct Faults {
    double loss = 0;
    double duplication = 0;
    double reordering = 0;  // swap with the next datagram
    bool foreign = false;   // another session's datagrams mixed in
};

std::vector<NumberedDatagram> withFaults(std::vector<NumberedDatagram> in, const Faults& f, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> chance(0, 1);
    uint16_t foreignSequence = 9000;
    const auto foreign = videoDatagrams(smallStream(320, 180, 4000), kForeignSession, &foreignSequence, 1000);
    std::vector<NumberedDatagram> out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (f.reordering > 0 && i + 1 < in.size() && chance(random) < f.reordering) {
            std::swap(in[i], in[i + 1]);
        }
        if (chance(random) < f.loss) {
            continue;
        }
        out.push_back(in[i]);
        if (chance(random) < f.duplication) {
            out.push_back(in[i]);
        }
        if (f.foreign && i % 2 == 0) {
            out.push_back(foreign[(i / 2) % foreign.size()]);
        }
    }
    return out;
}

TEST(LiveViewPipeline, FramesArriveInOrderAndUndamagedThroughTransportFaults) {
    struct Case {
        const char* name;
        Faults faults;
        size_t minimumFrames;
    };
    const Case cases[] = {
        {"clean", {}, 30},
        {"duplication", {0, 0.1, 0, false}, 30},
        {"foreign session mixed in", {0, 0, 0, true}, 30},
        // Until the numbers have proved to run on between messages, a swap
        // of two whole messages costs the rest of the GOP; a lost datagram
        // costs its message and the pictures up to the next IRAP.
        {"reordering", {0, 0, 0.05, false}, 5},
        {"loss", {0.03, 0, 0, false}, 3},
        {"all at once", {0.02, 0.05, 0.05, true}, 3},
    };
    for (const Case& c : cases) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            uint16_t sequence = 500;
            Pipeline pipeline;
            pipeline.push(withFaults(videoDatagrams(smallStream(), kSession, &sequence, 1000), c.faults, seed));
            const auto& n = pipeline.numbers;
            EXPECT_EQ(pipeline.damaged, 0) << c.name << " seed " << seed;
            EXPECT_TRUE(std::adjacent_find(n.begin(), n.end(), std::greater_equal<>()) == n.end())
                << c.name << " seed " << seed << ": frames out of order or repeated";
            EXPECT_GE(n.size(), c.minimumFrames) << c.name << " seed " << seed;
            if (c.minimumFrames == 30) {
                EXPECT_EQ(n, numbersFrom(0, 30)) << c.name;
            }
            EXPECT_TRUE(pipeline.ptsFromClock);
        }
    }
}

TEST(LiveViewPipeline, ResolutionChangeMidStream) {
    Pipeline pipeline;
    uint16_t sequence = 1;
    pipeline.push(videoDatagrams(smallStream(320, 180, 0), kSession, &sequence, 1400));
    pipeline.push(videoDatagrams(smallStream(256, 144, 30), kSession, &sequence, 1400));
    EXPECT_EQ(pipeline.numbers, numbersFrom(0, 60));
    EXPECT_EQ(pipeline.damaged, 0);
    ASSERT_EQ(pipeline.sizes.size(), 60u);
    EXPECT_EQ(pipeline.sizes[29], std::pair(320, 180));
    EXPECT_EQ(pipeline.sizes[30], std::pair(256, 144));
    EXPECT_EQ(pipeline.decoder.sessionsMade(), 2);
    EXPECT_EQ(pipeline.assembler.dimensions(), (VideoDimensions{256, 144}));
}

TEST(LiveViewPipeline, StreamWithoutIrapShowsNothingAndSaysSo) {
    Pipeline pipeline;
    pipeline.push(videoDatagrams(smallStream(320, 180, 0, HevcIrapMode::none), kSession, nullptr, 1400));
    EXPECT_TRUE(pipeline.numbers.empty());
    EXPECT_FALSE(pipeline.assembler.hasPicture());
    EXPECT_TRUE(pipeline.assembler.waitingForRandomAccess());
    EXPECT_EQ(pipeline.assembler.completedMessages(), 30);
    EXPECT_EQ(pipeline.assembler.takeDisplayedCount(), 0);
    const auto types = pipeline.assembler.seenNalTypes();
    EXPECT_TRUE(std::find(types.begin(), types.end(), 1) != types.end());
    EXPECT_TRUE(std::none_of(types.begin(), types.end(), [](int t) { return isIrapNalType(t); }));
}

TEST(LiveViewPipeline, DecodeErrorWaitsForTheNextIrap) {
    testsupport::LogCapture log;
    const auto& units = smallStream();
    Pipeline pipeline;
    for (size_t i = 0; i < units.size(); ++i) {
        Bytes bytes = units[i].bytes;
        if (i == 13) {
            bytes.resize(bytes.size() - units[i].bytes.size() + 7);  // the slice cut inside its header
        }
        for (const Bytes& d : splitIntoVideoDatagrams(bytes, 1400)) {
            pipeline.assembler.push(d);
        }
    }
    std::vector<uint32_t> expected = numbersFrom(0, 13);
    for (uint32_t i : numbersFrom(20, 30)) {
        expected.push_back(i);
    }
    EXPECT_EQ(pipeline.numbers, expected);
    EXPECT_EQ(pipeline.damaged, 0);
    EXPECT_EQ(pipeline.decoder.failures(), 1);
    EXPECT_EQ(log.count("HEVC decode error"), 1);
}

}  // namespace
}  // namespace hollowkit
