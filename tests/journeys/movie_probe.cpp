#include "tests/journeys/movie_probe.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <nlohmann/json.hpp>

#include "hollowkit/base/command_runner.h"

namespace lumenhollow::journey {
namespace {

constexpr auto kProbeLimit = std::chrono::seconds(120);

hollowkit::CommandResult runTool(const std::string& program, const std::vector<std::string>& arguments) {
    return hollowkit::CommandRunner::run(program, arguments, {}, /*logged=*/false, kProbeLimit);
}

}  // namespace

std::optional<ProbedMovie> probeMovie(const std::filesystem::path& movie, std::string* error) {
    const hollowkit::CommandResult result =
        runTool("/usr/bin/ffprobe", {"-v", "error", "-of", "json", "-show_streams", "-show_format", movie.string()});
    const nlohmann::json probed = nlohmann::json::parse(result.output, nullptr, false);
    if (result.status != 0 || !probed.is_object() || !probed.contains("streams") || !probed.contains("format")) {
        if (error) *error = "ffprobe: " + result.output;
        return std::nullopt;
    }
    ProbedMovie found;
    for (const auto& stream : probed["streams"]) {
        const std::string type = stream.value("codec_type", "");
        if (type == "video") ++found.videoStreams;
        if (type == "audio") ++found.audioStreams;
    }
    found.durationSeconds = std::strtod(probed["format"].value("duration", "0").c_str(), nullptr);
    return found;
}

std::optional<int> decodedTailFrames(const std::filesystem::path& movie, double seconds, std::string* error) {
    // One line per decoded picture; -xerror turns any damage into a failure.
    const hollowkit::CommandResult result =
        runTool("/usr/bin/ffmpeg", {"-nostdin", "-v", "error", "-xerror", "-sseof", "-" + std::to_string(seconds),
                                    "-i", movie.string(), "-map", "0:v:0", "-f", "framemd5", "-"});
    if (result.status != 0) {
        if (error) *error = "ffmpeg: " + result.output;
        return std::nullopt;
    }
    int frames = 0;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') ++frames;
    }
    return frames;
}

std::optional<std::vector<float>> decodedSound(const std::filesystem::path& movie, int sampleRate,
                                               std::string* error) {
    const std::filesystem::path raw = movie.string() + ".sound.f32";
    const hollowkit::CommandResult result =
        runTool("/usr/bin/ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", movie.string(), "-map", "0:a:0", "-ac", "1",
                                    "-ar", std::to_string(sampleRate), "-f", "f32le", raw.string()});
    std::ifstream in(raw, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code removeError;
    std::filesystem::remove(raw, removeError);
    if (result.status != 0) {
        if (error) *error = "ffmpeg: " + result.output;
        return std::nullopt;
    }
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

std::vector<std::filesystem::path> filesEndingIn(const std::filesystem::path& folder, const std::string& extension) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && entry.path().extension() == extension) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace lumenhollow::journey
