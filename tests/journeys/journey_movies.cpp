#include "tests/journeys/journey_movies.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

#include "hollowkit/base/command_runner.h"
#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {

// Generous: a loaded machine has been seen to take half a minute for a small movie.
constexpr std::chrono::seconds kToolLimit{120};

std::optional<MovieReading> readMovie(const std::filesystem::path& movie) {
    const hollowkit::CommandResult result = hollowkit::CommandRunner::run(
        "/usr/bin/ffprobe", {"-v", "error", "-of", "json", "-show_streams", "-show_format", movie.string()}, {},
        /*logged=*/false, kToolLimit);
    if (result.status != 0) return std::nullopt;
    const nlohmann::json probed = nlohmann::json::parse(result.output, nullptr, false);
    if (!probed.is_object() || !probed.contains("streams") || !probed.contains("format")) return std::nullopt;
    MovieReading reading;
    for (const auto& stream : probed["streams"]) {
        const std::string type = stream.value("codec_type", "");
        if (type == "video" && !reading.hasVideo) {
            reading.hasVideo = true;
            reading.width = stream.value("width", 0);
            reading.height = stream.value("height", 0);
        }
        if (type == "audio") reading.hasAudio = true;
    }
    reading.seconds = std::strtod(probed["format"].value("duration", "0").c_str(), nullptr);
    return reading;
}

testing::AssertionResult lastFramesDecode(const std::filesystem::path& movie) {
    const std::optional<MovieReading> reading = readMovie(movie);
    if (!reading || !reading->hasVideo || reading->width <= 0 || reading->height <= 0) {
        return testing::AssertionFailure() << movie << " has no video ffprobe can read";
    }
    const std::filesystem::path raw = movie.parent_path() / (movie.stem().string() + ".last.rgb");
    std::error_code error;
    std::filesystem::remove(raw, error);
    // Errors only: a damaged or cut-off tail makes the decoder speak up.
    const hollowkit::CommandResult result = hollowkit::CommandRunner::run(
        "/usr/bin/ffmpeg",
        {"-v", "error", "-sseof", "-1", "-i", movie.string(), "-map", "0:v:0", "-f", "rawvideo", "-pix_fmt", "rgb24",
         "-y", raw.string()},
        {}, /*logged=*/false, kToolLimit);
    const auto bytes = std::filesystem::file_size(raw, error);
    const auto picture = static_cast<uintmax_t>(reading->width) * static_cast<uintmax_t>(reading->height) * 3;
    std::filesystem::remove(raw, error);
    if (result.status != 0 || !result.output.empty()) {
        return testing::AssertionFailure() << "decoding the last second of " << movie << " failed ("
                                           << result.status << "): " << result.output;
    }
    if (bytes == 0 || bytes % picture != 0) {
        return testing::AssertionFailure() << "the last second of " << movie << " decoded to " << bytes
                                           << " bytes, not whole pictures of " << picture;
    }
    return testing::AssertionSuccess() << bytes / picture << " pictures";
}

std::vector<std::string> topLevelBoxes(const std::filesystem::path& movie) {
    std::vector<std::string> boxes;
    std::ifstream in(movie, std::ios::binary);
    std::error_code error;
    const uint64_t fileSize = std::filesystem::file_size(movie, error);
    if (error) return boxes;
    uint64_t at = 0;
    while (at + 8 <= fileSize) {
        unsigned char head[16] = {};
        in.seekg(static_cast<std::streamoff>(at));
        if (!in.read(reinterpret_cast<char*>(head), 8)) break;
        uint64_t size = (uint64_t{head[0]} << 24) | (uint64_t{head[1]} << 16) | (uint64_t{head[2]} << 8) | head[3];
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (size == 1) {
            // A 64-bit size follows the type.
            if (!in.read(reinterpret_cast<char*>(head + 8), 8)) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | head[i];
        } else if (size == 0) {
            size = fileSize - at;  // to the end of the file
        }
        if (size < 8 || at + size > fileSize) break;
        boxes.push_back(type);
        at += size;
    }
    return boxes;
}

testing::AssertionResult isFinishedMovie(const std::filesystem::path& movie) {
    const std::vector<std::string> boxes = topLevelBoxes(movie);
    std::string listed;
    for (const std::string& box : boxes) listed += box + " ";
    const auto count = [&](const char* type) { return std::ranges::count(boxes, std::string(type)); };
    if (count("moov") == 1 && count("moof") == 0 && count("mdat") >= 1) {
        return testing::AssertionSuccess() << listed;
    }
    return testing::AssertionFailure() << movie << " is not a finished movie; its boxes: " << listed;
}

std::vector<std::filesystem::path> moviesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> movies;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() && (extension == ".mov" || extension == ".mp4")) movies.push_back(entry.path());
    }
    std::sort(movies.begin(), movies.end());
    return movies;
}

void storeWelcomed(const JourneyDesktop& desktop) {
    const std::filesystem::path settings = desktop.configHome() / "lumenhollow" / "settings.json";
    std::filesystem::create_directories(settings.parent_path());
    std::ofstream(settings) << R"({"welcomed": true})" << '\n';
}

}  // namespace lumenhollow::journey
