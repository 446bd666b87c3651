#pragma once

// What ffprobe and ffmpeg make of a file the application left on disk: its
// streams and duration, and whether its last second decodes to pictures.
// Generous bounds: a loaded machine has been seen to take half a minute
// over a small movie.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumenhollow::journey {

struct ProbedMovie {
    int videoStreams = 0;
    int audioStreams = 0;
    double durationSeconds = 0;
};

// Nothing when ffprobe cannot read the file; `error` then says why.
std::optional<ProbedMovie> probeMovie(const std::filesystem::path& movie, std::string* error = nullptr);

// The pictures ffmpeg decodes from the movie's last `seconds`, without a
// decoding error; nothing when it reports one (`error` says which).
std::optional<int> decodedTailFrames(const std::filesystem::path& movie, double seconds, std::string* error = nullptr);

// The movie's sound, its first channel at `sampleRate`, as floats in
// -1...1; nothing when ffmpeg cannot decode it.
std::optional<std::vector<float>> decodedSound(const std::filesystem::path& movie, int sampleRate,
                                               std::string* error = nullptr);

// The regular files in `folder` whose names end in `extension` (".mov"),
// in name order.
std::vector<std::filesystem::path> filesEndingIn(const std::filesystem::path& folder, const std::string& extension);

}  // namespace lumenhollow::journey
