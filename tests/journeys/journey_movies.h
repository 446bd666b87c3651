#pragma once

// What the journeys read back from the movies the programs wrote: ffprobe's
// reading of a movie, whether its last frames decode, and the settings a
// returning user already has (so no welcome sheet stands in the way).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumenhollow::journey {

class JourneyDesktop;

// ffprobe's reading: the container's duration and the streams it holds.
struct MovieReading {
    double seconds = 0;
    bool hasVideo = false;
    bool hasAudio = false;
    int width = 0;
    int height = 0;
};
std::optional<MovieReading> readMovie(const std::filesystem::path& movie);

// The movie's last second decodes without an error into at least one
// whole picture.
testing::AssertionResult lastFramesDecode(const std::filesystem::path& movie);

// The types of the boxes at the top of a QuickTime file, in order
// ("ftyp", "mdat", "moov", ...); they stop where a box is cut off. A
// finished movie holds one index ("moov") and no fragments ("moof"): the
// recorder writes fragments while it runs and rewrites them as a regular
// movie at the end.
std::vector<std::string> topLevelBoxes(const std::filesystem::path& movie);
testing::AssertionResult isFinishedMovie(const std::filesystem::path& movie);

// The movies (".mov" or ".mp4") right in `folder`, by name.
std::vector<std::filesystem::path> moviesIn(const std::filesystem::path& folder);

// Stores "welcomed" in the desktop's settings, as a first launch leaves it.
void storeWelcomed(const JourneyDesktop& desktop);

}  // namespace lumenhollow::journey
