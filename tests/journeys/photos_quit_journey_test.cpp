// Photos in a row, then the program is ended while they still wait to be
// written: the demonstration holds its photos until the test opens their
// gate (LUMENHOLLOW_DEMO_PHOTO_GATE), so the end always comes first. Ctrl+Q
// and SIGTERM (as a logout sends it) wait for every photo pressed before
// them and end with status 0, leaving each photo whole and nothing else;
// more presses than may wait are refused aloud. A kill (SIGKILL) leaves no
// file under a photo's name at all.

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/testing/still_image_probe.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

enum class Ending : uint8_t { ctrlQ, sigterm, sigkill };

struct PhotoQuitCase {
    const char* name;
    int presses;
    Ending ending;
    int taken;  // the photos that wait: at most eight
};

class PhotosQuitJourney : public testing::TestWithParam<PhotoQuitCase> {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        desktop_.start();
        storeWelcomed(desktop_);
    }

    JourneyDesktop desktop_;
};

int linesWith(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

TEST_P(PhotosQuitJourney, EveryPhotoPressedBeforeTheEndIsWholeAndNoneIsEmpty) {
    const PhotoQuitCase& c = GetParam();
    const std::filesystem::path gate = desktop_.home() / "photo-gate";
    JourneyApp app(desktop_, "photos", LUMENHOLLOW_DEMO_PATH, {"LUMENHOLLOW_DEMO_PHOTO_GATE=" + gate.string()});
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();

    // Each press is taken by a frame before the next: a press while a photo
    // still waits for its frame would replace that one.
    for (int i = 0; i < c.presses; ++i) {
        ASSERT_TRUE(app.key("ctrl+s")) << "press " << i;
        if (i >= c.taken) continue;
        ASSERT_TRUE(app.waitForState(
            [&](const nlohmann::json& s) { return s["photos"] == i + 1 && s["photoWaitsForFrame"] == false; }, 60s))
            << "press " << i << "; " << app.describe();
    }
    // The photos wait, held at the gate, and a press beyond eight was
    // refused aloud. (A press still on its way when the end comes is
    // refused as well: it finds eight waiting, or the quit.)
    const bool refusing = c.presses > c.taken;
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            return s["photos"] == c.taken &&
                   (!refusing || s["notice"] == "Photo failed: 8 photos are still being saved");
        },
        60s))
        << app.describe() << app.log();
    EXPECT_EQ(linesWith(app.log(), "Photos not taken while 8 are still being saved"), refusing ? 1 : 0);

    const std::string waiting = "Waiting for " + std::to_string(c.taken) + " photos to be saved";
    switch (c.ending) {
    case Ending::ctrlQ: ASSERT_TRUE(app.key("ctrl+q")); break;
    case Ending::sigterm: app.signal(SIGTERM); break;
    case Ending::sigkill: app.signal(SIGKILL); break;
    }
    if (c.ending == Ending::sigkill) {
        EXPECT_EQ(app.waitForExit(60s), std::optional<int>(128 + SIGKILL));
        EXPECT_TRUE(entriesIn(desktop_.outputFolder()).empty()) << "something stands under a photo's name";
        return;
    }
    // The quit waits for the photos, which are still held, and the window
    // says so; Ctrl+Q again neither ends the wait nor loses a photo: the
    // window says it still saves them.
    EXPECT_TRUE(waitFor([&] { return app.log().find(waiting) != std::string::npos || !app.running(); }, 60s));
    EXPECT_TRUE(app.running()) << "the program ended before its photos were written\n" << app.log();
    const std::string saving = "Saving " + std::to_string(c.taken) + " photos before quitting…";
    EXPECT_TRUE(app.waitForState([&](const nlohmann::json& s) { return s["quitting"] == saving; }, 60s))
        << app.describe();
    ASSERT_TRUE(app.key("ctrl+q"));
    const std::string still = "Still s" + saving.substr(1);
    EXPECT_TRUE(app.waitForState([&](const nlohmann::json& s) { return s["quitting"] == still; }, 60s))
        << app.describe();
    EXPECT_TRUE(app.running()) << "a second quit ended the wait\n" << app.log();
    std::ofstream(gate).flush();
    ASSERT_EQ(app.waitForExit(120s), std::optional<int>(0)) << app.log();

    const std::string log = app.log();
    EXPECT_EQ(linesWith(log, "Photo saved: "), c.taken) << log;
    EXPECT_EQ(log.find("did not close in time"), std::string::npos) << log;
    EXPECT_EQ(log.find("were not saved within"), std::string::npos) << log;
    const auto entries = entriesIn(desktop_.outputFolder());
    EXPECT_EQ(static_cast<int>(entries.size()), c.taken) << log;
    for (const auto& entry : entries) {
        const std::string name = entry.filename().string();
        EXPECT_TRUE(name.starts_with("Lumenhollow Photo ") && name.ends_with(".heic")) << name << " is left over";
        std::error_code error;
        EXPECT_GT(std::filesystem::file_size(entry, error), 0u) << name << " is empty";
        std::string why;
        EXPECT_TRUE(hollowkit::decodeHeifFile(entry, &why)) << name << ": " << why;
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, PhotosQuitJourney,
                         testing::Values(PhotoQuitCase{"FiveThenCtrlQ", 5, Ending::ctrlQ, 5},
                                         PhotoQuitCase{"TenThenSigterm", 10, Ending::sigterm, 8},
                                         PhotoQuitCase{"ThreeThenSigkill", 3, Ending::sigkill, 3}),
                         [](const testing::TestParamInfo<PhotoQuitCase>& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace lumenhollow::journey
