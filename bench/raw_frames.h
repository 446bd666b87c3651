#pragma once

// Shared by the benchmarks that compare a recording with the ffmpeg command
// line: the test frames as a raw NV12 file for its input, and the frames a
// finished movie holds.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit::bench {

inline void writeRawNv12(const std::vector<VideoFrame>& frames, const std::filesystem::path& path) {
    std::ofstream out(path, std::ios::binary);
    for (const auto& frame : frames) {
        for (int plane = 0; plane < 2; ++plane) {
            const int rows = plane == 0 ? frame.height() : frame.height() / 2;
            for (int y = 0; y < rows; ++y) {
                const auto row = frame.row(plane, y);
                out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
            }
        }
    }
}

// -1 when ffprobe cannot read the movie.
inline int framesInMovie(const std::filesystem::path& movie) {
    const auto result = CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=nb_frames", "-of",
         "default=nokey=1:noprint_wrappers=1", movie.string()},
        {}, false);
    return result.status == 0 ? std::atoi(result.output.c_str()) : -1;
}

}  // namespace hollowkit::bench
