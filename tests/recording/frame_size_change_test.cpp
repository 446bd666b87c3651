#include "hollowkit/recording/frame_size_change.h"

#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/hostile_files.h"
#include "hollowkit/testing/test_support.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

TEST(FrameSizeChangeTest, CameraJsonRoundTripsAndAcceptsKeysInAnyOrder) {
    const std::vector<FrameSizeChange> turned{{0, 1920, 1080}, {12.4, 1080, 1920}};
    const std::string json = FrameSizeChange::encodeAll(turned);
    EXPECT_EQ(FrameSizeChange::decodeAll(json), turned);
    EXPECT_EQ(json.find('\n'), std::string::npos);  // compact
    EXPECT_EQ(FrameSizeChange::decodeAll(
                  R"([{"height":1080,"time":0,"width":1920},{"width":1080,"extra":1,"height":1920,"time":12.4}])"),
              turned);
    EXPECT_EQ(FrameSizeChange::decodeAll("[]"), std::vector<FrameSizeChange>{});
}

// The file is replaced whole; a failed write names the file and keeps the
// earlier one.
TEST(FrameSizeChangeTest, CameraJsonFileIsReplacedWholeOrNotAtAll) {
    testsupport::TempDir dir;
    const auto file = dir.path() / "Camera.json";
    const std::vector<FrameSizeChange> first{{0, 1920, 1080}};
    const std::vector<FrameSizeChange> turned{{0, 1920, 1080}, {12.4, 1080, 1920}};
    ASSERT_TRUE(FrameSizeChange::writeAll(first, file).has_value());
    ASSERT_TRUE(FrameSizeChange::writeAll(turned, file).has_value());
    EXPECT_EQ(FrameSizeChange::loadAll(file), turned);

    std::filesystem::create_directory(dir.path() / "Taken");
    const auto failed = FrameSizeChange::writeAll(first, dir.path() / "Taken");
    ASSERT_FALSE(failed.has_value());
    EXPECT_NE(failed.error().find("Taken"), std::string::npos) << failed.error();
    EXPECT_EQ(FrameSizeChange::loadAll(file), turned);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // no temporary left
}

TEST(FrameSizeChangeTest, MalformedOrMissingFilesYieldNothing) {
    const char* malformed[] = {
        "",
        "{}",
        R"([{"time":0,"width":1920}])",
        R"([{"time":0,"width":1920.5,"height":1080}])",
        R"([{"time":0,"width":1e20,"height":1080}])",
        R"([{"time":"0","width":1920,"height":1080}])",
        R"([{"time":0,"width":1920,"height":1080},7])",
        R"([{"time":0,"width":1920,"height":1080})",
    };
    for (const char* text : malformed) {
        EXPECT_FALSE(FrameSizeChange::decodeAll(text).has_value()) << text;
    }
    testsupport::TempDir dir;
    EXPECT_FALSE(FrameSizeChange::loadAll(dir.path() / "Camera.json").has_value());
    std::ofstream(dir.path() / "bad.json") << "[{";
    EXPECT_FALSE(FrameSizeChange::loadAll(dir.path() / "bad.json").has_value());
    std::ofstream(dir.path() / "good.json") << R"([{"time":0,"width":1920,"height":1080}])";
    EXPECT_EQ(FrameSizeChange::loadAll(dir.path() / "good.json"),
              (std::vector<FrameSizeChange>{{0, 1920, 1080}}));
}

TEST(FrameSizeChangeTest, LoadRefusesWhatIsNoSmallRegularFilePromptly) {
    for (const auto kind : testsupport::allHostileFiles()) {
        SCOPED_TRACE(testsupport::toString(kind));
        testsupport::TempDir dir;
        const auto path = dir.path() / "Camera.json";
        testsupport::makeHostileFile(path, kind, FrameSizeChange::kMaxFileBytes + 1, "[");
        const auto outcome = testsupport::runInChild(
            [&] {
                testsupport::LogCapture log;
                return !FrameSizeChange::loadAll(path) && log.contains("Camera.json") ? 0 : 1;
            },
            std::chrono::seconds(10));
        testsupport::expectPromptAndSmall(outcome);
    }
}

TEST(FrameSizeChangeTest, MixedOrientation) {
    struct Case {
        std::vector<FrameSizeChange> changes;
        bool mixed;
    };
    const Case cases[] = {
        {{}, false},
        {{{0, 1920, 1080}}, false},
        {{{0, 1920, 1080}, {3, 3840, 2160}}, false},
        {{{0, 1920, 1080}, {3, 1080, 1920}}, true},
        {{{0, 1080, 1080}, {3, 1080, 1920}}, false},  // square counts as portrait
        {{{0, 1080, 1920}, {2, 1920, 1080}, {4, 1080, 1920}}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hasMixedOrientation(c.changes), c.mixed) << c.changes.size();
    }
}

}  // namespace
}  // namespace hollowkit
