// The state report a journey reads: the screen take's settings it carries
// follow the model, each corner, size and shape under the name the panel
// shows for it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "lumenhollow/app/run_report.h"
#include "tests/model/model_harness.h"

namespace lumenhollow::test {
namespace {

namespace hk = hollowkit;

nlohmann::json reportOf(const CameraModel& model) {
    return nlohmann::json::parse(runReportText(model, {}, 1), nullptr, false);
}

TEST(RunReportTest, TheBubbleIsReportedAsTheModelHoldsIt) {
    ModelHarness h;
    CameraModel& model = h.create();
    const struct {
        hk::BubbleStyle style;
        nlohmann::json reported;
    } cases[] = {
        {{hk::BubbleCorner::topLeading, hk::BubbleSize::small, hk::BubbleShape::circle, hk::BubbleBackground::keep},
         {{"corner", "Top Left"}, {"size", "Small"}, {"shape", "Circle"}, {"background", "Normal"}}},
        {{hk::BubbleCorner::topTrailing, hk::BubbleSize::medium, hk::BubbleShape::circle, hk::BubbleBackground::blur},
         {{"corner", "Top Right"}, {"size", "Medium"}, {"shape", "Circle"}, {"background", "Blur"}}},
        {{hk::BubbleCorner::bottomLeading, hk::BubbleSize::large, hk::BubbleShape::cutout,
          hk::BubbleBackground::remove},
         {{"corner", "Bottom Left"}, {"size", "Large"}, {"shape", "Cutout"}, {"background", "Remove"}}},
        {{hk::BubbleCorner::bottomTrailing, hk::BubbleSize::medium, hk::BubbleShape::cutout,
          hk::BubbleBackground::keep},
         {{"corner", "Bottom Right"}, {"size", "Medium"}, {"shape", "Cutout"}, {"background", "Normal"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reported.dump());
        model.setBubbleStyle(c.style);
        h.main.runUntilIdle();
        EXPECT_EQ(reportOf(model)["bubble"], c.reported);
    }
}

TEST(RunReportTest, TheScreenSwitchAndAutoZoomFollowTheModel) {
    ModelHarness h;
    CameraModel& model = h.create();
    const nlohmann::json off = reportOf(model);
    model.toggleRecordScreen();
    model.setAutoZoom(!off["autoZoom"].get<bool>());
    h.main.runUntilIdle();
    const nlohmann::json on = reportOf(model);
    EXPECT_EQ(off["recordScreen"], false);
    EXPECT_EQ(on["recordScreen"], true);
    EXPECT_NE(on["autoZoom"], off["autoZoom"]);
    EXPECT_EQ(on["startingScreen"], false);
    EXPECT_EQ(on["screenPermissionHelp"], false);
}

// The simulated camera's record rides in the report as it came, and a
// record that is not JSON leaves the rest of the report readable.
TEST(RunReportTest, TheSimulatorsRecordIsCarriedOnlyWhenItIsJson) {
    FakeModelServices fakes;
    const auto model = CameraModel::create(fakes.services(
        std::make_shared<CountingVideoSink>(), std::make_shared<CountingVideoSink>(), "/nonexistent/out", {}));

    struct Case {
        const char* name;
        bool hasSource;
        std::string record;
        nlohmann::json expected;
    };
    const Case cases[] = {
        {"no simulator", false, "", nullptr},
        {"a record", true, R"({"paired":true,"settingsFrames":["02/10 01"]})",
         nlohmann::json{{"paired", true}, {"settingsFrames", {"02/10 01"}}}},
        {"an empty record", true, "{}", nlohmann::json::object()},
        {"half a record", true, R"({"paired":tr)", nullptr},
        {"nothing at all", true, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunReportSources sources;
        if (c.hasSource) sources.simulator = [&c] { return c.record; };
        const nlohmann::json report = nlohmann::json::parse(runReportText(*model, sources, 7), nullptr, false);
        ASSERT_TRUE(report.is_object());
        EXPECT_EQ(report["simulator"], c.expected);
        EXPECT_EQ(report["sample"], 7);
    }
}

}  // namespace
}  // namespace lumenhollow::test
