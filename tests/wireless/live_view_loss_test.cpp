// The live view on real loopback sockets when the camera's video is not
// clean: datagrams lost and repeated, numbered in other steps or with gaps,
// and a stream with B pictures. Our link, session, assembler and decoder run
// against the simulated camera; what reaches the screen (the decoder's
// output) is counted against what the camera sent whole. The measured
// figures go to the test's properties and to stdout. Labelled slow (a few
// seconds each); every wait is bounded and waits for a count, not a time.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <thread>

#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/sim_pocket_network.h"
#include "hollowkit/wireless/bound_udp_socket.h"
#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "hollowkit/wireless/wireless_video_session.h"
#include "tests/wireless/live_view_timings.h"
#include "tests/wireless/wireless_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

constexpr int kPictures = 150;
constexpr int kGop = 30;


// The access units of a looping-free stream of kPictures frames.
const std::vector<Bytes>& accessUnits(int bFrames) {
    static std::map<int, std::vector<Bytes>> cache;
    auto found = cache.find(bFrames);
    if (found == cache.end()) {
        // Rich enough that a picture spans about a dozen datagrams, as a
        // camera's pictures span many.
        auto units = encodeHevcTestStream(
            {.width = 320, .height = 180, .gopLength = kGop, .crf = 12, .grain = 8, .bFrames = bFrames}, kPictures);
        EXPECT_TRUE(units.has_value()) << units.error();
        std::vector<Bytes> bytes;
        for (const auto& unit : units.value_or(std::vector<HevcAccessUnit>{})) {
            bytes.push_back(unit.bytes);
        }
        found = cache.emplace(bFrames, std::move(bytes)).first;
    }
    return found->second;
}

// Hands every datagram to the assembler and counts them, so the test can
// wait until all the camera sent has been taken in.
class CountingStream final : public LiveViewStream {
public:
    CountingStream(HevcStreamAssembler& assembler, std::atomic<int>& datagrams)
        : assembler_(assembler), datagrams_(datagrams) {}
    void beginLink() override { assembler_.beginLink(); }
    void pushDatagram(ByteView datagram) override {
        assembler_.pushDatagram(datagram);
        ++datagrams_;
    }
    bool hasPicture() const override { return assembler_.hasPicture(); }
    int completedMessages() const override { return assembler_.completedMessages(); }
    std::vector<int> seenNalTypes() const override { return assembler_.seenNalTypes(); }
    std::optional<VideoDimensions> dimensions() const override { return assembler_.dimensions(); }
    int takeDisplayedCount() override { return assembler_.takeDisplayedCount(); }
    int datagrams() const { return datagrams_.load(); }

private:
    HevcStreamAssembler& assembler_;
    std::atomic<int>& datagrams_;
};

struct Shown {
    std::optional<uint32_t> number;  // as read from the picture
    bool intact = false;
};

struct Figures {
    int whole = 0;           // pictures every datagram of which the camera sent
    int wholeFromIrap = 0;   // of those, from the first whole random-access one on
    int displayed = 0;       // pictures out of the decoder
    int datagrams = 0;       // video datagrams the camera sent, repeats included
    std::vector<Shown> shown;
    HevcDecodeCounts counts;  // the decoder's own account
};

struct LossCase {
    const char* name;
    SimPocketFaults faults = {};
    uint16_t numberStep = 1;
    int gapEvery = 0;
    int bFrames = 0;
    double minimumShare = 0;  // of wholeFromIrap that must be displayed
    bool clean = false;       // nothing lost: every picture shown is intact
};

// The cases, one test each (so they run side by side).
const LossCase kLoss{.name = "loss", .faults = {.videoLossRate = 0.02, .videoDuplicateRate = 0.01, .seed = 7},
                     .minimumShare = 0.90};
const LossCase kBPictures{.name = "bframes", .bFrames = 3, .minimumShare = 0.95, .clean = true};
const LossCase kBPicturesLoss{.name = "bframes-loss",
                              .faults = {.videoLossRate = 0.02, .videoDuplicateRate = 0.01, .seed = 5},
                              .bFrames = 3,
                              .minimumShare = 0.95};
const LossCase kStepsOf2{.name = "step2", .numberStep = 2, .minimumShare = 0.95, .clean = true};
const LossCase kStepsOf8{.name = "step8", .numberStep = 8, .minimumShare = 0.95, .clean = true};
const LossCase kGaps{.name = "gaps", .gapEvery = 7, .minimumShare = 0.95, .clean = true};

class LiveViewLossTest : public ::testing::Test {
protected:
    // Runs the live view until the camera has sent all its pictures and they
    // have all been taken in (or a generous limit has passed).
    Figures run(const LossCase& c) {
        SimPocketUdpOptions options;
        options.videoDatagramSize = 1000;
        options.frameInterval = 15ms;
        options.videoNumberStep = c.numberStep;
        options.videoNumberGapEvery = c.gapEvery;
        options.accessUnitLimit = kPictures;
        // Declared before the camera, which asks it for pacing until it stops.
        std::atomic<int> taken{0};
        options.readyForPicture = [&taken](int onWire) { return taken.load() >= onWire; };
        SimPocketUdp camera(options);
        camera.setAccessUnits(accessUnits(c.bFrames));
        camera.setFaults(c.faults);
        SimPocketNetwork network(camera, {.host = "127.0.0.23"});
        EXPECT_TRUE(network.start().has_value());

        DumlUDPLink link(std::make_unique<BoundUDPSocket>(), UdpEndpoint{"127.0.0.23", network.udpPort(), "lo"},
                         testsupport::kLiveViewLinkTimings);
        EXPECT_TRUE(link.open());
        HevcStreamAssembler assembler;
        FfmpegHevcDecoder decoder;
        CountingStream stream(assembler, taken);
        Figures figures;
        assembler.setOnSample([&decoder](const HevcSample& sample) { decoder.decode(sample); });
        decoder.setOnFrame([&](const VideoFrame& frame) {
            const auto number = readPatternIndex(frame);
            reports_.note(
                [&] { figures.shown.push_back({number, number && patternIntact(frame, *number)}); });
        });
        GimbalCommands gimbal;
        CommandQueue commands;
        StopFlag stop;
        WirelessVideoSession session(link, stream, gimbal, commands, stop, {}, testsupport::shortLiveViewSession());
        std::thread runner([&] { session.run(); });

        const bool allSent = reports_.waitUntil([&] { return camera.accessUnitsSent() >= kPictures; }, 30s, 20ms);
        const bool allTaken =
            reports_.waitUntil([&] { return stream.datagrams() >= camera.videoDatagramsOnWire(); }, 10s, 20ms);
        stop.set();
        runner.join();
        network.stop();
        EXPECT_TRUE(allSent);
        EXPECT_TRUE(allTaken) << stream.datagrams() << " of " << camera.videoDatagramsOnWire()
                              << " datagrams arrived";

        bool started = false;
        for (const SimSentPicture& picture : camera.picturesSent()) {
            figures.whole += picture.whole ? 1 : 0;
            started = started || (picture.whole && picture.irap);
            figures.wholeFromIrap += started && picture.whole ? 1 : 0;
        }
        figures.displayed = static_cast<int>(figures.shown.size());
        figures.counts = decoder.counts();
        figures.datagrams = camera.videoDatagramsOnWire();
        return figures;
    }

    // Runs the case and checks what was shown against what was sent whole.
    void check(const LossCase& c);

    testsupport::LogCapture log_;
    testsupport::ReportedState reports_;
};

void LiveViewLossTest::check(const LossCase& c) {
    const Figures f = run(c);
    const double share = f.wholeFromIrap > 0 ? static_cast<double>(f.displayed) / f.wholeFromIrap : 0;
    RecordProperty("whole", f.whole);
    RecordProperty("whole_from_first_irap", f.wholeFromIrap);
    RecordProperty("datagrams", f.datagrams);
    RecordProperty("displayed", f.displayed);
    std::printf("live view figures [%s]: %d of %d pictures sent whole (%d from the first whole IRAP) in %d "
                "datagrams, %d displayed (%.1f %%)\n",
                c.name, f.whole, kPictures, f.wholeFromIrap, f.datagrams, f.displayed, 100.0 * share);

    const HevcDecodeCounts& counts = f.counts;
    std::printf("  decoder: %d shown, %d concealed, %d refused (bad data), %d refused (decoder)\n", counts.shown,
                counts.concealed, counts.refusedBadData, counts.refusedDecoderError);
    EXPECT_GE(share, c.minimumShare);
    EXPECT_EQ(counts.shown, f.displayed);
    // Complete messages parse: loss costs whole messages only, never a
    // picture's own bytes, and the session is never made anew.
    EXPECT_EQ(counts.refusedBadData, 0);
    EXPECT_EQ(counts.refusedDecoderError, 0);
    if (c.clean) {
        EXPECT_EQ(counts.concealed, 0) << "concealment without any loss";
    } else {
        EXPECT_GT(counts.concealed, 0) << "pictures after a loss not counted as concealed";
    }
    // Whatever was lost, the pictures shown keep their order: the frame
    // numbers that read back climb.
    std::optional<uint32_t> previous;
    int intact = 0;
    for (const Shown& shown : f.shown) {
        if (!shown.number) {
            continue;
        }
        EXPECT_TRUE(!previous || *shown.number > *previous) << *shown.number << " after " << *previous;
        previous = shown.number;
        intact += shown.intact ? 1 : 0;
    }
    if (c.clean) {
        EXPECT_EQ(intact, f.displayed) << "damaged pictures without any loss";
    }
}

TEST_F(LiveViewLossTest, TwoPercentLossAndOnePercentRepeats) { check(kLoss); }
TEST_F(LiveViewLossTest, BPictures) { check(kBPictures); }
TEST_F(LiveViewLossTest, BPicturesUnderLoss) { check(kBPicturesLoss); }
TEST_F(LiveViewLossTest, NumbersInStepsOfTwo) { check(kStepsOf2); }
TEST_F(LiveViewLossTest, NumbersInStepsOfEight) { check(kStepsOf8); }
TEST_F(LiveViewLossTest, NumbersWithGaps) { check(kGaps); }

}  // namespace
}  // namespace hollowkit
