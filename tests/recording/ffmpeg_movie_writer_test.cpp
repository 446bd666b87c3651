// What the FFmpeg movie writer's encoders say while a movie is written: with
// FFmpeg's log routed to PocketLog (as every program's main sets it up),
// neither x264, x265 nor the AAC encoder writes anything to standard error,
// and their statistics do not reach the log either.

#include "hollowkit/recording/ffmpeg_movie_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

// Points file descriptor 2 at a file until text() is asked, so anything a
// library prints there, however it prints it, is caught.
class StderrCapture {
public:
    explicit StderrCapture(const std::filesystem::path& file) : file_(file) {
        std::fflush(stderr);
        saved_.reset(::dup(STDERR_FILENO));
        UniqueFd target(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        EXPECT_TRUE(saved_ && target);
        ::dup2(target.get(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string text() {
        restore();
        std::FILE* in = std::fopen(file_.c_str(), "rb");
        std::string result;
        if (in == nullptr) return result;
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) result.append(buffer, n);
        std::fclose(in);
        return result;
    }

private:
    void restore() {
        if (!saved_) return;
        std::fflush(stderr);
        ::dup2(saved_.get(), STDERR_FILENO);
        saved_.reset();
    }

    std::filesystem::path file_;
    UniqueFd saved_;
};

TEST(FfmpegMovieWriterTest, EncodersWriteNothingToStandardError) {
    installFfmpegLogging();
    testsupport::TempDir dir;
    for (const VideoCodec codec : {VideoCodec::h264, VideoCodec::hevc}) {
        SCOPED_TRACE(codec == VideoCodec::hevc ? "hevc" : "h264");
        const auto movie = dir.path() / (codec == VideoCodec::hevc ? "hevc.mov" : "h264.mov");
        testsupport::LogCapture log;
        StderrCapture stderrCapture(dir.path() / "stderr.txt");

        FfmpegMovieWriterOptions options;
        options.realTime = false;
        auto writer = makeFfmpegMovieWriter(movie, options);
        MovieWriterSettings settings;
        settings.codec = codec;
        settings.width = 320;
        settings.height = 240;
        settings.videoBitRate = 400'000;
        settings.audio = MovieAudioSettings{48000, 2};
        const TimePoint start = TimePoint(std::chrono::seconds(100));
        ASSERT_TRUE(writer->start(settings, start).has_value());
        constexpr int kFrames = 30;
        constexpr int kChunk = 1600;  // 1/30 s of sound
        for (int i = 0; i < kFrames; ++i) {
            const TimePoint at = start + i * std::chrono::microseconds(33'333);
            EXPECT_TRUE(writer->appendVideo(testsupport::patternFrame(320, 240, i, at)));
            EXPECT_TRUE(writer->appendAudio(testsupport::toneChunk(48000, 2, int64_t{i} * kChunk, kChunk, at)));
        }
        const auto finished = writer->finish(std::nullopt);
        ASSERT_TRUE(finished.has_value()) << finished.error();

        EXPECT_EQ(stderrCapture.text(), "");
        for (const std::string& line : log.lines()) {
            EXPECT_EQ(line.find("FFmpeg"), std::string::npos) << line;
        }
        EXPECT_TRUE(testsupport::decodesCleanly(movie));
    }
}

}  // namespace
}  // namespace hollowkit
