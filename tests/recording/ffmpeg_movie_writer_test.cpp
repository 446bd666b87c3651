// The FFmpeg movie writer: a finished movie is a regular QuickTime movie
// (one index after the samples, no fragments) with the times, tags and sound
// a player expects; and with FFmpeg's log routed to PocketLog (as every
// program's main sets it up), neither x264, x265 nor the AAC encoder writes
// anything to standard error, and their statistics do not reach the log.

#include "hollowkit/recording/ffmpeg_movie_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "hollowkit/recording/movie_reader.h"
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

// Frame i of a 30 fps source, to the nanosecond.
Duration frameTime(int64_t i) {
    return std::chrono::nanoseconds(std::llround(static_cast<double>(i) * 1e9 / 30));
}

// Frames that carry the colour look are BGRA (full-range R'G'B'); the movie
// holds them as BT.709 limited-range Y'CbCr, with Cb and Cr where a player
// looks for them. Four flat quadrants, probed in the decoded picture: a
// swapped chroma plane, the other matrix (BT.601 puts red's luma at 81, not
// 63) or full-range values show up far beyond the codec's loss.
TEST(FfmpegMovieWriterTest, BgraFramesKeepTheirColoursInTheMovie) {
    struct Quadrant {
        uint8_t r, g, b;
        int y, cb, cr;  // BT.709 limited range
    };
    const Quadrant quadrants[4] = {
        {255, 0, 0, 63, 102, 240},
        {0, 255, 0, 173, 42, 26},
        {0, 0, 255, 32, 240, 118},
        {128, 128, 128, 126, 128, 128},
    };
    constexpr int kCanvasWidth = 320;
    constexpr int kCanvasHeight = 240;
    const auto quadrantOf = [](int x, int y) { return (y >= kCanvasHeight / 2 ? 2 : 0) + (x >= kCanvasWidth / 2 ? 1 : 0); };
    auto canvas = WritableVideoFrame::allocate(PixelFormat::bgra, kCanvasWidth, kCanvasHeight);
    for (int y = 0; y < kCanvasHeight; ++y) {
        uint8_t* row = canvas.planeData(0) + static_cast<size_t>(y) * canvas.stride(0);
        for (int x = 0; x < kCanvasWidth; ++x) {
            const Quadrant& q = quadrants[quadrantOf(x, y)];
            row[4 * x] = q.b;
            row[4 * x + 1] = q.g;
            row[4 * x + 2] = q.r;
            row[4 * x + 3] = 255;
        }
    }
    const VideoFrame picture = std::move(canvas).freeze(TimePoint{});

    testsupport::TempDir dir;
    for (const VideoCodec codec : {VideoCodec::hevc, VideoCodec::h264}) {
        SCOPED_TRACE(codec == VideoCodec::hevc ? "hevc" : "h264");
        const auto movie = dir.path() / (codec == VideoCodec::hevc ? "hevc.mov" : "h264.mov");
        FfmpegMovieWriterOptions options;
        options.realTime = false;
        auto writer = makeFfmpegMovieWriter(movie, options);
        MovieWriterSettings settings;
        settings.codec = codec;
        settings.width = kCanvasWidth;
        settings.height = kCanvasHeight;
        settings.videoBitRate = 2'000'000;
        const TimePoint start = TimePoint(std::chrono::seconds(100));
        ASSERT_TRUE(writer->start(settings, start).has_value());
        for (int i = 0; i < 10; ++i) ASSERT_TRUE(writer->appendVideo(picture.withPts(start + frameTime(i))));
        const auto finished = writer->finish(std::nullopt);
        ASSERT_TRUE(finished.has_value()) << finished.error();

        auto reader = MovieReader::open(movie);
        ASSERT_TRUE(reader.has_value()) << reader.error();
        const DecodedPicture* decoded = reader.value()->frameAt(0.1);
        ASSERT_NE(decoded, nullptr);
        const ImagePlane* planes = decoded->planes.planes;
        for (int index = 0; index < 4; ++index) {
            SCOPED_TRACE(index);
            // The middle of the quadrant, well away from its edges.
            const int x = (index % 2) * kCanvasWidth / 2 + kCanvasWidth / 4;
            const int y = (index / 2) * kCanvasHeight / 2 + kCanvasHeight / 4;
            const Quadrant& q = quadrants[index];
            EXPECT_NEAR(planes[0].data[y * planes[0].stride + x], q.y, 3);
            EXPECT_NEAR(planes[1].data[(y / 2) * planes[1].stride + x / 2], q.cb, 3);
            EXPECT_NEAR(planes[2].data[(y / 2) * planes[2].stride + x / 2], q.cr, 3);
        }
    }
}

TEST(FfmpegMovieWriterTest, FinishedMovieIsARegularMovieWithItsTimesAndSound) {
    struct Case {
        const char* name;
        VideoCodec codec;
        bool sound;
        bool reorder;
        int lateFrames;  // the first frame comes this many frame times after the session start
        std::optional<double> endSeconds;  // finish's end time, from the session start
    };
    constexpr int kFrames = 60;
    constexpr int kChunk = 1600;  // 1/30 s of sound at 48 kHz
    const Case cases[] = {
        {"hevc with sound", VideoCodec::hevc, true, true, 0, std::nullopt},
        {"h264 with sound", VideoCodec::h264, true, true, 0, std::nullopt},
        {"hevc starting late, held to an end time", VideoCodec::hevc, true, true, 15, 3.0},
        {"h264 starting late, held to an end time", VideoCodec::h264, true, true, 15, 3.0},
        {"h264 in display order, silent", VideoCodec::h264, false, false, 0, std::nullopt},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto movie = dir.path() / (std::string(c.name) + ".mov");
        FfmpegMovieWriterOptions options;
        options.realTime = false;
        auto writer = makeFfmpegMovieWriter(movie, options);
        MovieWriterSettings settings;
        settings.codec = c.codec;
        settings.width = 320;
        settings.height = 240;
        settings.videoBitRate = 400'000;
        settings.allowFrameReordering = c.reorder;
        if (c.sound) settings.audio = MovieAudioSettings{48000, 2};
        const TimePoint start = TimePoint(std::chrono::seconds(50));
        ASSERT_TRUE(writer->start(settings, start).has_value());
        // Sound runs from the session start to the end of the last frame.
        const int soundChunks = c.lateFrames + kFrames;
        for (int i = 0; i < soundChunks; ++i) {
            if (i >= c.lateFrames) {
                const int frame = i - c.lateFrames;
                EXPECT_TRUE(writer->appendVideo(testsupport::patternFrame(320, 240, frame, start + frameTime(i))));
            }
            if (c.sound) {
                EXPECT_TRUE(writer->appendAudio(
                    testsupport::toneChunk(48000, 2, int64_t{i} * kChunk, kChunk, start + frameTime(i))));
            }
        }
        std::optional<TimePoint> endTime;
        if (c.endSeconds) endTime = start + toDuration(*c.endSeconds);
        const auto finished = writer->finish(endTime);
        ASSERT_TRUE(finished.has_value()) << finished.error();

        const auto boxes = testsupport::topLevelBoxes(movie);
        EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moof"), 0);
        EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moov"), 1);
        const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
        EXPECT_TRUE(mdat != boxes.end() && std::find(mdat, boxes.end(), "moov") != boxes.end())
            << "the index follows the samples";
        // No partial rewrite is left beside the movie.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
                  static_cast<std::ptrdiff_t>(&c - cases + 1));

        const auto probed = testsupport::probe(movie);
        const auto* video = testsupport::streamOfType(probed, "video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->value("codec_tag_string", ""), c.codec == VideoCodec::hevc ? "hvc1" : "avc1");
        EXPECT_EQ(testsupport::number(*video, "nb_frames"), kFrames);
        const double firstFrame = c.lateFrames / 30.0;
        EXPECT_NEAR(testsupport::number(*video, "start_time"), firstFrame, 0.001);
        const double soundEnd = soundChunks / 30.0;
        EXPECT_NEAR(testsupport::number(probed["format"], "duration"), c.endSeconds.value_or(soundEnd), 0.002);
        const auto* audio = testsupport::streamOfType(probed, "audio");
        ASSERT_EQ(audio != nullptr, c.sound);
        if (audio != nullptr) {
            EXPECT_EQ(audio->value("codec_name", ""), "aac");
            // The encoder's priming is cut by the edit list: the sound starts
            // at zero and lasts exactly as long as what was given.
            EXPECT_NEAR(testsupport::number(*audio, "start_time"), 0.0, 0.001);
            EXPECT_NEAR(testsupport::number(*audio, "duration"), soundEnd, 0.001);
        }
        EXPECT_TRUE(testsupport::decodesCleanly(movie));
    }
}


// Sound reaching past the picture's end may be encoded before the finish
// says where the movie ends (the encoder's thread took it first). What is
// past the end is dropped then, and the last sound kept is not stretched to
// where the dropped sound ended. The order is forced: with room for one
// chunk, each chunk given waits until the one before is encoded.
TEST(FfmpegMovieWriterTest, SoundEncodedBeforeTheFinishStillEndsWithThePicture) {
    constexpr int kFrames = 30;
    constexpr int kSoundChunks = 40;  // a third of a second past the last frame
    constexpr int kChunk = 1600;
    const VideoCodec codecs[] = {VideoCodec::hevc, VideoCodec::h264};
    testsupport::TempDir dir;
    for (const VideoCodec codec : codecs) {
        SCOPED_TRACE(codec == VideoCodec::hevc ? "hevc" : "h264");
        const auto movie = dir.path() / (codec == VideoCodec::hevc ? "hevc.mov" : "h264.mov");
        FfmpegMovieWriterOptions options;
        options.realTime = false;
        options.maxPendingAudioChunks = 1;
        auto writer = makeFfmpegMovieWriter(movie, options);
        MovieWriterSettings settings;
        settings.codec = codec;
        settings.width = 320;
        settings.height = 240;
        settings.videoBitRate = 400'000;
        settings.audio = MovieAudioSettings{48000, 2};
        const TimePoint start = TimePoint(std::chrono::seconds(50));
        ASSERT_TRUE(writer->start(settings, start).has_value());
        for (int i = 0; i < kFrames; ++i) {
            EXPECT_TRUE(writer->appendVideo(testsupport::patternFrame(320, 240, i, start + frameTime(i))));
        }
        // The last chunk only waits until all the sound before it is encoded.
        for (int i = 0; i <= kSoundChunks; ++i) {
            const int samples = i < kSoundChunks ? kChunk : 1;
            EXPECT_TRUE(writer->appendAudio(
                testsupport::toneChunk(48000, 2, int64_t{i} * kChunk, samples, start + frameTime(i))));
        }
        const auto finished = writer->finish(start + frameTime(kFrames));
        ASSERT_TRUE(finished.has_value()) << finished.error();

        const auto probed = testsupport::probe(movie);
        const auto* video = testsupport::streamOfType(probed, "video");
        const auto* audio = testsupport::streamOfType(probed, "audio");
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        const double end = kFrames / 30.0;
        EXPECT_NEAR(testsupport::number(*video, "duration"), end, 0.002);
        // AAC codes 1024 samples at a time, so a packet reaches past the
        // end (a second is 46.875 packets): the track still ends there.
        EXPECT_NEAR(testsupport::number(*audio, "duration"), end, 0.001);
        EXPECT_NEAR(testsupport::number(probed["format"], "duration"), end, 0.001);
        EXPECT_TRUE(testsupport::decodesCleanly(movie));
    }
}

}  // namespace
}  // namespace hollowkit
