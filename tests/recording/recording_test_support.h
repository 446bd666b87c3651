#pragma once

// Shared by the recording tests: synthetic pictures and tones and ffprobe's
// view of a movie as JSON. Temporary folders and the log capture come from
// the test-support library.

#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit::testsupport {

// A disk that holds only `bytes`: a small tmpfs on `folder` where mounting is
// allowed, otherwise a cap on the size of any file this process writes (the
// kernel's signal at the cap ignored, so the write fails instead). Tests run
// one at a time, so the whole process may carry the cap.
class SmallDisk {
public:
    SmallDisk(const std::filesystem::path& folder, size_t bytes) : folder_(folder) {
        std::filesystem::create_directories(folder);
        const std::string data = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, data.c_str()) == 0) {
            mounted_ = true;
            expectedError_ = ENOSPC;
            return;
        }
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        expectedError_ = EFBIG;
    }
    ~SmallDisk() { release(); }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // Gives the disk its room back; the files on a tmpfs go with it.
    void release() {
        if (released_) return;
        released_ = true;
        if (mounted_) {
            ::umount2(folder_.c_str(), MNT_DETACH);
        } else {
            ::setrlimit(RLIMIT_FSIZE, &old_);
            std::signal(SIGXFSZ, oldHandler_);
        }
    }
    int expectedError() const { return expectedError_; }

private:
    std::filesystem::path folder_;
    bool mounted_ = false;
    bool released_ = false;
    int expectedError_ = 0;
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

// A folder inside `base` whose path is `length` characters long, made of
// nested folders: one that exists, yet a name of `length` - PATH_MAX + 1
// characters or more in it is beyond what the system takes (it fails with
// "File name too long"), even for root.
inline std::filesystem::path deepFolder(const std::filesystem::path& base, size_t length) {
    std::filesystem::path folder = base;
    while (folder.string().size() < length) {
        const size_t left = length - folder.string().size() - 1;
        folder /= std::string(std::min<size_t>(left, 200), 'd');
    }
    std::filesystem::create_directories(folder);
    return folder;
}

// A case run through runInChild on a file that is no small regular file: it
// ended within its bound, its body succeeded, and (in plain builds) it took
// little memory. The peak is recorded with the test's result.
inline void expectPromptAndSmall(const ChildOutcome& outcome) {
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
    ::testing::Test::RecordProperty("peakGrowthBytes", std::to_string(outcome.peakGrowthBytes));
    if (kPlainMemoryPeaks) {
        EXPECT_LT(outcome.peakGrowthBytes, int64_t{16} << 20);
    }
}

// A picture that moves and carries fine texture, so the encoders have
// something to spend their bit rate on. Frames share nothing.
inline VideoFrame patternFrame(int width, int height, int index, TimePoint pts,
                               PixelFormat format = PixelFormat::nv12) {
    auto frame = WritableVideoFrame::allocate(format, width, height);
    uint32_t seed = 2654435761u * static_cast<uint32_t>(index + 1);
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>(seed >> 27);  // 0...31
    };
    if (format == PixelFormat::nv12) {
        for (int y = 0; y < height; ++y) {
            auto row = frame.row(0, y);
            for (int x = 0; x < width; ++x) {
                row[static_cast<size_t>(x)] = static_cast<uint8_t>(40 + ((x + y + index * 4) % 160) + noise());
            }
        }
        for (int y = 0; y < (height + 1) / 2; ++y) {
            auto row = frame.row(1, y);
            for (size_t i = 0; i < row.size(); ++i) {
                row[i] = static_cast<uint8_t>(96 + ((static_cast<int>(i) + index) % 64));
            }
        }
    } else {
        for (int y = 0; y < height; ++y) {
            auto row = frame.row(0, y);
            for (int x = 0; x < width; ++x) {
                uint8_t* p = &row[static_cast<size_t>(x) * 4];
                p[0] = static_cast<uint8_t>((x * 2 + index * 3) % 256);
                p[1] = static_cast<uint8_t>((y * 2 + noise()) % 256);
                p[2] = static_cast<uint8_t>((x + y + index) % 256);
                p[3] = 255;
            }
        }
    }
    return std::move(frame).freeze(pts);
}

// A 440 Hz sine at half scale, `frames` long, starting at sample `first` of
// the tone (so consecutive chunks join without a click).
inline AudioChunk toneChunk(int sampleRate, int channels, int64_t first, int frames, TimePoint pts,
                            SampleFormat format = SampleFormat::f32) {
    std::vector<float> samples(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(first + i) / sampleRate;
        const float value = static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * t));
        for (int ch = 0; ch < channels; ++ch) samples[static_cast<size_t>(i * channels + ch)] = value;
    }
    if (format == SampleFormat::f32) return AudioChunk::copyF32(samples, sampleRate, channels, pts);
    std::vector<int16_t> s16(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) s16[i] = static_cast<int16_t>(samples[i] * 32767.0f);
    return AudioChunk::copyS16(s16, sampleRate, channels, pts);
}

// ffprobe's streams and format of a movie; null JSON when it cannot be read.
// The bound is generous: on a machine loaded many times over, even reading
// a small movie has been seen to take more than half a minute.
inline nlohmann::json probe(const std::filesystem::path& movie) {
    const auto result = CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "error", "-of", "json", "-show_streams", "-show_format", movie.string()}, {},
        /*logged=*/false, std::chrono::seconds(120));
    if (result.status != 0) return nullptr;
    return nlohmann::json::parse(result.output, nullptr, false);
}

inline const nlohmann::json* streamOfType(const nlohmann::json& probed, std::string_view type) {
    if (!probed.is_object() || !probed.contains("streams")) return nullptr;
    for (const auto& stream : probed["streams"]) {
        if (stream.value("codec_type", "") == type) return &stream;
    }
    return nullptr;
}

// A numeric field that ffprobe writes as a string ("3.000000").
inline double number(const nlohmann::json& object, const char* key) {
    if (!object.contains(key)) return NAN;
    const auto& value = object[key];
    if (value.is_number()) return value.get<double>();
    if (value.is_string()) return std::strtod(value.get<std::string>().c_str(), nullptr);
    return NAN;
}

// Decodes every frame of the movie's video; true when ffmpeg reads the whole
// file without an error. Each picture keeps its own time: rounded to one
// frame rate, two pictures close together would share a tick, which ffmpeg
// reports as an error of its own output, not of the movie.
inline bool decodesCleanly(const std::filesystem::path& movie) {
    const auto result = CommandRunner::run("/usr/bin/ffmpeg",
                                           {"-nostdin", "-v", "error", "-xerror", "-i", movie.string(), "-fps_mode",
                                            "passthrough", "-enc_time_base", "-1", "-f", "null", "-"},
                                           {}, /*logged=*/false);
    return result.status == 0 && result.output.empty();
}

// The types of the file's top-level boxes in order ("ftyp", "mdat", "moov",
// ...); a box whose size runs past the end is listed and ends the walk.
inline std::vector<std::string> topLevelBoxes(const std::filesystem::path& movie) {
    std::vector<std::string> boxes;
    std::ifstream in(movie, std::ios::binary);
    std::error_code error;
    const uint64_t fileSize = std::filesystem::file_size(movie, error);
    uint64_t offset = 0;
    while (!error && offset + 8 <= fileSize) {
        unsigned char header[16] = {};
        in.seekg(static_cast<std::streamoff>(offset));
        if (!in.read(reinterpret_cast<char*>(header), 8)) break;
        uint64_t size = (uint64_t{header[0]} << 24) | (uint64_t{header[1]} << 16) | (uint64_t{header[2]} << 8) |
                        header[3];
        boxes.emplace_back(reinterpret_cast<const char*>(header + 4), 4);
        if (size == 1) {  // a 64-bit size follows the type
            if (!in.read(reinterpret_cast<char*>(header + 8), 8)) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | header[i];
        } else if (size == 0) {
            size = fileSize - offset;  // runs to the end of the file
        }
        if (size < 8) break;
        offset += size;
    }
    return boxes;
}

}  // namespace hollowkit::testsupport
