#include "lumenhollow/app/run_report.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_model_services.h"

namespace lumenhollow {
namespace {

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
}  // namespace lumenhollow
