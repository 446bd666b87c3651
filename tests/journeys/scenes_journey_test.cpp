// A settings file holding ten thousand valid scenes, as a damaged or hostile
// file can (well under the settings file's 4 MiB limit): the demonstration
// program reads the first nine, says so in its log, and opening and closing
// the scenes popover leaves it answering (its state report keeps coming)
// and the settings file untouched, since no name was typed. SIGTERM then
// ends it with status 0.

#include <signal.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"

namespace lumenhollow::journey {
namespace {

constexpr int kStoredScenes = 10'000;
constexpr size_t kSettingsLimitBytes = 4 << 20;
// The scenes pill's right half in a 1152-wide window (the top bar's row, the
// folder and gear buttons right of it: tests/journeys/live-references/window-usb.png);
// its right edge stays put however long its title grows.
constexpr int kPillFromRight = 105;
constexpr int kTopBarY = 43;
// The popover's content is this wide.
constexpr int kPanelWidth = 380;

std::string base64(const std::string& bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
        if (left > 1) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (left > 2) group |= static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[(group >> 18) & 63];
        out += kDigits[(group >> 12) & 63];
        out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
        out += left > 2 ? kDigits[group & 63] : '=';
    }
    return out;
}

// The settings file's text: welcomed, and `count` scenes each with its own
// id, name and position, stored as the program stores them (JSON bytes).
std::string settingsWithScenes(int count) {
    nlohmann::json scenes = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        const std::string digits = std::to_string(i);
        scenes.push_back({{"id", "00000000-0000-4000-8000-" + std::string(12 - digits.size(), '0') + digits},
                          {"name", "Scene " + std::to_string(i + 1)},
                          {"position", {{"pan", i % 180 - 90}, {"tilt", i % 60 - 30}}}});
    }
    return nlohmann::json{{"welcomed", true}, {"scenes", {{"$data", base64(scenes.dump())}}}}.dump();
}

struct FileStamp {
    std::string text;
    int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const std::filesystem::path& file) {
    struct stat info{};
    if (::stat(file.c_str(), &info) != 0) return {};
    return {readText(file), static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

// The state report moves on within a second: the program's main thread answers.
bool keepsAnswering(JourneyApp& app) {
    const nlohmann::json now = app.state();
    if (!now.is_object()) return false;
    const uint64_t sample = now["sample"].get<uint64_t>();
    return app.waitForState([&](const nlohmann::json& s) { return s["sample"].get<uint64_t>() > sample; }, 1s);
}

class ScenesJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        desktop_.start(1512, 944);
        settings_ = desktop_.configHome() / "lumenhollow" / "settings.json";
        std::filesystem::create_directories(settings_.parent_path());
        const std::string text = settingsWithScenes(kStoredScenes);
        ASSERT_LT(text.size(), kSettingsLimitBytes);
        std::ofstream(settings_) << text;
    }

    JourneyDesktop desktop_;
    std::filesystem::path settings_;
};

TEST_F(ScenesJourney, TenThousandStoredScenesOpenAndCloseThePopoverAndWriteNothing) {
    JourneyApp app(desktop_, "scenes", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    EXPECT_NE(app.log().find("Scenes: read 9 of 10000 stored scenes (9991 past the limit of 9 not read)"),
              std::string::npos)
        << app.log();
    const FileStamp before = stampOf(settings_);
    ASSERT_FALSE(before.text.empty());

    const std::optional<std::string> window = app.window();
    ASSERT_TRUE(window);
    const std::optional<ScreenRect> frame = windowGeometry(desktop_, *window);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(app.clickInWindow(frame->width - kPillFromRight, kTopBarY));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["scenesSheet"] == true; }, 10s))
        << (keepsAnswering(app) ? "the scenes pill did not open its popover; "
                                : "the program stopped answering as the popover opened; ")
        << app.describe();
    ASSERT_TRUE(waitFor([&] { return visibleWindowOfWidth(desktop_, app.pid(), kPanelWidth).has_value(); }, 10s))
        << "no popover on the screen";
    EXPECT_TRUE(keepsAnswering(app)) << "the program stopped answering with the popover open; " << app.describe();

    // A click on the picture, outside the popover, closes it as a person closes it.
    ASSERT_TRUE(app.clickInWindow(frame->width / 4, frame->height / 2));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["scenesSheet"] == false; }, 10s))
        << (keepsAnswering(app) ? "the popover did not close; " : "the program stopped answering as the popover closed; ")
        << app.describe();
    EXPECT_TRUE(keepsAnswering(app)) << "the program stopped answering after the popover closed; " << app.describe();
    EXPECT_TRUE(keepsAnswering(app));
    EXPECT_TRUE(stampOf(settings_) == before) << "closing the popover with no name typed rewrote the settings";

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
