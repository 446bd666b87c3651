// A disk that fills during a recording: the program runs with a cap on the
// size of any file it writes, so the movie's writes past it fail (EFBIG) as
// they would on a full disk. Nobody stops the recording: it ends by itself
// with "Recording failed: " and the system's reason, the program goes on,
// and the one movie left behind (no half-written temporary beside it) opens
// in ffprobe and decodes to its last frame without an error.

#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/command_runner.h"
#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {
namespace {

// Room for a few seconds of the demo camera's movie.
constexpr rlim_t kDiskRoom = 3 * 1024 * 1024;

std::vector<std::filesystem::path> entriesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> entries;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) entries.push_back(entry.path());
    return entries;
}

// ffprobe's count of the video track's packets and of the frames decoded
// from them; nothing when it cannot read the movie.
std::optional<std::pair<long, long>> countedVideo(const std::filesystem::path& movie) {
    const hollowkit::CommandResult counted = hollowkit::CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "quiet", "-count_packets", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=nb_read_packets,nb_read_frames", "-of", "json", movie.string()},
        {}, /*logged=*/false, std::chrono::seconds(120));
    if (counted.status != 0) return std::nullopt;
    const nlohmann::json read = nlohmann::json::parse(counted.output, nullptr, false);
    if (!read.is_object() || !read.contains("streams") || read["streams"].empty()) return std::nullopt;
    const nlohmann::json& stream = read["streams"][0];
    const auto number = [&](const char* key) {
        if (!stream.contains(key) || !stream[key].is_string()) return -1L;
        return std::strtol(stream[key].get<std::string>().c_str(), nullptr, 10);
    };
    return std::make_pair(number("nb_read_packets"), number("nb_read_frames"));
}

class DiskFullJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        desktop_.start();
        // Welcomed before: the welcome sheet would take the first keys.
        std::filesystem::create_directories(desktop_.configHome() / "lumenhollow");
        std::ofstream(desktop_.configHome() / "lumenhollow" / "settings.json") << R"({"welcomed": true})";
    }

    JourneyDesktop desktop_;
};

TEST_F(DiskFullJourney, TheRecordingEndsWithItsNoticeAndLeavesAMovieThatPlaysToItsEnd) {
    JourneyApp app(desktop_, "demo", LUMENHOLLOW_DEMO_PATH, {}, {}, {{RLIMIT_FSIZE, kDiskRoom}});
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == true; }, 30s))
        << app.describe();

    std::string notice;
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            if (s["notice"].is_string()) notice = s["notice"].get<std::string>();
            return s["recording"] == false && !notice.empty();
        },
        90s))
        << app.describe();
    EXPECT_EQ(notice.rfind("Recording failed: ", 0), 0u) << notice;
    EXPECT_NE(notice.find(std::strerror(EFBIG)), std::string::npos) << notice;
    EXPECT_TRUE(app.running()) << app.describe();

    const std::vector<std::filesystem::path> entries = entriesIn(desktop_.outputFolder());
    ASSERT_EQ(entries.size(), 1u) << "expected the movie alone in " << desktop_.outputFolder();
    const std::filesystem::path movie = entries.front();
    EXPECT_EQ(movie.extension(), ".mov");

    // Every packet of the video track decodes to a frame, the last ones too,
    // and the whole movie decodes without one error.
    const auto counted = countedVideo(movie);
    ASSERT_TRUE(counted.has_value()) << "ffprobe cannot read the movie";
    const auto [packets, frames] = *counted;
    EXPECT_GE(packets, 15);
    EXPECT_EQ(frames, packets) << "packets that do not decode";
    const hollowkit::CommandResult decoded = hollowkit::CommandRunner::run(
        "/usr/bin/ffmpeg", {"-v", "error", "-xerror", "-i", movie.string(), "-f", "null", "-"}, {},
        /*logged=*/false, std::chrono::seconds(120));
    EXPECT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.output, "") << "decoding the movie reported errors";

    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
