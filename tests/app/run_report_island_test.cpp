#include "lumenhollow/app/run_report.h"

#include <gtest/gtest.h>

#include <memory>

#include <nlohmann/json.hpp>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_model_services.h"

namespace lumenhollow {
namespace {

// A model on virtual time with a fake camera, for the report to read.
struct ReportRig : FakeModelServices {
    std::shared_ptr<CameraModel> model = CameraModel::create(services(
        std::make_shared<CountingVideoSink>(), std::make_shared<CountingVideoSink>(), "/nonexistent/out", {}));
};

nlohmann::json reportRect(int x, int y, int width, int height) {
    return {{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

TEST(RunReportTest, TheIslandsPlacesAreReportedOnlyWhileShown) {
    const IslandPlaces closed{{855, 6, 210, 30}, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    const IslandPlaces open{{700, 6, 520, 381}, ReportRect{716, 46, 488, 275}, ReportRect{716, 329, 36, 36},
                            ReportRect{920, 332, 30, 30}, ReportRect{1168, 329, 36, 36}};
    const struct {
        const char* name;
        std::function<std::optional<IslandPlaces>()> places;
        nlohmann::json island, picture, record, chip, windowButton;
    } cases[] = {
        {"no island at all", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {"an island not on the screen", [] { return std::nullopt; }, nullptr, nullptr, nullptr, nullptr, nullptr},
        {"the closed island", [&] { return closed; }, reportRect(855, 6, 210, 30), nullptr, nullptr, nullptr,
         nullptr},
        {"the open island", [&] { return open; }, reportRect(700, 6, 520, 381), reportRect(716, 46, 488, 275),
         reportRect(716, 329, 36, 36), reportRect(920, 332, 30, 30), reportRect(1168, 329, 36, 36)},
    };
    ReportRig rig;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunReportSources sources;
        sources.islandPlaces = c.places;
        const nlohmann::json report = nlohmann::json::parse(runReportText(*rig.model, sources, 1));
        EXPECT_EQ(report["islandRect"], c.island);
        EXPECT_EQ(report["islandPicture"], c.picture);
        EXPECT_EQ(report["islandRecord"], c.record);
        EXPECT_EQ(report["islandSceneChip"], c.chip);
        EXPECT_EQ(report["islandWindowButton"], c.windowButton);
    }
}

TEST(RunReportTest, TheCloseBehaviourFollowsTheSetting) {
    ReportRig rig;
    const auto closing = [&] { return nlohmann::json::parse(runReportText(*rig.model, {}, 1))["closeBehavior"]; };
    EXPECT_EQ(closing(), "keepInNotch");
    rig.model->setCloseBehavior(CloseBehavior::quit);
    EXPECT_EQ(closing(), "quit");
    rig.model->setCloseBehavior(CloseBehavior::keepInNotch);
    EXPECT_EQ(closing(), "keepInNotch");
}

}  // namespace
}  // namespace lumenhollow
