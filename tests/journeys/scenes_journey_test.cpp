// A settings file holding ten thousand valid scenes, as a damaged or hostile
// file can (well under the settings file's 4 MiB limit): the demonstration
// program reads the first nine, says so in its log, and opening and closing
// the scenes popover leaves it answering (its state report keeps coming)
// and the settings file untouched, since no name was typed. SIGTERM then
// ends it with status 0.

#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

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

// The settings file's text: welcomed, and one scene for each of
// `positions` (pan, tilt), each with its own id and the name "Scene N",
// stored as the program stores them (JSON bytes).
std::string settingsWithScenesAt(const std::vector<std::pair<int, int>>& positions) {
    nlohmann::json scenes = nlohmann::json::array();
    for (size_t i = 0; i < positions.size(); ++i) {
        const std::string digits = std::to_string(i);
        scenes.push_back({{"id", "00000000-0000-4000-8000-" + std::string(12 - digits.size(), '0') + digits},
                          {"name", "Scene " + std::to_string(i + 1)},
                          {"position", {{"pan", positions[i].first}, {"tilt", positions[i].second}}}});
    }
    return nlohmann::json{{"welcomed", true}, {"scenes", {{"$data", base64(scenes.dump())}}}}.dump();
}

// The same with `count` scenes, each at a place of its own.
std::string settingsWithScenes(int count) {
    std::vector<std::pair<int, int>> positions;
    for (int i = 0; i < count; ++i) positions.emplace_back(i % 180 - 90, i % 60 - 30);
    return settingsWithScenesAt(positions);
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
    }

    void store(const std::string& settings) { std::ofstream(settings_) << settings; }

    // The main window's frame once the program shows its picture.
    std::optional<ScreenRect> shownFrame(JourneyApp& app) {
        if (!app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s)) return std::nullopt;
        const std::optional<std::string> window = app.window();
        return window ? windowGeometry(desktop_, *window) : std::nullopt;
    }

    JourneyDesktop desktop_;
    std::filesystem::path settings_;
};

TEST_F(ScenesJourney, TenThousandStoredScenesOpenAndCloseThePopoverAndWriteNothing) {
    const std::string text = settingsWithScenes(kStoredScenes);
    ASSERT_LT(text.size(), kSettingsLimitBytes);
    store(text);
    JourneyApp app(desktop_, "scenes", LUMENHOLLOW_DEMO_PATH);
    const std::optional<ScreenRect> frame = shownFrame(app);
    ASSERT_TRUE(frame) << app.describe();
    EXPECT_NE(app.log().find("Scenes: read 9 of 10000 stored scenes (9991 past the limit of 9 not read)"),
              std::string::npos)
        << app.log();
    const FileStamp before = stampOf(settings_);
    ASSERT_FALSE(before.text.empty());

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

// The scene names the settings file holds, in their order; nothing when it
// holds none that can be read.
std::optional<std::vector<std::string>> storedSceneNames(const std::filesystem::path& file) {
    const nlohmann::json settings = nlohmann::json::parse(readText(file), nullptr, false);
    if (!settings.is_object() || !settings.contains("scenes")) return std::nullopt;
    const std::string text = settings["scenes"].value("$data", "");
    std::string bytes;
    uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = c ? std::strchr(digits, c) : nullptr;
        if (!at) continue;
        group = (group << 6) | static_cast<uint32_t>(at - digits);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((group >> bits) & 0xFF);
        }
    }
    const nlohmann::json scenes = nlohmann::json::parse(bytes, nullptr, false);
    if (!scenes.is_array()) return std::nullopt;
    std::vector<std::string> names;
    for (const nlohmann::json& scene : scenes) names.push_back(scene.value("name", ""));
    return names;
}

// Where the parts of the popover's rows lie, from its window's top left:
// the arrow above the content, the header and its divider, then rows of 66.
constexpr int kPopoverArrow = 8;
constexpr int kPanelHeader = 38;
constexpr int kRowHeight = 66;
constexpr int kPictureCentreX = 56;
constexpr int kPictureCentreY = 33;
constexpr int kNameX = 134;
constexpr int kNameY = 13;
constexpr int kPositionY = 42;

class ScenesPopoverJourney : public ScenesJourney {
protected:
    void SetUp() override {
        ScenesJourney::SetUp();
        if (IsSkipped()) return;
        store(settingsWithScenesAt({{-40, 10}, {0, 0}, {40, -10}}));
    }

    // Opens the popover with the scenes pill; where it lies on the screen.
    std::optional<ScreenRect> openPopover(JourneyApp& app, const ScreenRect& frame) {
        if (!app.clickInWindow(frame.width - kPillFromRight, kTopBarY)) return std::nullopt;
        if (!app.waitForState([](const nlohmann::json& s) { return s["scenesSheet"] == true; }, 10s)) {
            return std::nullopt;
        }
        std::optional<ScreenRect> popover;
        waitFor([&] { return (popover = visibleWindowOfWidth(desktop_, app.pid(), kPanelWidth)).has_value(); }, 10s);
        return popover;
    }

    static int rowTop(const ScreenRect& popover, int row) {
        return popover.y + kPopoverArrow + kPanelHeader + kRowHeight * row;
    }

    // A key as a person presses it, to whichever window holds the keyboard.
    bool press(const std::string& keys) { return xdotool(desktop_, {"key", "--clearmodifiers", keys}); }
};

// With a name being edited, Alt+1 goes to the first scene and types nothing
// into the name, which closing the popover then leaves as it was. Then, with
// another row clicked first, a drag of the third row by its picture to the
// top of the list moves the third row there.
TEST_F(ScenesPopoverJourney, RecallKeysAndADragByThePictureInTheOpenPopover) {
    JourneyApp app(desktop_, "scenes-popover", LUMENHOLLOW_DEMO_PATH);
    const std::optional<ScreenRect> frame = shownFrame(app);
    ASSERT_TRUE(frame) << app.describe();

    std::optional<ScreenRect> popover = openPopover(app, *frame);
    ASSERT_TRUE(popover) << "no popover on the screen; " << app.describe();
    ASSERT_TRUE(app.clickOnScreen(popover->x + kNameX, rowTop(*popover, 1) + kNameY));
    ASSERT_TRUE(press("alt+1"));
    EXPECT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["notice"] == "Scene 1" && s["pose"].is_object() &&
                   std::abs(s["pose"]["pan"].get<double>() + 40) < 1 &&
                   std::abs(s["pose"]["tilt"].get<double>() - 10) < 1;
        },
        10s))
        << "Alt+1 did not go to the first scene; " << app.describe();
    ASSERT_TRUE(press("Escape"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["scenesSheet"] == false; }, 10s))
        << app.describe();
    EXPECT_EQ(storedSceneNames(settings_), (std::vector<std::string>{"Scene 1", "Scene 2", "Scene 3"}))
        << "the key was typed into a name";

    popover = openPopover(app, *frame);
    ASSERT_TRUE(popover) << "the popover did not open again; " << app.describe();
    ASSERT_TRUE(app.clickOnScreen(popover->x + kNameX, rowTop(*popover, 0) + kPositionY));
    ASSERT_TRUE(app.dragOnScreen(popover->x + kPictureCentreX, rowTop(*popover, 2) + kPictureCentreY,
                                 popover->x + kPictureCentreX, rowTop(*popover, 0) + 4));
    EXPECT_TRUE(waitFor(
        [&] { return storedSceneNames(settings_) == std::vector<std::string>{"Scene 3", "Scene 1", "Scene 2"}; }, 10s))
        << "stored: " << nlohmann::json(storedSceneNames(settings_).value_or(std::vector<std::string>{})).dump();
    // The press on the picture became the drag: the camera did not go to the third scene.
    const nlohmann::json now = app.state();
    ASSERT_TRUE(now["pose"].is_object()) << app.describe();
    EXPECT_LT(std::abs(now["pose"]["pan"].get<double>() + 40), 1) << app.describe();

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
