#include "hollowkit/recording/cursor_timeline.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/hostile_files.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

CursorTimeline makeTimeline(std::vector<CursorSample> samples, std::vector<double> keys = {}) {
    return CursorTimeline{std::move(samples), std::move(keys)};
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(CursorTimelineTest, PositionInterpolatesAndHoldsAtTheEnds) {
    const double frame = 1.0 / 60;
    const auto timeline = makeTimeline({{10.0, 0.2, 0.4, false, false},
                                        {10.0 + frame, 0.4, 0.8, false, false},
                                        {10.0 + 2 * frame, 0.6, 0.6, false, false},
                                        // 1e-8 s later: the 0.0001 s floor keeps it near the sample
                                        {10.0 + 2 * frame + 1e-8, 1.0, 1.0, false, false}});
    struct Case {
        double time;
        double x;
        double y;
    };
    const Case cases[] = {
        {0.0, 0.2, 0.4},                       // before the first sample
        {10.0, 0.2, 0.4},                      // at it
        {10.0 + frame / 2, 0.3, 0.6},          // halfway between two samples
        {10.0 + frame, 0.4, 0.8},              // exactly on a sample
        {10.0 + 1.5 * frame, 0.5, 0.7},
        {10.0 + 2 * frame + 5e-9, 0.6 + 0.4 * 5e-5, 0.6 + 0.4 * 5e-5},
        {99.0, 1.0, 1.0},                      // after the last
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.time);
        const auto p = timeline.position(c.time);
        ASSERT_TRUE(p.has_value());
        EXPECT_NEAR(p->x, c.x, 1e-9);
        EXPECT_NEAR(p->y, c.y, 1e-9);
    }
    EXPECT_FALSE(timeline.position(std::nan("")).has_value());
    EXPECT_FALSE(CursorTimeline{}.position(1.0).has_value());
}

TEST(CursorTimelineTest, PressOnsetsAreTheSamplesWhereTheButtonGoesDown) {
    struct Case {
        std::vector<bool> pressed;
        std::vector<size_t> onsets;
    };
    const Case cases[] = {
        {{}, {}},
        {{false, false}, {}},
        {{true, true, true}, {0}},           // a pressed first sample is an onset; held: one
        {{false, true, true, false, true}, {1, 4}},
        {{true, false, true}, {0, 2}},
    };
    for (const Case& c : cases) {
        std::vector<CursorSample> samples;
        for (size_t i = 0; i < c.pressed.size(); ++i) {
            samples.push_back({static_cast<double>(i), 0.1 * static_cast<double>(i), 0.5, c.pressed[i], i % 2 == 0});
        }
        const auto timeline = makeTimeline(samples);
        const auto onsets = timeline.pressOnsets();
        ASSERT_EQ(onsets.size(), c.onsets.size());
        for (size_t i = 0; i < onsets.size(); ++i) EXPECT_EQ(onsets[i], samples[c.onsets[i]]);
    }
}

TEST(CursorTimelineTest, ShiftingKeepsEverythingInOrder) {
    const auto timeline = makeTimeline({{100.0, 0.1, 0.2, true, false}, {100.5, 0.3, 0.4, false, true}},
                                       {99.0, 100.25});
    const auto shifted = timeline.shifted(100.25);
    ASSERT_EQ(shifted.samples.size(), 2u);
    EXPECT_EQ(shifted.samples[0], (CursorSample{-0.25, 0.1, 0.2, true, false}));
    EXPECT_EQ(shifted.samples[1], (CursorSample{0.25, 0.3, 0.4, false, true}));
    EXPECT_EQ(shifted.keyPresses, (std::vector<double>{-1.25, 0.0}));
}

TEST(CursorTimelineTest, EncodesCompactlyWithKeysInOrder) {
    const auto timeline = makeTimeline({{1.5, 0.25, -0.5, true, false}}, {2.0});
    const auto text = timeline.encode();
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text.value(),
              R"({"samples":[{"time":1.5,"x":0.25,"y":-0.5,"pressed":true,"overApp":false}],"keyPresses":[2.0]})");
    EXPECT_EQ(CursorTimeline{}.encode().value(), R"({"samples":[],"keyPresses":[]})");
}

TEST(CursorTimelineTest, RoundTripsExactly) {
    CursorTimeline timeline;
    double t = 81234.567891234;
    for (int i = 0; i < 500; ++i) {
        t += 1.0 / 60;
        timeline.samples.push_back(
            {t, std::sin(i * 0.37) * 1.7, 1.0 / 3 + i * 1e-13, i % 7 == 0, i % 5 == 0});
    }
    timeline.samples.push_back({-0.0, 1e-300, -1.7976931348623157e308, false, true});
    timeline.keyPresses = {t - 1.0 / 3, std::nextafter(t, 0.0), 5e-324};
    const auto text = timeline.encode();
    ASSERT_TRUE(text.has_value());
    const auto decoded = CursorTimeline::decode(text.value());
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded.value(), timeline);
}

TEST(CursorTimelineTest, ReadsKeysInAnyOrderAndIgnoresOthers) {
    const auto decoded = CursorTimeline::decode(
        R"({"extra":1,"keyPresses":[3],"samples":[{"overApp":true,"pressed":false,"y":2,"x":1,"time":0,"z":null}]})");
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded.value(), makeTimeline({{0.0, 1.0, 2.0, false, true}}, {3.0}));
}

TEST(CursorTimelineTest, RefusesMalformedText) {
    const char* sample = R"("time":0,"x":0,"y":0,"pressed":false,"overApp":false)";
    const auto withSample = [&](const std::string& body) {
        return R"({"samples":[{)" + body + R"(}],"keyPresses":[]})";
    };
    const std::string cases[] = {
        "",
        "not json",
        "[]",
        R"({"samples":[]})",
        R"({"keyPresses":[]})",
        R"({"samples":{},"keyPresses":[]})",
        R"({"samples":[],"keyPresses":["1"]})",
        R"({"samples":[],"keyPresses":[1e999]})",
        R"({"samples":[1],"keyPresses":[]})",
        withSample(R"("x":0,"y":0,"pressed":false,"overApp":false)"),
        withSample(R"("time":"0","x":0,"y":0,"pressed":false,"overApp":false)"),
        withSample(R"("time":0,"x":0,"y":0,"pressed":0,"overApp":false)"),
        withSample(R"("time":0,"x":0,"y":null,"pressed":false,"overApp":false)"),
        withSample(R"("time":0,"x":0,"y":0,"pressed":false)"),
        withSample(R"("time":-1e400,"x":0,"y":0,"pressed":false,"overApp":false)"),
        withSample(sample).substr(0, 40),  // cut off
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        const auto decoded = CursorTimeline::decode(text);
        EXPECT_FALSE(decoded.has_value());
        if (!decoded) {
            EXPECT_EQ(decoded.error().rfind("Cursor timeline: ", 0), 0u) << decoded.error();
        }
    }
    ASSERT_TRUE(CursorTimeline::decode(withSample(sample)).has_value());
}

// A file that cannot be read as a timeline is refused and left as it is; a
// write that fails leaves the earlier file whole.
TEST(CursorTimelineTest, FilesRoundTripAndFailuresLoseNothing) {
    testsupport::TempDir dir;
    const auto path = dir.path() / "Cursor.json";
    const auto timeline = makeTimeline({{0.5, 0.1, 0.9, true, true}, {0.6, 0.2, 0.8, false, false}}, {0.55});
    ASSERT_TRUE(timeline.write(path).has_value());
    const auto loaded = CursorTimeline::load(path);
    ASSERT_TRUE(loaded.has_value()) << loaded.error();
    EXPECT_EQ(loaded.value(), timeline);
    const std::string written = readFile(path);

    // JSON has no NaN: the write fails and the earlier file stays.
    const auto broken = makeTimeline({{std::nan(""), 0.0, 0.0, false, false}});
    EXPECT_FALSE(broken.write(path).has_value());
    EXPECT_EQ(readFile(path), written);

    const auto unwritable = dir.path() / "missing-folder" / "Cursor.json";
    const auto failed = timeline.write(unwritable);
    ASSERT_FALSE(failed.has_value());
    EXPECT_NE(failed.error().find("Cursor.json"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left

    const auto bad = dir.path() / "Bad.json";
    const std::string badText = R"({"samples":[{"time":1}],"keyPresses":[]})";
    writeFile(bad, badText);
    EXPECT_FALSE(CursorTimeline::load(bad).has_value());
    EXPECT_EQ(readFile(bad), badText);
    EXPECT_FALSE(CursorTimeline::load(dir.path() / "Nothing.json").has_value());
}

// A take folder's "Cursor.json" replaced by something else fails the load
// promptly, names the file, and reads next to nothing (a 129 MB file once
// took 1.7 GB to refuse).
TEST(CursorTimelineTest, LoadRefusesWhatIsNoSmallRegularFilePromptly) {
    for (const auto kind : testsupport::allHostileFiles()) {
        SCOPED_TRACE(testsupport::toString(kind));
        testsupport::TempDir dir;
        const auto path = dir.path() / "Cursor.json";
        testsupport::makeHostileFile(path, kind, uint64_t{129} << 20, R"({"samples":[)");
        const auto outcome = testsupport::runInChild(
            [&] {
                const auto loaded = CursorTimeline::load(path);
                return !loaded && loaded.error().find("Cursor.json") != std::string::npos ? 0 : 1;
            },
            std::chrono::seconds(10));
        testsupport::expectPromptAndSmall(outcome);
    }
}

}  // namespace
}  // namespace hollowkit
