#include "lumenhollow/ui/kit/record_pill_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow::ui {
namespace {

using namespace std::chrono_literals;

TEST(FormatElapsed, WholeSecondsAsMinutesOrHours) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "00:00"},      {59.9, "00:59"},       {61, "01:01"},      {3599, "59:59"},
        {3600, "1:00:00"}, {36125, "10:02:05"},   {-5, "00:00"},      {-0.5, "00:00"},
        {360000, "100:00:00"}, {std::numeric_limits<double>::quiet_NaN(), "00:00"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatElapsed(c.seconds), c.text) << c.seconds;
}

TEST(FormatElapsed, HugeValuesStayDefined) {
    EXPECT_FALSE(formatElapsed(1e300).empty());
    EXPECT_FALSE(formatElapsed(std::numeric_limits<double>::infinity()).empty());
}

const hollowkit::WallTime kNow = hollowkit::WallTime{} + 1'000'000s;

const std::string kStart = withShortcut("Start recording", recordShortcut());
const std::string kStop = withShortcut("Stop recording", recordShortcut());

struct PillCase {
    const char* name;
    RecordPillInputs inputs;
    RecordPillState expected;
};

RecordPillInputs with(auto change) {
    RecordPillInputs inputs;
    change(inputs);
    return inputs;
}

TEST(RecordPillState, EveryStateOfThePill) {
    const PillCase cases[] = {
        {"idle without a picture", {}, {"00:00", 0.85, kStart, false, 0.45, false, RecordChip::none, false}},
        {"idle with a picture", with([](auto& i) { i.hasPicture = true; }),
         {"00:00", 0.85, kStart, true, 1.0, false, RecordChip::none, false}},
        {"recording for 61 s", with([](auto& i) { i.hasPicture = true; i.recordingStarted = kNow - 61s; }),
         {"01:01", 1.0, kStop, true, 1.0, true, RecordChip::none, true}},
        {"recording whose picture was lost", with([](auto& i) { i.recordingStarted = kNow - 500ms; }),
         {"00:00", 1.0, kStop, true, 1.0, true, RecordChip::none, true}},
        {"recording that started in the future", with([](auto& i) { i.hasPicture = true; i.recordingStarted = kNow + 5s; }),
         {"00:00", 1.0, kStop, true, 1.0, true, RecordChip::none, true}},
        {"composing a take", with([](auto& i) { i.hasPicture = true; i.composeProgress = 0.5f; }),
         {"Saving 50%", 1.0, kStart, false, 1.0, false, RecordChip::none, false}},
        {"composing without a picture", with([](auto& i) { i.composeProgress = 0.425f; }),
         {"Saving 42%", 1.0, kStart, false, 1.0, false, RecordChip::none, false}},
        {"composing wins over recording", with([](auto& i) { i.composeProgress = 0.0f; i.recordingStarted = kNow; }),
         {"Saving 0%", 1.0, kStop, false, 1.0, true, RecordChip::none, false}},
        {"screen starting", with([](auto& i) { i.isStartingScreen = true; i.countdownRemaining = 2; }),
         {"Starting", 1.0, kStart, true, 1.0, false, RecordChip::none, false}},
        {"countdown", with([](auto& i) { i.hasPicture = true; i.countdownRemaining = 3; }),
         {"Starts in 3", 1.0, kStart, true, 1.0, false, RecordChip::none, false}},
        {"screen chip whatever the target",
         with([](auto& i) { i.hasPicture = true; i.recordScreen = true; i.supportsCardRecording = true; i.recordTarget = RecordTarget::camera; }),
         {"00:00", 0.85, kStart, true, 1.0, false, RecordChip::screen, false}},
        {"card chip on a camera that records to its card",
         with([](auto& i) { i.hasPicture = true; i.supportsCardRecording = true; i.recordTarget = RecordTarget::camera; }),
         {"00:00", 0.85, kStart, true, 1.0, false, RecordChip::card, false}},
        {"no chip when the camera cannot record to a card",
         with([](auto& i) { i.hasPicture = true; i.recordTarget = RecordTarget::camera; }),
         {"00:00", 0.85, kStart, true, 1.0, false, RecordChip::none, false}},
        {"no chip for the computer target",
         with([](auto& i) { i.hasPicture = true; i.supportsCardRecording = true; i.recordTarget = RecordTarget::mac; }),
         {"00:00", 0.85, kStart, true, 1.0, false, RecordChip::none, false}},
    };
    for (const PillCase& c : cases) EXPECT_EQ(recordPill(c.inputs, kNow), c.expected) << c.name;
}

TEST(RecordPillState, ComposePercentIsNotCutByFloatNoise) {
    const struct {
        float progress;
        const char* text;
    } cases[] = {{0.29f, "Saving 29%"}, {0.57f, "Saving 57%"}, {0.999f, "Saving 99%"},
                 {1.0f, "Saving 100%"}, {1.7f, "Saving 100%"}, {-0.2f, "Saving 0%"}};
    for (const auto& c : cases) {
        RecordPillInputs inputs;
        inputs.composeProgress = c.progress;
        EXPECT_EQ(recordPill(inputs, kNow).text, c.text) << c.progress;
    }
}

TEST(RecordPillState, InputsComeFromThePublishedState) {
    PublishedState state;
    state.stats = hollowkit::CameraStats{};
    state.stats->hasPicture = true;
    state.recordingStarted = kNow - 3s;
    state.recordScreen = true;
    state.recordTarget = RecordTarget::camera;
    const RecordPillInputs inputs = recordPillInputs(state, true);
    EXPECT_TRUE(inputs.hasPicture);
    EXPECT_EQ(inputs.recordingStarted, state.recordingStarted);
    EXPECT_TRUE(inputs.recordScreen);
    EXPECT_TRUE(inputs.supportsCardRecording);

    state.stats->hasPicture = false;
    EXPECT_FALSE(recordPillInputs(state, true).hasPicture);
    state.stats.reset();
    EXPECT_FALSE(recordPillInputs(state, true).hasPicture);
}

TEST(RecordPillState, TooltipNamesTheRealShortcut) {
    EXPECT_EQ(shortcutText(recordShortcut()), "Ctrl+R");
    EXPECT_EQ(recordPill({}, kNow).tooltip, "Start recording (Ctrl+R)");
}

}  // namespace
}  // namespace lumenhollow::ui
