#include "hollowkit/media/sound_stamper.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kRate = 48000;
constexpr uint64_t kPerMs = kRate / 1000;
constexpr uint64_t kBlock = 20 * kPerMs;  // the fragments the sound server is asked for
const TimePoint kT0 = TimePoint(std::chrono::seconds(100));

TimePoint at(int64_t ms) { return kT0 + std::chrono::milliseconds(ms); }
double msAfterT0(TimePoint t) { return std::chrono::duration<double, std::milli>(t - kT0).count(); }

// One block handed to the stamper.
struct Step {
    int64_t nowMs = 0;
    uint64_t frames = kBlock;
    uint64_t framesAfter = 0;  // a backlog read in the same go
    bool lostBefore = false;   // an overflow came first
};

struct Expected {
    int64_t ptsMs = 0;
    uint64_t skipped = 0;
};

struct Sequence {
    const char* name;
    SoundStamper::Options options;
    std::vector<Step> steps;
    std::vector<Expected> expected;  // empty: only the rules that hold for every sequence
};

// A sound card whose clock runs 5% fast: a 20 ms block every 19 ms.
std::vector<Step> fastCard() {
    std::vector<Step> steps;
    for (int64_t i = 1; i <= 60; ++i) steps.push_back({19 * i});
    return steps;
}

const SoundStamper::Options kMicrophone{};
const SoundStamper::Options kCameraSound{.lateLimit = 500ms, .latenessWindow = Duration::zero()};

// The sequences from a busy machine that gave a block a time before the
// previous block's end, and those that move the count forward.
const Sequence kSequences[] = {
    {"a backlog of three read at once, then one on time: the times they were recorded",
     kMicrophone,
     {{80, kBlock, 2 * kBlock}, {80, kBlock, kBlock}, {80}, {100}},
     {{20, 0}, {40, 0}, {60, 0}, {80, 0}}},
    {"four handed on one by one at the same moment after a stall: the front past the lead is cut",
     kMicrophone,
     {{80}, {80}, {80}, {80}, {100}, {120}},
     {{60, 0}, {80, 0}, {100, 10 * kPerMs}, {110, kBlock}, {110, 0}, {130, 0}}},
    {"a first block that came late, the next ones right after it",
     kMicrophone,
     {{80}, {81}, {82}, {83}, {100}, {120}},
     {{60, 0}, {80, 0}, {100, 8 * kPerMs}, {112, 19 * kPerMs}, {113, 3 * kPerMs}, {130, 0}}},
    {"an overflow while the count leads the clock: it starts at the last block's end",
     kMicrophone,
     {{20}, {25}, {26, kBlock, 0, true}, {46}},
     {{0, 0}, {20, 0}, {40, 4 * kPerMs}, {56, 0}}},
    {"an overflow after a stall leaves a gap",
     kMicrophone,
     {{20}, {40}, {200, kBlock, 0, true}, {220}},
     {{0, 0}, {20, 0}, {180, 0}, {200, 0}}},
    {"a camera's block half a second late moves the count on",
     kCameraSound,
     {{20}, {40}, {640}, {660}},
     {{0, 0}, {20, 0}, {620, 0}, {640, 0}}},
    {"a microphone late for a whole window moves the count on by the least lateness, late now and then not",
     {.lateLimit = 60ms, .latenessWindow = 100ms},
     {{20}, {100}, {105}, {125}, {200}, {230}, {250}},
     {{0, 0}, {20, 0}, {40, 0}, {60, 0}, {80, 0}, {200, 0}, {220, 0}}},
    {"a sound card clock a little fast", kMicrophone, fastCard(), {}},
};

void PrintTo(const Sequence& sequence, std::ostream* out) { *out << sequence.name; }

class SoundStamperTest : public testing::TestWithParam<Sequence> {};

TEST_P(SoundStamperTest, ABlockNeverStartsBeforeThePreviousEndedNorEndsPastItsComingAndTheLead) {
    const Sequence& sequence = GetParam();
    SoundStamper stamper(kRate, sequence.options);
    std::optional<TimePoint> previousEnd;
    for (size_t i = 0; i < sequence.steps.size(); ++i) {
        const Step& step = sequence.steps[i];
        SCOPED_TRACE("block " + std::to_string(i));
        if (step.lostBefore) stamper.lostData();
        const SoundStamper::Stamp stamp = stamper.stamp(step.frames, at(step.nowMs), step.framesAfter);
        ASSERT_LE(stamp.skipped, step.frames);
        const TimePoint end = stamp.pts + framesToDuration(step.frames - stamp.skipped, kRate);
        if (previousEnd) {
            EXPECT_GE(msAfterT0(stamp.pts), msAfterT0(*previousEnd)) << "went back";
        }
        const TimePoint came = at(step.nowMs) - framesToDuration(step.framesAfter, kRate);
        EXPECT_LE(msAfterT0(end), msAfterT0(came + sequence.options.aheadLimit)) << "recorded in the future";
        if (i < sequence.expected.size()) {
            EXPECT_EQ(msAfterT0(stamp.pts), static_cast<double>(sequence.expected[i].ptsMs)) << "start";
            EXPECT_EQ(stamp.skipped, sequence.expected[i].skipped) << "frames cut";
        }
        previousEnd = end;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, SoundStamperTest, testing::ValuesIn(kSequences),
                         [](const testing::TestParamInfo<Sequence>& sequence) {
                             std::string name;
                             for (const char c : std::string(sequence.param.name)) {
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             }
                             return name.substr(0, 60);
                         });

// The fast card loses just the frames past the lead: what it keeps spans
// the time from its first block to the last one's coming and the lead.
TEST(SoundStamperFastCardTest, KeepsEveryFrameThatFitsTheClock) {
    SoundStamper stamper(kRate, kMicrophone);
    const std::vector<Step> steps = fastCard();
    uint64_t kept = 0;
    TimePoint first{};
    for (const Step& step : steps) {
        const SoundStamper::Stamp stamp = stamper.stamp(step.frames, at(step.nowMs));
        if (kept == 0) first = stamp.pts;
        kept += step.frames - stamp.skipped;
    }
    EXPECT_EQ(msAfterT0(first + framesToDuration(kept, kRate)),
              msAfterT0(at(steps.back().nowMs) + kMicrophone.aheadLimit));
}

}  // namespace
}  // namespace hollowkit
