#include "tests/journeys/journey_movies.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include <nlohmann/json.hpp>

#include "hollowkit/base/command_runner.h"
#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {
namespace {

constexpr std::chrono::seconds kMovieToolLimit{120};

hollowkit::CommandResult runMovieTool(const std::string& program, const std::vector<std::string>& arguments) {
    return hollowkit::CommandRunner::run(program, arguments, {}, /*logged=*/false, kMovieToolLimit);
}

// ffprobe writes its counts and times as text.
long countIn(const nlohmann::json& stream, const char* key) {
    if (!stream.contains(key) || !stream[key].is_string()) return -1;
    return std::strtol(stream[key].get<std::string>().c_str(), nullptr, 10);
}
double secondsIn(const nlohmann::json& stream, const char* key) {
    if (!stream.contains(key) || !stream[key].is_string()) return 0;
    return std::strtod(stream[key].get<std::string>().c_str(), nullptr);
}

// The regular files right in `folder` that `wanted` keeps, by name.
std::vector<std::filesystem::path> filesRightIn(const std::filesystem::path& folder,
                                                const std::function<bool(const std::filesystem::path&)>& wanted) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && wanted(entry.path())) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::optional<ProbedMovie> probeMovie(const std::filesystem::path& movie, std::string* error, MovieCount count) {
    std::vector<std::string> arguments{"-v", "error", "-of", "json", "-count_packets"};
    if (count == MovieCount::frames) arguments.emplace_back("-count_frames");
    for (const char* word : {"-show_streams", "-show_format"}) arguments.emplace_back(word);
    arguments.push_back(movie.string());
    const hollowkit::CommandResult result = runMovieTool("/usr/bin/ffprobe", arguments);
    // Its complaints share the output with the reading, which then does not parse.
    const nlohmann::json probed = nlohmann::json::parse(result.output, nullptr, false);
    if (result.status != 0 || !probed.is_object() || !probed.contains("streams") || !probed.contains("format")) {
        if (error) *error = "ffprobe: " + result.output;
        return std::nullopt;
    }
    ProbedMovie found;
    for (const auto& stream : probed["streams"]) {
        const std::string type = stream.value("codec_type", "");
        if (type == "video" && found.videoStreams++ == 0) {
            found.width = stream.value("width", 0);
            found.height = stream.value("height", 0);
            found.videoPackets = countIn(stream, "nb_read_packets");
            if (count == MovieCount::frames) found.videoFrames = countIn(stream, "nb_read_frames");
            found.videoStart = secondsIn(stream, "start_time");
            found.videoSeconds = secondsIn(stream, "duration");
        }
        if (type == "audio" && found.audioStreams++ == 0) {
            found.audioStart = secondsIn(stream, "start_time");
            found.audioSeconds = secondsIn(stream, "duration");
        }
    }
    found.durationSeconds = std::strtod(probed["format"].value("duration", "0").c_str(), nullptr);
    return found;
}

std::optional<ProbedMovie> probeMovieBeingWritten(const std::filesystem::path& folder) {
    const std::vector<std::filesystem::path> movies = moviesIn(folder);
    if (movies.empty()) return std::nullopt;
    std::optional<ProbedMovie> probed = probeMovie(movies.front());
    if (!probed || probed->videoPackets <= 0) return std::nullopt;
    return probed;
}

std::optional<ProbedMovie> waitForMovieToHold(const std::filesystem::path& folder, double seconds,
                                              const std::set<std::filesystem::path>& besides) {
    std::optional<ProbedMovie> written;
    std::string readAt;
    const bool held = waitWhileProgressing(
        [&] {
            const std::string sizes = sizesUnder(folder);
            if (sizes == readAt) return false;
            readAt = sizes;
            for (const std::filesystem::path& movie : moviesIn(folder)) {
                if (besides.count(movie) != 0) continue;
                written = probeMovie(movie);
                return written && written->videoPackets > 0 && written->durationSeconds >= seconds;
            }
            return false;
        },
        [&] { return sizesUnder(folder); });
    return held ? written : std::nullopt;
}

std::optional<std::vector<double>> videoFrameTimes(const std::filesystem::path& movie, std::string* error) {
    const hollowkit::CommandResult result =
        runMovieTool("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "v:0", "-of", "json", "-show_entries",
                                          "packet=pts_time", movie.string()});
    const nlohmann::json probed = nlohmann::json::parse(result.output, nullptr, false);
    if (result.status != 0 || !probed.is_object() || !probed.contains("packets")) {
        if (error) *error = "ffprobe: " + result.output;
        return std::nullopt;
    }
    std::vector<double> times;
    for (const auto& packet : probed["packets"]) {
        times.push_back(std::strtod(packet.value("pts_time", "nan").c_str(), nullptr));
    }
    return times;
}

testing::AssertionResult lastFramesDecode(const std::filesystem::path& movie, double seconds) {
    std::string error;
    const std::optional<ProbedMovie> probed = probeMovie(movie, &error);
    if (!probed || probed->videoStreams == 0 || probed->width <= 0 || probed->height <= 0) {
        return testing::AssertionFailure() << movie << " has no video ffprobe can read: " << error;
    }
    const std::filesystem::path raw = movie.parent_path() / (movie.stem().string() + ".last.rgb");
    std::error_code removeError;
    std::filesystem::remove(raw, removeError);
    // Errors only, and the first one ends the run: a damaged or cut-off
    // tail makes the decoder speak up.
    const hollowkit::CommandResult result = runMovieTool(
        "/usr/bin/ffmpeg", {"-nostdin", "-v", "error", "-xerror", "-sseof", "-" + std::to_string(seconds), "-i",
                            movie.string(), "-map", "0:v:0", "-f", "rawvideo", "-pix_fmt", "rgb24", "-y", raw.string()});
    const auto bytes = std::filesystem::file_size(raw, removeError);
    const auto picture = static_cast<uintmax_t>(probed->width) * static_cast<uintmax_t>(probed->height) * 3;
    std::filesystem::remove(raw, removeError);
    if (result.status != 0 || !result.output.empty()) {
        return testing::AssertionFailure() << "decoding the last " << seconds << " s of " << movie << " failed ("
                                           << result.status << "): " << result.output;
    }
    if (bytes == 0 || bytes % picture != 0) {
        return testing::AssertionFailure() << "the last " << seconds << " s of " << movie << " decoded to " << bytes
                                           << " bytes, not whole pictures of " << picture;
    }
    return testing::AssertionSuccess() << bytes / picture << " pictures";
}

testing::AssertionResult wholeMovieDecodes(const std::filesystem::path& movie) {
    // Each picture keeps its own time: a camera's pictures come a little
    // unevenly, and rounded to one frame rate two would share a tick, which
    // ffmpeg reports as an error of its own, not of the movie.
    const hollowkit::CommandResult decoded =
        runMovieTool("/usr/bin/ffmpeg", {"-nostdin", "-v", "error", "-xerror", "-i", movie.string(), "-fps_mode",
                                         "passthrough", "-enc_time_base", "-1", "-f", "null", "-"});
    if (decoded.status != 0 || !decoded.output.empty()) {
        return testing::AssertionFailure() << "decoding " << movie << " reported errors (" << decoded.status
                                           << "): " << decoded.output;
    }
    return testing::AssertionSuccess();
}

std::optional<std::vector<float>> decodedSound(const std::filesystem::path& movie, int sampleRate,
                                               std::string* error) {
    const std::filesystem::path raw = movie.string() + ".sound.f32";
    const hollowkit::CommandResult result =
        runMovieTool("/usr/bin/ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", movie.string(), "-map", "0:a:0", "-ac",
                                         "1", "-ar", std::to_string(sampleRate), "-f", "f32le", raw.string()});
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

namespace {

struct Box {
    std::string type;
    uint64_t end = 0;  // its end in the file
};

// The whole boxes at the top of the file, as far as `fileSize` reaches.
std::vector<Box> wholeTopLevelBoxes(std::ifstream& in, uint64_t fileSize) {
    std::vector<Box> boxes;
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
        at += size;
        boxes.push_back({type, at});
    }
    return boxes;
}

}  // namespace

std::vector<std::string> topLevelBoxes(const std::filesystem::path& movie) {
    std::vector<std::string> types;
    std::ifstream in(movie, std::ios::binary);
    std::error_code error;
    const uint64_t fileSize = std::filesystem::file_size(movie, error);
    if (error) return types;
    for (const Box& box : wholeTopLevelBoxes(in, fileSize)) types.push_back(box.type);
    return types;
}

bool copyWholeFragments(const std::filesystem::path& movie, const std::filesystem::path& copy) {
    std::ifstream in(movie, std::ios::binary);
    std::error_code error;
    const uint64_t fileSize = std::filesystem::file_size(movie, error);
    if (error) return false;
    const std::vector<Box> boxes = wholeTopLevelBoxes(in, fileSize);
    const auto lastData = std::find_if(boxes.rbegin(), boxes.rend(), [](const Box& box) { return box.type == "mdat"; });
    if (lastData == boxes.rend()) return false;
    std::vector<char> bytes(lastData->end);
    in.clear();
    in.seekg(0);
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return false;
    std::ofstream out(copy, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
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

std::vector<std::filesystem::path> entriesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> entries;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<std::filesystem::path> filesEndingIn(const std::filesystem::path& folder, const std::string& extension) {
    return filesRightIn(folder, [&](const std::filesystem::path& file) { return file.extension() == extension; });
}

std::vector<std::filesystem::path> moviesIn(const std::filesystem::path& folder) {
    return filesRightIn(folder, [](const std::filesystem::path& file) {
        return file.extension() == ".mov" || file.extension() == ".mp4";
    });
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file() && it->path().filename().string().front() != '.') files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace lumenhollow::journey
