#pragma once

// Shared by the screen and cursor tests: a test X server that skips the test
// when the machine has none, and pictures decoded from a movie for probing
// colours.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/testing/xvfb_server.h"

namespace hollowkit::testsupport {

// An Xvfb of width x height, or null with the reason for skipping.
inline std::unique_ptr<XvfbServer> startXvfb(int width, int height, std::string& skipReason) {
    if (!XvfbServer::program()) {
        skipReason = "Xvfb is not installed (apt-get install xvfb)";
        return nullptr;
    }
    auto server = std::make_unique<XvfbServer>();
    auto started = server->start(width, height);
    if (!started) {
        ADD_FAILURE() << started.error();
        return nullptr;
    }
    return server;
}

// One picture of a movie at `seconds`, as packed RGB at the movie's size.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    RgbColor at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
        return RgbColor{pixels[i], pixels[i + 1], pixels[i + 2]};
    }
};

inline RgbPicture decodePicture(const std::filesystem::path& movie, double seconds, int width, int height) {
    const auto raw = movie.parent_path() / "probe.rgb";
    std::filesystem::remove(raw);
    const auto result = CommandRunner::run(
        "/usr/bin/ffmpeg",
        {"-v", "error", "-ss", std::to_string(seconds), "-i", movie.string(), "-frames:v", "1", "-f",
         "rawvideo", "-pix_fmt", "rgb24", raw.string()},
        {}, /*logged=*/false);
    RgbPicture picture;
    if (result.status != 0) return picture;
    std::ifstream in(raw, std::ios::binary);
    picture.pixels.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (picture.pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3) {
        picture.pixels.clear();
        return picture;
    }
    picture.width = width;
    picture.height = height;
    return picture;
}

// Colours within `tolerance` per channel (encoding and 4:2:0 blur edges).
inline ::testing::AssertionResult colorNear(RgbColor actual, RgbColor expected, int tolerance = 14) {
    const auto off = [&](uint8_t a, uint8_t e) { return std::abs(int{a} - int{e}) > tolerance; };
    if (off(actual.r, expected.r) || off(actual.g, expected.g) || off(actual.b, expected.b)) {
        return ::testing::AssertionFailure()
               << "got (" << int{actual.r} << ", " << int{actual.g} << ", " << int{actual.b} << "), expected ("
               << int{expected.r} << ", " << int{expected.g} << ", " << int{expected.b} << ")";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace hollowkit::testsupport
