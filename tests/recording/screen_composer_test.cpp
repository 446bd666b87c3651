#include "hollowkit/recording/screen_composer.h"

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/recording/movie_reader.h"
#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/hidden_proc.h"
#include "hollowkit/testing/manual_executor.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using testsupport::number;
using testsupport::probe;
using testsupport::TempDir;

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;

// Runs ffmpeg to make an input movie; true when it worked.
bool ffmpeg(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"-v", "error", "-y"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const auto result = CommandRunner::run("/usr/bin/ffmpeg", all, {}, /*logged=*/false);
    if (result.status != 0) ADD_FAILURE() << result.output;
    return result.status == 0;
}

std::string readComposedFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The four-letter types of a QuickTime file's top-level boxes, in order.
std::vector<std::string> topLevelBoxes(const std::filesystem::path& file) {
    const std::string data = readComposedFile(file);
    std::vector<std::string> boxes;
    size_t at = 0;
    while (at + 8 <= data.size()) {
        const auto byte = [&](size_t i) { return static_cast<uint64_t>(static_cast<uint8_t>(data[at + i])); };
        uint64_t size = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
        size_t header = 8;
        if (size == 1 && at + 16 <= data.size()) {
            size = 0;
            for (size_t i = 8; i < 16; ++i) size = size << 8 | byte(i);
            header = 16;
        } else if (size == 0) {
            size = data.size() - at;
        }
        boxes.push_back(data.substr(at + 4, 4));
        if (size < header) break;
        at += size;
    }
    return boxes;
}

class ScreenComposerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The screen: a moving test picture with a 44.1 kHz tone, 2 s.
        ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=2", "-f", "lavfi", "-i",
                            "sine=frequency=440:sample_rate=44100:duration=2", "-c:v", "libx264", "-preset",
                            "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", screen().string()}));
        // The camera: red, starting 0.5 s into the take and lasting 1 s,
        // with a 48 kHz tone that runs on past the screen's end.
        ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "color=c=red:size=160x120:rate=30:duration=1", "-f", "lavfi", "-i",
                            "sine=frequency=880:sample_rate=48000:duration=3", "-vf", "setpts=PTS+0.5/TB", "-c:v",
                            "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac",
                            camera().string()}));
    }

    std::filesystem::path screen() const { return dir_.path() / "Screen.mov"; }
    std::filesystem::path camera() const { return dir_.path() / "Camera.mov"; }
    std::filesystem::path combined() const { return dir_.path() / "Combined.mov"; }

    ComposeRequest request(VideoCodec codec = VideoCodec::h264) const {
        ComposeRequest r;
        r.screen = screen();
        r.camera = camera();
        r.output = combined();
        r.codec = codec;
        r.style = BubbleStyle(BubbleCorner::bottomTrailing, BubbleSize::large, BubbleShape::circle,
                              BubbleBackground::keep);
        return r;
    }

    static ScreenComposerOptions options() {
        ScreenComposerOptions o;
        o.h264Preset = "ultrafast";
        o.hevcPreset = "ultrafast";
        o.threads = 2;
        o.segmentationBackend = [] { return std::make_unique<FakeSegmentationBackend>(); };
        return o;
    }

    Result<std::filesystem::path, ComposeError> compose(const ComposeRequest& r, std::vector<float>* progress = nullptr) {
        return ScreenComposer::composeNow(
            r, [progress](float value) { if (progress != nullptr) progress->push_back(value); }, options());
    }

    TempDir dir_;
};

TEST(ScreenComposerRulesTest, RenderSizeFitsAndEvens) {
    const std::vector<std::pair<std::pair<int, int>, std::pair<int, int>>> cases{
        {{5120, 2880}, {3840, 2160}}, {{7680, 4320}, {3840, 2160}}, {{1512, 982}, {1512, 982}},
        {{1513, 983}, {1514, 984}},   {{1365, 767}, {1366, 768}},   {{0, 1080}, {0, 0}},
        {{1920, -1}, {0, 0}},         {{1, 1}, {2, 2}},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(ScreenComposer::renderSize(input.first, input.second), expected)
            << input.first << "x" << input.second;
    }
}

TEST(ScreenComposerRulesTest, ErrorTexts) {
    EXPECT_EQ(ComposeError::missingScreenVideo().userMessage(), "The screen recording has no video");
    EXPECT_EQ(ComposeError::folderRemoved().userMessage(),
              "Could not build the combined video: its folder was removed");
    EXPECT_EQ(ComposeError::exportFailed("export is not available").userMessage(),
              "Could not build the combined video: export is not available");
}

TEST_F(ScreenComposerTest, CombinedMovieAsProbed) {
    for (const VideoCodec codec : kAllVideoCodecs) {
        std::vector<float> progress;
        const auto result = compose(request(codec), &progress);
        ASSERT_TRUE(result.has_value()) << result.error().userMessage();
        EXPECT_EQ(result.value(), combined());

        const nlohmann::json probed = probe(combined());
        ASSERT_TRUE(probed.is_object());
        EXPECT_NEAR(number(probed["format"], "duration"), 2.0, 0.05);
        const auto& streams = probed["streams"];
        ASSERT_EQ(streams.size(), 3U);
        // Video, then the camera's sound, then the screen's.
        EXPECT_EQ(streams[0].value("codec_type", ""), "video");
        EXPECT_EQ(streams[1].value("codec_type", ""), "audio");
        EXPECT_EQ(streams[2].value("codec_type", ""), "audio");
        EXPECT_EQ(number(streams[1], "sample_rate"), 48000);
        EXPECT_EQ(number(streams[2], "sample_rate"), 44100);
        // Sound is cut where the screen ends.
        EXPECT_LT(number(streams[1], "duration"), 2.1);

        const auto& video = streams[0];
        EXPECT_EQ(video.value("codec_tag_string", ""), codec == VideoCodec::hevc ? "hvc1" : "avc1");
        EXPECT_EQ(video.value("r_frame_rate", ""), "30/1");
        EXPECT_EQ(video.value("width", 0), kScreenWidth);
        EXPECT_EQ(video.value("height", 0), kScreenHeight);
        EXPECT_EQ(video.value("color_primaries", ""), "bt709");
        EXPECT_EQ(video.value("color_transfer", ""), "bt709");
        EXPECT_EQ(video.value("color_space", ""), "bt709");
        EXPECT_NEAR(number(video, "nb_frames"), 60, 1);

        // The index comes before the media data.
        const std::vector<std::string> boxes = topLevelBoxes(combined());
        const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
        const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
        ASSERT_NE(moov, boxes.end());
        ASSERT_NE(mdat, boxes.end());
        EXPECT_LT(moov, mdat);

        // Progress rises from 0 to 1 and ends there.
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.front(), 0.0F);
        EXPECT_EQ(progress.back(), 1.0F);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_FALSE(std::filesystem::exists(ScreenComposer::temporaryPath(combined())));
    }
}

TEST_F(ScreenComposerTest, BubbleOnlyWhileTheCameraRecorded) {
    ASSERT_TRUE(compose(request()).has_value());
    auto reader = MovieReader::open(combined());
    ASSERT_TRUE(reader.has_value()) << reader.error();
    const PixelRect square = BubbleCompositor::bubbleSquare(request().style, kScreenWidth, kScreenHeight);
    const auto centre = [&](double t) {
        const DecodedPicture* picture = reader.value()->frameAt(t);
        EXPECT_NE(picture, nullptr) << t;
        if (picture == nullptr) return std::array<int, 3>{};
        const VideoFrame bgra = asBgra(picture->toNv12());
        const uint8_t* p = bgra.planeData(0) + static_cast<size_t>(square.midY()) * bgra.stride(0) +
                           static_cast<size_t>(square.midX()) * 4;
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    const auto isRed = [](std::array<int, 3> bgr) { return bgr[2] > 200 && bgr[1] < 60 && bgr[0] < 60; };
    EXPECT_FALSE(isRed(centre(0.2)));  // before the camera's first frame
    EXPECT_TRUE(isRed(centre(1.0)));
    EXPECT_FALSE(isRed(centre(1.8)));  // after its last
}

TEST_F(ScreenComposerTest, CameraWithoutPictureGivesItsSoundAndNoBubble) {
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=48000:duration=1", "-c:a", "aac",
                        camera().string()}));
    ASSERT_TRUE(compose(request()).has_value());
    const nlohmann::json probed = probe(combined());
    ASSERT_EQ(probed["streams"].size(), 3U);
    EXPECT_EQ(number(probed["streams"][1], "sample_rate"), 48000);
}

TEST_F(ScreenComposerTest, FailuresSayWhatWentWrong) {
    const std::filesystem::path empty = dir_.path() / "Empty.mov";
    std::ofstream(empty).close();
    const std::filesystem::path garbage = dir_.path() / "Garbage.mov";
    std::ofstream(garbage) << std::string(4096, 'x');
    const std::filesystem::path soundOnly = dir_.path() / "Sound.mov";
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac", soundOnly.string()}));

    struct Case {
        std::filesystem::path screen;
        std::filesystem::path camera;
        std::string message;
    };
    const std::vector<Case> cases{
        {soundOnly, camera(), "The screen recording has no video"},
        {empty, camera(), "Could not build the combined video: could not read Empty.mov (The file is empty)"},
        {garbage, camera(),
         "Could not build the combined video: could not read Garbage.mov (Invalid data found when processing input)"},
        {screen(), dir_.path() / "Missing.mov",
         "Could not build the combined video: could not read Missing.mov (No such file or directory)"},
    };
    const std::string previous = "the previous combined movie";
    std::ofstream(combined()) << previous;
    for (const Case& c : cases) {
        ComposeRequest r = request();
        r.screen = c.screen;
        r.camera = c.camera;
        const auto result = compose(r);
        ASSERT_FALSE(result.has_value()) << c.message;
        EXPECT_EQ(result.error().userMessage(), c.message);
        EXPECT_EQ(readComposedFile(combined()), previous);
    }
}

TEST_F(ScreenComposerTest, ExportThatFailsHalfWayKeepsThePreviousMovie) {
    ASSERT_TRUE(compose(request()).has_value());
    const std::string previous = readComposedFile(combined());
    ASSERT_GT(previous.size(), 60'000U);

    // The file system refuses to let the new movie grow past 32 KB: the
    // export fails part of the way through.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 32 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::vector<float> progress;
    ComposeRequest r = request(VideoCodec::hevc);
    const auto result = compose(r, &progress);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().userMessage(),
              "Could not build the combined video: could not write the movie (File too large)");
    EXPECT_EQ(readComposedFile(combined()), previous);
    EXPECT_FALSE(std::filesystem::exists(ScreenComposer::temporaryPath(combined())));
    ASSERT_FALSE(progress.empty());
    EXPECT_LT(progress.back(), 1.0F);
}

// A take's folder held since the take began and moved aside, a file put at
// its path: the movies are read and the combined one written in the held
// folder, and the result names it where the folder is now.
TEST_F(ScreenComposerTest, ATakesHeldFolderIsComposedWhereverItWasMoved) {
    const auto take = dir_.path() / "take";
    const auto moved = dir_.path() / "moved";
    std::filesystem::create_directory(take);
    std::filesystem::copy_file(screen(), take / "Screen.mov");
    std::filesystem::copy_file(camera(), take / "Camera.mov");
    ComposeRequest r = request();
    r.screen = take / "Screen.mov";
    r.camera = take / "Camera.mov";
    r.output = take / "Combined.mov";
    auto held = HeldFolder::open(take);
    ASSERT_TRUE(held.has_value());
    r.folder = *held;
    std::filesystem::rename(take, moved);
    std::ofstream(take) << "a file";

    const auto result = compose(r);
    ASSERT_TRUE(result.has_value()) << result.error().userMessage();
    EXPECT_EQ(*result, std::filesystem::canonical(moved) / "Combined.mov") << "told where it is";
    const std::vector<std::string> boxes = topLevelBoxes(moved / "Combined.mov");
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moov"), 1);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(moved)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Camera.mov", "Combined.mov", "Screen.mov"}));
    EXPECT_TRUE(std::filesystem::is_regular_file(take));
}

// A process that cannot see its descriptors in /proc composes a take's held
// folder all the same, through the folder's path.
TEST_F(ScreenComposerTest, ATakesHeldFolderIsComposedWithoutProcSelfFd) {
    const auto take = dir_.path() / "take";
    std::filesystem::create_directory(take);
    std::filesystem::copy_file(screen(), take / "Screen.mov");
    std::filesystem::copy_file(camera(), take / "Camera.mov");
    ComposeRequest r = request();
    r.screen = take / "Screen.mov";
    r.camera = take / "Camera.mov";
    r.output = take / "Combined.mov";
    const testsupport::ChildOutcome outcome = testsupport::runInChild(
        [&] {
            if (!testsupport::hideOwnDescriptorsInProc()) return testsupport::kCannotHideProc;
            auto held = HeldFolder::open(take);
            if (!held) return 1;
            r.folder = *held;
            const auto result = compose(r);
            if (!result) return 2;
            return *result == take / "Combined.mov" ? 0 : 3;
        },
        std::chrono::seconds(120));
    ASSERT_TRUE(outcome.finished);
    if (outcome.exitCode == testsupport::kCannotHideProc) GTEST_SKIP() << "no mount namespace for this test";
    EXPECT_EQ(outcome.exitCode, 0) << "1 not held, 2 not composed, 3 told elsewhere";
    const std::vector<std::string> boxes = topLevelBoxes(take / "Combined.mov");
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moov"), 1);
}

TEST_F(ScreenComposerTest, EveryScreenPictureLandsInItsOwnFrameInOrder) {
    // Screen picture n is flat grey at 12 + 4n: any frame dropped, repeated
    // or swapped on the way through shows as a step of 4 or more.
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "nullsrc=size=320x240:rate=30:duration=2", "-vf",
                        "geq=lum='12+4*N':cb=128:cr=128", "-c:v", "libx264", "-preset", "ultrafast", "-crf", "0",
                        "-pix_fmt", "yuv420p", screen().string()}));
    for (const VideoCodec codec : kAllVideoCodecs) {
        SCOPED_TRACE(std::string(toString(codec)));
        ASSERT_TRUE(compose(request(codec)).has_value());
        auto reader = MovieReader::open(combined());
        ASSERT_TRUE(reader.has_value()) << reader.error();
        for (int i = 0; i < 60; ++i) {
            const DecodedPicture* picture = reader.value()->frameAt((i + 0.5) / 30);
            ASSERT_NE(picture, nullptr) << i;
            // The top left corner, far from the bubble.
            const ImagePlane& luma = picture->planes.planes[0];
            const int value = luma.data[8 * luma.stride + 8];
            EXPECT_NEAR(value, 12 + 4 * i, 1.5) << "frame " << i;
        }
    }
}

TEST_F(ScreenComposerTest, StoppedCompositionKeepsThePreviousMovie) {
    const std::string previous = "the previous combined movie";
    std::ofstream(combined()) << previous;
    StopFlag stop;
    std::vector<float> progress;
    // Stopped once the first frame is through, with the next ones already
    // being decoded and composed.
    const auto result = ScreenComposer::composeNow(
        request(VideoCodec::hevc),
        [&](float value) {
            progress.push_back(value);
            if (value > 0) stop.set();
        },
        options(), &stop);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().userMessage(), "Could not build the combined video: the composition was stopped");
    EXPECT_EQ(readComposedFile(combined()), previous);
    EXPECT_FALSE(std::filesystem::exists(ScreenComposer::temporaryPath(combined())));
    ASSERT_EQ(progress.size(), 2U);
    EXPECT_LT(progress.back(), 0.1F);
}

// Stopped once its last frame is through, while the movie is being
// finished: nothing takes the output's name after the stop. A screen of one
// frame makes the first report past 0 that of the last frame.
TEST_F(ScreenComposerTest, AStopAfterTheLastFrameStillKeepsThePreviousMovie) {
    // Timed in 1/30 s, so the movie lasts exactly its frame.
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30", "-frames:v", "1", "-c:v", "libx264",
                        "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-movie_timescale", "30",
                        "-video_track_timescale", "30", screen().string()}));
    const std::string previous = "the previous combined movie";
    std::ofstream(combined()) << previous;
    StopFlag stop;
    std::vector<float> progress;
    const auto result = ScreenComposer::composeNow(
        request(),
        [&](float value) {
            progress.push_back(value);
            if (value > 0) stop.set();
        },
        options(), &stop);
    EXPECT_EQ(progress.size(), 2U) << "one frame: its report, then none but the result's";
    ASSERT_FALSE(result.has_value()) << "the stopped movie took the output's name";
    EXPECT_EQ(result.error().userMessage(), "Could not build the combined video: the composition was stopped");
    EXPECT_EQ(readComposedFile(combined()), previous);
    EXPECT_FALSE(std::filesystem::exists(ScreenComposer::temporaryPath(combined())));
}

// A take's held folder removed (deleted, or moved to another disk, which
// copies it and deletes it) before or while it is composed: the composition
// stops at its next frame, says its folder went, and nothing is written
// after it.
TEST_F(ScreenComposerTest, ATakeWhoseFolderIsRemovedStopsAtTheNextFrame) {
    const struct {
        const char* name;
        bool whileComposed;  // else before the composition began
        bool copiedAway;
    } cases[] = {
        {"deleted before it began", false, false},
        {"deleted at the first frame", true, false},
        {"moved to another disk at the first frame", true, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto take = dir_.path() / ("take" + std::to_string(n));
        const auto copy = dir_.path() / ("copy" + std::to_string(n++));
        std::filesystem::create_directory(take);
        std::filesystem::copy_file(screen(), take / "Screen.mov");
        std::filesystem::copy_file(camera(), take / "Camera.mov");
        ComposeRequest r = request();
        r.screen = take / "Screen.mov";
        r.camera = take / "Camera.mov";
        r.output = take / "Combined.mov";
        auto held = HeldFolder::open(take);
        ASSERT_TRUE(held.has_value());
        r.folder = *held;
        const auto remove = [&] {
            if (c.copiedAway) std::filesystem::copy(take, copy, std::filesystem::copy_options::recursive);
            std::filesystem::remove_all(take);
        };
        if (!c.whileComposed) remove();
        std::vector<float> progress;
        const auto result = ScreenComposer::composeNow(
            r,
            [&](float value) {
                progress.push_back(value);
                if (value > 0 && progress.size() == 2) remove();
            },
            options());
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), ComposeError::folderRemoved());
        EXPECT_LE(progress.size(), 2U) << "composed on after its folder went";
        EXPECT_FALSE(std::filesystem::exists(take));
        EXPECT_FALSE(c.copiedAway && std::filesystem::exists(copy / "Combined.mov"));
    }
}

TEST_F(ScreenComposerTest, ComposeReportsOnTheMainExecutor) {
    ManualExecutor main;
    ScreenComposer composer(main, options());
    std::vector<float> progress;
    std::optional<Result<std::filesystem::path, ComposeError>> outcome;
    bool progressAfterResult = false;
    composer.compose(
        request(),
        [&](float value) {
            EXPECT_TRUE(main.isCurrent());
            if (outcome) progressAfterResult = true;
            progress.push_back(value);
        },
        [&](Result<std::filesystem::path, ComposeError> result) {
            EXPECT_TRUE(main.isCurrent());
            outcome = std::move(result);
        });
    ASSERT_TRUE(main.waitFor([&] { return outcome.has_value(); }, std::chrono::seconds(60)));
    ASSERT_TRUE(outcome->has_value());
    EXPECT_FALSE(progressAfterResult);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0F);
}

}  // namespace
}  // namespace hollowkit
