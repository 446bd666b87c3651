// A settings folder the program cannot write (a read-only folder, as a
// locked-down home or a full disk leaves it): the demonstration program
// starts with what the settings file holds, and saving a scene with its
// shortcut keeps the scene for the session while the window's notice says,
// once, that settings cannot be saved and why. No notice claims a scene was
// saved, and the file is left as it was. SIGTERM then ends it with status 0.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSetpriv = "/usr/bin/setpriv";

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

class ReadOnlySettingsJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        // Root writes into a read-only folder all the same: the program then
        // runs without the capabilities that let it, as any user runs.
        if (::geteuid() == 0 && !fs::exists(kSetpriv)) GTEST_SKIP() << "setpriv is not installed";
        desktop_.start();
        settings_ = desktop_.configHome() / "lumenhollow" / "settings.json";
        fs::create_directories(settings_.parent_path());
        // Welcomed and paired: starting writes nothing.
        std::ofstream(settings_) << R"({"welcomed": true, "pairingIdentifier": "0123456789abcdef0123456789abcdef"})";
        fs::permissions(settings_.parent_path(), fs::perms(0555));
    }

    void TearDown() override {
        std::error_code ignored;
        if (!settings_.empty()) fs::permissions(settings_.parent_path(), fs::perms(0755), ignored);
    }

    std::string program(std::vector<std::string>& arguments) const {
        if (::geteuid() != 0) return LUMENHOLLOW_DEMO_PATH;
        arguments = {"--bounding-set=-dac_override,-dac_read_search", "--", LUMENHOLLOW_DEMO_PATH};
        return kSetpriv;
    }

    JourneyDesktop desktop_;
    fs::path settings_;
};

TEST_F(ReadOnlySettingsJourney, SavingASceneSaysOnceThatSettingsCannotBeSavedAndNeverSaved) {
    const std::string before = readText(settings_);
    const std::set<std::string> filesBefore = namesIn(settings_.parent_path());
    std::vector<std::string> arguments;
    const std::string path = program(arguments);
    JourneyApp app(desktop_, "readonly", path, {}, arguments);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    EXPECT_TRUE(app.state()["notice"].is_null()) << "starting wrote something: " << app.describe();
    ASSERT_TRUE(app.window());

    const std::string told = std::string("Settings cannot be saved (") + std::strerror(EACCES) +
                             "); changes last until Lumenhollow quits";
    std::vector<std::string> notices;
    const auto watchNotices = [&](const nlohmann::json& s) {
        if (s["notice"].is_string() && (notices.empty() || notices.back() != s["notice"].get<std::string>())) {
            notices.push_back(s["notice"].get<std::string>());
        }
    };
    // Each answer is waited for in the program's own time (ten seconds of
    // its reports), however slowly a loaded machine runs it.
    ASSERT_TRUE(app.key("ctrl+shift+s"));
    ASSERT_TRUE(app.waitForStateWithinReports(
        [&](const nlohmann::json& s) {
            watchNotices(s);
            return s["scenes"] == 1 && s["notice"].is_string();
        },
        100))
        << app.describe();
    EXPECT_EQ(app.state()["notice"], told) << app.describe();

    // The second scene is kept as well, and the reason is not told again.
    ASSERT_TRUE(app.key("ctrl+shift+s"));
    ASSERT_TRUE(app.waitForStateWithinReports(
        [&](const nlohmann::json& s) {
            watchNotices(s);
            return s["scenes"] == 2 && s["notice"] == "Scene 2 kept until Lumenhollow quits (Alt+2)";
        },
        100))
        << app.describe();
    EXPECT_EQ(std::count(notices.begin(), notices.end(), told), 1) << testing::PrintToString(notices);
    for (const std::string& notice : notices) {
        EXPECT_EQ(notice.find("saved (Alt+"), std::string::npos) << notice;
    }
    EXPECT_NE(app.log().find("\"scenes\" not saved"), std::string::npos) << app.log();

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
    EXPECT_EQ(readText(settings_), before) << "the settings file was changed";
    EXPECT_EQ(namesIn(settings_.parent_path()), filesBefore) << "something was left beside the settings";
}

}  // namespace
}  // namespace lumenhollow::journey
