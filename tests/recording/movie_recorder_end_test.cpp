// How a movie ends when its finish or its disk does not go as planned: the
// sound of the last frames arriving after the finish, a disk that fills
// while recording, a recorder dropped with samples still on their way, a
// movie that never got a picture, and one whose file or folder was removed
// while it was written.

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/recording/movie_temporaries.h"
#include "movie_recorder_harness.h"

namespace hollowkit {
namespace {

class MovieRecorderEndTest : public MovieRecorderTest {};

// A writer that takes everything and writes nothing, and runs `onGone` as it
// is destroyed.
class TeardownWriter final : public MovieWriter {
public:
    explicit TeardownWriter(std::function<void()> onGone) : onGone_(std::move(onGone)) {}
    ~TeardownWriter() override {
        if (onGone_) onGone_();
    }
    TeardownWriter(const TeardownWriter&) = delete;
    TeardownWriter& operator=(const TeardownWriter&) = delete;

    void setOnFailure(FailureHandler) override {}
    Result<void, std::string> start(const MovieWriterSettings&, TimePoint) override { return {}; }
    bool isWriting() const override { return true; }
    bool readyForVideo() const override { return true; }
    bool readyForAudio() const override { return true; }
    bool appendVideo(const VideoFrame&) override { return true; }
    bool appendAudio(const AudioChunk&) override { return true; }
    std::string errorText() const override { return {}; }
    Result<void, std::string> finish(std::optional<TimePoint>) override { return {}; }

private:
    std::function<void()> onGone_;
};

// The real writer behind an encoder that gives no picture: frames are
// refused, sound goes through.
class PicturelessWriter final : public MovieWriter {
public:
    explicit PicturelessWriter(std::unique_ptr<MovieWriter> inner) : inner_(std::move(inner)) {}

    void setOnFailure(FailureHandler handler) override { inner_->setOnFailure(std::move(handler)); }
    Result<void, std::string> start(const MovieWriterSettings& settings, TimePoint sessionStart) override {
        return inner_->start(settings, sessionStart);
    }
    bool isWriting() const override { return inner_->isWriting(); }
    bool readyForVideo() const override { return false; }
    bool readyForAudio() const override { return inner_->readyForAudio(); }
    bool appendVideo(const VideoFrame&) override { return false; }
    bool appendAudio(const AudioChunk& chunk) override { return inner_->appendAudio(chunk); }
    std::string errorText() const override { return inner_->errorText(); }
    Result<void, std::string> finish(std::optional<TimePoint> endTime) override { return inner_->finish(endTime); }

private:
    std::unique_ptr<MovieWriter> inner_;
};

std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

uint64_t fileSize(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : size;
}

// Sound is captured ahead of its delivery, so the sound of the last frames
// may come after finish was asked for: it still goes in, up to the last
// frame's end and no further, even when it comes in one large piece; frames
// after the finish do not; and sound that never comes holds the finish up
// only for a bounded time.
TEST_F(MovieRecorderEndTest, SoundOfTheLastFramesArrivingAfterTheFinishStillGoesIn) {
    enum class Late : uint8_t { inPieces, inOneLargePiece, never };
    const struct {
        const char* name;
        Late late;
        double expectedSoundSeconds;
    } cases[] = {
        {"the sound catches up", Late::inPieces, 30 / 30.0},
        {"the sound catches up in one large piece", Late::inOneLargePiece, 30 / 30.0},
        {"the sound never comes", Late::never, 20 / 30.0},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = file(("late" + std::to_string(n++) + ".mov").c_str());
        auto recorder = makeRecorder(path, VideoCodec::h264, std::nullopt, true);
        const TimePoint base = clock_.now();
        const auto sound = [&](int i) {
            recorder->appendAudio(toneChunk(48000, 2, int64_t{i} * 1600, 1600, base + frameTime(i)));
        };
        // The sound of the last ten frames is late.
        for (int i = 0; i < 30; ++i) {
            if (i < 20) sound(i);
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, base + frameTime(i)));
            settle(*recorder);
        }
        std::optional<Outcome> outcome;
        recorder->finish(std::nullopt, [&](Outcome result) { outcome = std::move(result); });
        recorder->appendVideo(patternFrame(kWidth, kHeight, 30, base + frameTime(30)));
        if (c.late == Late::inPieces) {
            for (int i = 20; i < 40; ++i) sound(i);
        } else if (c.late == Late::inOneLargePiece) {
            recorder->appendAudio(toneChunk(48000, 2, 20 * 1600, 20 * 1600, base + frameTime(20)));
        }
        ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 60s));
        ASSERT_TRUE(outcome->has_value()) << outcome->error().userMessage();
        const auto probed = probe(path);
        const auto* video = streamOfType(probed, "video");
        const auto* audio = streamOfType(probed, "audio");
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(number(*video, "nb_frames"), 30);
        EXPECT_NEAR(number(*audio, "duration"), c.expectedSoundSeconds, 0.03);
    }
}

// A recorder dropped while it records: a frame and sound from another
// thread, still on their way to its queue as its writer goes, must not
// reach a writer that is gone, nor make a new one.
TEST_F(MovieRecorderEndTest, NothingRunsOnTheQueueOnceTheWriterIsGone) {
    std::atomic<int> writersMade{0};
    MovieRecorder* recording = nullptr;
    const TimePoint base = clock_.now();
    auto recorder = makeRecorder(file("dropped.mov"), VideoCodec::hevc, std::nullopt, true,
                                 [&](const FileInFolder&) -> std::unique_ptr<MovieWriter> {
                                     if (writersMade++ > 0) return std::make_unique<TeardownWriter>(nullptr);
                                     return std::make_unique<TeardownWriter>([&] {
                                         recording->appendVideo(patternFrame(kWidth, kHeight, 1, base + frameTime(1)));
                                         recording->appendAudio(toneChunk(48000, 2, 1600, 1600, base + frameTime(1)));
                                     });
                                 });
    recording = recorder.get();
    recorder->appendAudio(toneChunk(48000, 2, 0, 1600, base));
    recorder->appendVideo(patternFrame(kWidth, kHeight, 0, base));
    settle(*recorder);
    ASSERT_EQ(writersMade.load(), 1);
    recorder.reset();
    EXPECT_EQ(writersMade.load(), 1) << "a frame after the writer went made a new one";
}

// A disk that fills while recording (here the file reaches the process's
// size limit) ends the movie at once: the failure is told without a finish,
// once, later samples are neither written nor counted as busy drops, the
// finish reports the same error, and what was written still plays.
TEST_F(MovieRecorderEndTest, WriteFailureEndsTheMovieAtOnceAndKeepsWhatWasWritten) {
    const auto path = dir_.path() / "small" / "full.mov";
    constexpr size_t kRoom = 160 * 1024;
    // First: a recorder makes its movie in the folder there at its making.
    testsupport::SmallDisk disk(dir_.path() / "small", kRoom);
    auto recorder = makeRecorder(path, VideoCodec::hevc, std::nullopt, true);
    std::vector<RecorderError> failures;
    recorder->setOnFailure([&](const RecorderError& error) { failures.push_back(error); });

    const TimePoint base = clock_.now();
    constexpr int kSamples = 48000 / 30;
    int index = 0;
    const auto offer = [&] {
        recorder->appendAudio(toneChunk(48000, 2, int64_t{index} * kSamples, kSamples, base + frameTime(index)));
        recorder->appendVideo(patternFrame(kWidth, kHeight, index, base + frameTime(index)));
        ++index;
        settle(*recorder);
        main_.runUntilIdle();
    };
    // Ten minutes of frames would be far past the limit.
    while (failures.empty() && index < 30 * 600) offer();
    ASSERT_EQ(failures.size(), 1u) << "no failure after " << index << " frames";
    EXPECT_EQ(failures[0].kind, RecorderError::Kind::writerFailed);
    EXPECT_NE(failures[0].detail.find(std::strerror(disk.expectedError())), std::string::npos)
        << failures[0].detail;

    const MovieRecorderStats atFailure = recorder->stats();
    for (int i = 0; i < 30; ++i) offer();
    const MovieRecorderStats after = recorder->stats();
    EXPECT_EQ(after.videoWritten, atFailure.videoWritten);
    EXPECT_EQ(after.videoDroppedBusy, atFailure.videoDroppedBusy);

    std::optional<Outcome> outcome;
    recorder->finish(std::nullopt, [&](Outcome result) { outcome = std::move(result); });
    ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 60s));
    main_.runUntilIdle();
    ASSERT_FALSE(outcome->has_value());
    EXPECT_EQ(outcome->error(), failures[0]);
    EXPECT_EQ(failures.size(), 1u);

    std::error_code error;
    EXPECT_LE(std::filesystem::file_size(path, error), kRoom);
    const auto probed = probe(path);
    const auto* video = streamOfType(probed, "video");
    ASSERT_NE(video, nullptr) << "the movie written before the failure does not open";
    const auto frames = CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "quiet", "-count_frames", "-select_streams", "v:0", "-show_entries", "stream=nb_read_frames",
         "-of", "csv=p=0", path.string()},
        {}, /*logged=*/false);
    const double readable = std::strtod(frames.output.c_str(), nullptr);
    EXPECT_GE(readable, 30) << frames.output;
    EXPECT_LE(readable, static_cast<double>(atFailure.videoWritten));
}

// The write that fails on a full disk is often part of a fragment: what of
// it reached the disk must not stay at the end of the movie, where players
// would find a sample cut off half-way. Every sample left decodes, with
// either codec and whether the disk fills early or late.
TEST_F(MovieRecorderEndTest, AMovieEndedByAFullDiskEndsWithAWholeFragment) {
    const struct {
        const char* name;
        VideoCodec codec;
        size_t room;
    } cases[] = {
        {"HEVC, early", VideoCodec::hevc, 96 * 1024},
        {"HEVC, later", VideoCodec::hevc, 400 * 1024},
        {"H.264, early", VideoCodec::h264, 96 * 1024},
        {"H.264, later", VideoCodec::h264, 400 * 1024},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir_.path() / ("small" + std::to_string(n++));
        const auto path = folder / "full.mov";
        testsupport::SmallDisk disk(folder, c.room);
        auto recorder = makeRecorder(path, c.codec, std::nullopt, true);
        bool failed = false;
        recorder->setOnFailure([&](const RecorderError&) { failed = true; });
        const TimePoint base = clock_.now();
        constexpr int kSamples = 48000 / 30;
        for (int i = 0; !failed && i < 30 * 600; ++i) {
            recorder->appendAudio(toneChunk(48000, 2, int64_t{i} * kSamples, kSamples, base + frameTime(i)));
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, base + frameTime(i)));
            settle(*recorder);
            main_.runUntilIdle();
        }
        ASSERT_TRUE(failed);
        std::optional<Outcome> outcome;
        recorder->finish(std::nullopt, [&](Outcome result) { outcome = std::move(result); });
        ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 60s));
        ASSERT_FALSE(outcome->has_value());

        const auto counted = CommandRunner::run(
            "/usr/bin/ffprobe",
            {"-v", "quiet", "-count_packets", "-count_frames", "-select_streams", "v:0", "-show_entries",
             "stream=nb_read_packets,nb_read_frames", "-of", "json", path.string()},
            {}, /*logged=*/false, 120s);
        const auto read = nlohmann::json::parse(counted.output, nullptr, false);
        ASSERT_TRUE(read.is_object() && read.contains("streams") && !read["streams"].empty()) << counted.output;
        const double packets = number(read["streams"][0], "nb_read_packets");
        EXPECT_GE(packets, 10);
        EXPECT_EQ(number(read["streams"][0], "nb_read_frames"), packets);
        EXPECT_TRUE(testsupport::decodesCleanly(path));
        disk.release();
    }
}

// A movie that ends without a single picture is no movie: whether the
// encoder gave none (the movie holds only sound) or the disk filled after
// its header, nothing of it stays in the folder, hidden or not, and the
// finish says why.
TEST_F(MovieRecorderEndTest, AMovieWithoutAPictureLeavesNothing) {
    const struct {
        const char* name;
        bool picturelessEncoder;
        size_t room;  // 0: no limit
        RecorderError::Kind expected;
    } cases[] = {
        {"the encoder gave no picture", true, 0, RecorderError::Kind::noVideo},
        {"the disk is full after the header", false, 8 * 1024, RecorderError::Kind::writerFailed},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir_.path() / ("pictureless" + std::to_string(n++));
        std::filesystem::create_directories(folder);
        std::optional<testsupport::SmallDisk> disk;
        if (c.room > 0) disk.emplace(folder, c.room);
        MovieWriterFactory factory = patientWriter();
        if (c.picturelessEncoder) {
            factory = [inner = patientWriter()](const FileInFolder& path) -> std::unique_ptr<MovieWriter> {
                return std::make_unique<PicturelessWriter>(inner(path));
            };
        }
        auto recorder = makeRecorder(folder / "movie.mov", VideoCodec::hevc, std::nullopt, true, factory);
        bool failed = false;
        recorder->setOnFailure([&](const RecorderError&) { failed = true; });
        const TimePoint base = clock_.now();
        for (int i = 0; i < 45 && !failed; ++i) {
            recorder->appendAudio(toneChunk(48000, 2, int64_t{i} * 1600, 1600, base + frameTime(i)));
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, base + frameTime(i)));
            settle(*recorder);
            main_.runUntilIdle();
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_FALSE(outcome.has_value());
        EXPECT_EQ(outcome.error().kind, c.expected) << outcome.error().userMessage();
        EXPECT_EQ(entriesOf(folder), std::vector<std::string>{});
    }
}

// The output folder, or the growing movie itself, removed while recording:
// what is written then exists nowhere, so the finish fails with the reason
// instead of reporting a saved movie.
TEST_F(MovieRecorderEndTest, AMovieRemovedWhileRecordingIsNotSaved) {
    const struct {
        const char* name;
        bool wholeFolder;
    } cases[] = {{"the folder is removed", true}, {"the movie's file is removed", false}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir_.path() / ("removed" + std::to_string(n++));
        std::filesystem::create_directories(folder);
        const auto path = folder / "movie.mov";
        auto recorder = makeRecorder(path, VideoCodec::h264, std::nullopt, false);
        const TimePoint base = clock_.now();
        int index = 0;
        const auto offer = [&] {
            recorder->appendVideo(patternFrame(kWidth, kHeight, index, base + frameTime(index)));
            ++index;
            settle(*recorder);
        };
        // Until its first fragments are on the disk under its name.
        while (fileSize(path) == 0 && index < 30 * 20) offer();
        ASSERT_GT(fileSize(path), 0u);
        std::filesystem::remove_all(c.wholeFolder ? folder : path);
        for (int i = 0; i < 15; ++i) offer();

        const Outcome outcome = finish(*recorder);
        ASSERT_FALSE(outcome.has_value()) << "reported saved";
        EXPECT_EQ(outcome.error().userMessage(), "Recording failed: The movie file was removed while it was recorded");
        EXPECT_EQ(std::filesystem::exists(folder), !c.wholeFolder);
        EXPECT_EQ(entriesOf(folder), std::vector<std::string>{});
    }
}

// While a recorder waits for its first picture, its name is only the empty
// file that reserved it: a clearing of leftovers at another instance's start
// leaves it alone. A recorder that ends without a picture removes it.
TEST_F(MovieRecorderEndTest, ARecorderHoldsItsReservedNameUntilItEnds) {
    const auto folder = dir_.path() / "reserved";
    std::filesystem::create_directories(folder);
    const auto path = folder / "movie.mov";
    std::ofstream(path).flush();
    auto recorder = makeRecorder(path, VideoCodec::hevc, std::nullopt, true);
    EXPECT_EQ(MovieTemporaries::removeLeftovers(folder), MovieTemporaries::Leftovers{});
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"movie.mov"});

    const Outcome outcome = finish(*recorder);
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error().kind, RecorderError::Kind::noVideo);
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{});
}

}  // namespace
}  // namespace hollowkit
