// The live-view picture path end to end: video datagrams through the
// assembler and the libavcodec decoder to decoded frames, checked by the
// frame numbers drawn in the pictures.

#include <sched.h>

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "live_view_test_streams.h"
#include "wireless_test_support.h"

namespace hollowkit {
namespace {

using testsupport::NumberedDatagram;
using testsupport::bPictureStream;
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
    bool foreign = false;  // another session's datagrams mixed in
};

struct Delivery {
    std::vector<NumberedDatagram> datagrams;
    std::vector<bool> whole;  // per unit: none of its datagrams lost
};

Delivery withFaults(const std::vector<NumberedDatagram>& in, size_t unitCount, const Faults& f, uint32_t seed) {
    std::mt19937 random(seed);
    auto draw = [&random](double rate) { return static_cast<double>(random()) < rate * 4294967296.0; };
    uint16_t foreignSequence = 9000;
    const auto foreign = videoDatagrams(smallStream(320, 180, 4000), kForeignSession, &foreignSequence, 1000);
    Delivery out;
    out.whole.assign(unitCount, true);
    for (size_t i = 0; i < in.size(); ++i) {
        const bool lose = draw(f.loss);
        const bool repeat = draw(f.duplication);
        if (lose) {
            out.whole[static_cast<size_t>(in[i].unit)] = false;
            continue;
        }
        out.datagrams.push_back(in[i]);
        if (repeat) {
            out.datagrams.push_back(in[i]);
        }
        if (f.foreign && i % 2 == 0) {
            out.datagrams.push_back(foreign[(i / 2) % foreign.size()]);
        }
    }
    return out;
}

// Pictures whose every datagram arrived, from the first random-access one
// on (nothing before it can be shown).
size_t wholeFromFirstIrap(const std::vector<HevcAccessUnit>& units, const std::vector<bool>& whole) {
    size_t count = 0;
    bool started = false;
    for (size_t i = 0; i < units.size(); ++i) {
        started = started || (whole[i] && units[i].irap);
        count += started && whole[i] ? 1 : 0;
    }
    return count;
}

// Without loss every picture comes out whole and in order; with loss every
// complete message still reaches the screen (a picture after a lost one is
// concealed by the decoder, and so may be damaged) and nothing comes out of
// order.
TEST(LiveViewPipeline, FramesArriveInOrderThroughTransportFaults) {
    struct Case {
        const char* name;
        Faults faults;
    };
    const Case cases[] = {
        {"clean", {}},
        {"duplication", {0, 0.1, false}},
        {"foreign session mixed in", {0, 0, true}},
        {"loss", {0.03, 0, false}},
        {"all at once", {0.02, 0.05, true}},
    };
    const auto& units = smallStream();
    for (const Case& c : cases) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(testing::Message() << c.name << " seed " << seed);
            uint16_t sequence = 500;
            Pipeline pipeline;
            const Delivery delivery = withFaults(videoDatagrams(units, kSession, &sequence, 1000), units.size(),
                                                 c.faults, seed);
            pipeline.push(delivery.datagrams);
            std::vector<uint32_t> readable;
            std::copy_if(pipeline.numbers.begin(), pipeline.numbers.end(), std::back_inserter(readable),
                         [](uint32_t n) { return n != kUnreadable; });
            EXPECT_TRUE(std::adjacent_find(readable.begin(), readable.end(), std::greater_equal<>()) == readable.end())
                << "frames out of order or repeated";
            EXPECT_TRUE(pipeline.ptsFromClock);
            if (c.faults.loss == 0) {
                EXPECT_EQ(pipeline.numbers, numbersFrom(0, 30));
                EXPECT_EQ(pipeline.damaged, 0);
            } else {
                EXPECT_GE(pipeline.numbers.size(), wholeFromFirstIrap(units, delivery.whole));
            }
        }
    }
}

// A stream with B pictures comes out in display order, every picture of it.
TEST(LiveViewPipeline, BPicturesComeOutInDisplayOrder) {
    Pipeline pipeline;
    uint16_t sequence = 1;
    pipeline.push(videoDatagrams(bPictureStream(0), kSession, &sequence, 1000));
    // The next stream's first pictures push the last ones of the first out.
    pipeline.push(videoDatagrams(bPictureStream(30), kSession, &sequence, 1000));
    ASSERT_GE(pipeline.numbers.size(), 30u);
    EXPECT_EQ(std::vector<uint32_t>(pipeline.numbers.begin(), pipeline.numbers.begin() + 30), numbersFrom(0, 30));
    EXPECT_TRUE(std::is_sorted(pipeline.numbers.begin(), pipeline.numbers.end()));
    EXPECT_EQ(pipeline.damaged, 0);
    EXPECT_EQ(pipeline.decoder.failures(), 0);
}

// Without a thread count the decoder takes one slice thread per CPU this
// process may run on, not one per CPU of the machine: a thread pinned to one
// CPU decodes with one.
TEST(LiveViewPipeline, DefaultThreadsFollowTheCpusThisProcessMayUse) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int cpu = 0;
    while (cpu < CPU_SETSIZE && !CPU_ISSET(cpu, &allowed)) ++cpu;
    ASSERT_LT(cpu, CPU_SETSIZE);
    uint16_t sequence = 1;
    const auto datagrams = videoDatagrams(smallStream(), kSession, &sequence, 1400);
    testsupport::LogCapture log;
    int shown = 0;
    std::thread pinned([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (::sched_setaffinity(0, sizeof one, &one) != 0) return;  // sets this thread's mask only
        ManualClock clock;
        HevcStreamAssembler assembler;
        FfmpegHevcDecoder decoder(clock);
        assembler.setOnSample([&decoder](const HevcSample& sample) { decoder.decode(sample); });
        decoder.setOnFrame([&shown](const VideoFrame&) { ++shown; });
        for (const NumberedDatagram& d : datagrams) assembler.push(d.bytes);
    });
    pinned.join();
    EXPECT_EQ(shown, 30);
    EXPECT_TRUE(log.contains("HEVC software decoder ready (320x180, 1 threads)"))
        << testing::PrintToString(log.lines());
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

// A picture that does not decode costs itself: the next ones are decoded
// from what the decoder has (damaged until the next random-access picture),
// not held back.
TEST(LiveViewPipeline, DecodeErrorCostsOnlyItsPicture) {
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
    ASSERT_EQ(pipeline.numbers.size(), 29u);
    EXPECT_EQ(std::vector<uint32_t>(pipeline.numbers.begin(), pipeline.numbers.begin() + 13), numbersFrom(0, 13));
    EXPECT_EQ(std::vector<uint32_t>(pipeline.numbers.begin() + 19, pipeline.numbers.end()), numbersFrom(20, 30));
    EXPECT_EQ(pipeline.decoder.failures(), 1);
    EXPECT_EQ(log.count("HEVC decode error"), 1);
}

constexpr size_t kSmallDatagram = 80;

// Pictures after `unit` in decode order up to the next random-access one:
// those decoded while the reference chain is broken.
int followersUntilIrap(const std::vector<HevcAccessUnit>& units, size_t unit) {
    int count = 0;
    for (size_t i = unit + 1; i < units.size() && !units[i].irap; ++i) {
        ++count;
    }
    return count;
}

// A lost reference costs its followers nothing but a stand-in: they are
// shown and counted as concealed. A picture whose own bytes do not parse is
// refused and counted so; its followers are concealed like a loss's.
TEST(LiveViewPipeline, CountsShownConcealedAndRefusedPictures) {
    enum class Fault { none, lost, damaged };
    struct Case {
        const char* name;
        bool bPictures;
        Fault fault;
        size_t unit;
    };
    testsupport::LogCapture log;
    const Case cases[] = {
        {"clean", false, Fault::none, 0},
        {"reference lost", false, Fault::lost, 3},
        {"reference lost just before a random-access picture", false, Fault::lost, 19},
        {"own bytes damaged", false, Fault::damaged, 13},
        {"B pictures clean", true, Fault::none, 0},
        {"B pictures, reference lost", true, Fault::lost, 12},
        {"B pictures, random-access picture lost", true, Fault::lost, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& units = c.bPictures ? bPictureStream(0) : smallStream();
        Pipeline pipeline;
        uint16_t sequence = 40;
        for (size_t i = 0; i < units.size(); ++i) {
            HevcAccessUnit unit = units[i];
            if (i == c.unit && c.fault == Fault::damaged) {
                ASSERT_FALSE(unit.irap);
                // The slice data overwritten from 60 % on: no start code in
                // it, and no picture either.
                std::fill(unit.bytes.begin() + static_cast<ptrdiff_t>(unit.bytes.size() * 3 / 5), unit.bytes.end(),
                          0xFF);
            }
            auto datagrams = videoDatagrams({unit}, kSession, &sequence, kSmallDatagram);
            if (i == c.unit && c.fault == Fault::lost) {
                ASSERT_GE(datagrams.size(), 2u);
                datagrams.pop_back();  // its message never completes
            }
            pipeline.push(datagrams);
        }
        if (c.bPictures) {
            // The next stream's first pictures push the held-back ones out.
            pipeline.push(videoDatagrams(bPictureStream(30), kSession, &sequence, 1000));
        }
        const HevcDecodeCounts& counts = pipeline.decoder.counts();
        const int faulty = c.fault == Fault::none ? 0 : 1;
        const int expectedConcealed = c.fault == Fault::none ? 0 : followersUntilIrap(units, c.unit);
        EXPECT_EQ(counts.concealed, expectedConcealed);
        EXPECT_EQ(counts.refusedBadData, c.fault == Fault::damaged ? 1 : 0);
        EXPECT_EQ(counts.refusedDecoderError, 0);
        EXPECT_EQ(counts.skippedBeforeRandomAccess, 0);
        EXPECT_EQ(counts.shown, static_cast<int>(pipeline.numbers.size()));
        std::vector<uint32_t> inOrder;
        std::copy_if(pipeline.numbers.begin(), pipeline.numbers.end(), std::back_inserter(inOrder),
                     [](uint32_t n) { return n != kUnreadable; });
        EXPECT_TRUE(std::is_sorted(inOrder.begin(), inOrder.end())) << testing::PrintToString(inOrder);
        // Every picture of the first stream but the faulty one is on screen
        // (the second stream only flushes; it is clean and readable).
        const auto firstStreamShown = std::count_if(pipeline.numbers.begin(), pipeline.numbers.end(),
                                                    [](uint32_t n) { return n < 30 || n == kUnreadable; });
        EXPECT_EQ(firstStreamShown, static_cast<long>(units.size()) - faulty);
        // Those before the fault and from the next random-access picture on
        // are whole; the faulty one is never shown.
        std::vector<uint32_t> readable = pipeline.numbers;
        std::sort(readable.begin(), readable.end());
        for (size_t i = 0; i < units.size(); ++i) {
            const bool broken = c.fault != Fault::none && i >= c.unit &&
                                i <= c.unit + static_cast<size_t>(followersUntilIrap(units, c.unit));
            const bool found = std::binary_search(readable.begin(), readable.end(), units[i].index);
            if (!broken) {
                EXPECT_TRUE(found) << "picture " << units[i].index << " missing";
            } else if (i == c.unit) {
                EXPECT_FALSE(found) << "the faulty picture was shown";
            }
        }
    }
}

}  // namespace
}  // namespace hollowkit
