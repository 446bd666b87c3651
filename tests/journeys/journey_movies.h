#pragma once

// What the journeys read back from the files the programs left on disk:
// ffprobe's reading of a movie (its streams, size, duration, and counted
// packets and frames), whether its last second or all of it decodes without
// an error, its sound, the boxes at the top of its file, and the files in
// the output folder. Generous bounds: a loaded machine has been seen to take
// half a minute over a small movie.
//
// Thread: the test's own.

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumenhollow::journey {

// ffprobe's reading of a movie.
struct ProbedMovie {
    int videoStreams = 0;
    int audioStreams = 0;
    // The first video stream's picture size and its packets, read through
    // to the end of the file.
    int width = 0;
    int height = 0;
    long videoPackets = 0;
    // The pictures decoded from those packets: only when asked for
    // (MovieCount::frames); -1 otherwise.
    long videoFrames = -1;
    double durationSeconds = 0;
    // Where the first video and the first audio stream start and how long
    // each lasts, as ffprobe reads them (0 without one).
    double videoStart = 0;
    double videoSeconds = 0;
    double audioStart = 0;
    double audioSeconds = 0;
};

// How far ffprobe reads: every packet, or every packet decoded as well.
enum class MovieCount { packets, frames };

// Nothing when ffprobe cannot read the file or says anything amiss; `error`
// then says why.
std::optional<ProbedMovie> probeMovie(const std::filesystem::path& movie, std::string* error = nullptr,
                                      MovieCount count = MovieCount::packets);

// What the movie being written in `folder` holds so far (its pieces on
// disk): the first movie there, once ffprobe reads a picture in it. How
// much of a recording that is depends on how fast the machine encodes; a
// finished movie holds at least that.
std::optional<ProbedMovie> probeMovieBeingWritten(const std::filesystem::path& folder);

// Waits, for as long as the files in `folder` keep changing, until the movie
// being written there (the first one but those in `besides`) holds `seconds`
// as ffprobe reads it (read again each time they changed): what it held
// then. Nothing when they stopped changing first (the recording ended or the
// program hangs). The program's own progress, however slowly a loaded
// machine lets it write.
std::optional<ProbedMovie> waitForMovieToHold(const std::filesystem::path& folder, double seconds,
                                              const std::set<std::filesystem::path>& besides = {});

// The times of the first video stream's frames in seconds, in the order
// they are stored; nothing when ffprobe cannot read them.
std::optional<std::vector<double>> videoFrameTimes(const std::filesystem::path& movie, std::string* error = nullptr);

// The movie's last `seconds` decode without an error into one whole
// picture or more.
testing::AssertionResult lastFramesDecode(const std::filesystem::path& movie, double seconds = 1.0);

// The whole movie decodes without one error.
testing::AssertionResult wholeMovieDecodes(const std::filesystem::path& movie);

// The movie's sound, its first channel at `sampleRate`, as floats in
// -1...1; nothing when ffmpeg cannot decode it.
std::optional<std::vector<float>> decodedSound(const std::filesystem::path& movie, int sampleRate,
                                               std::string* error = nullptr);

// The types of the boxes at the top of a QuickTime file, in order
// ("ftyp", "mdat", "moov", ...); they stop where a box is cut off. A
// finished movie holds one index ("moov") and no fragments ("moof"): the
// recorder writes fragments while it runs and rewrites them as a regular
// movie at the end.
std::vector<std::string> topLevelBoxes(const std::filesystem::path& movie);

// A movie being written in fragments, as far as its last whole fragment
// ("mdat" box) on the disk: copied to `copy`, so ffprobe reads what was
// there at this moment. False while no fragment is whole.
bool copyWholeFragments(const std::filesystem::path& movie, const std::filesystem::path& copy);
testing::AssertionResult isFinishedMovie(const std::filesystem::path& movie);

// Everything right in `folder` (hidden files and folders too), by name.
std::vector<std::filesystem::path> entriesIn(const std::filesystem::path& folder);
// The regular files right in `folder` whose names end in `extension`
// (".heic"), by name.
std::vector<std::filesystem::path> filesEndingIn(const std::filesystem::path& folder, const std::string& extension);
// The movies (".mov" or ".mp4") right in `folder`, by name.
std::vector<std::filesystem::path> moviesIn(const std::filesystem::path& folder);
// Every regular file under `folder`, however deep, but for the
// application's hidden ones, by path.
std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder);

}  // namespace lumenhollow::journey
