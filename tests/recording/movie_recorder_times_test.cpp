// Times the muxer must never see: a movie that ends with its first picture
// or just after it (the encoder's decode times for such a stream are not to
// be trusted), and a process stopped for ten seconds mid-recording (a jump
// in the pictures' times, sound that comes late, early and twice). Every
// packet of the finished movie has a presentation and a decode time, decode
// times rise, durations are not negative, the muxer says nothing, and the
// whole movie decodes.

#include <malloc.h>

#include <string>
#include <vector>

#include "movie_recorder_harness.h"

namespace hollowkit {
namespace {

class MovieRecorderTimesTest : public MovieRecorderTest {};

// The first thing wrong with the times of the movie's packets, as ffprobe
// reads them; empty when nothing is.
std::string packetTimesFault(const std::filesystem::path& movie) {
    const auto result = CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "error", "-of", "json", "-show_entries", "packet=stream_index,pts,dts,duration", movie.string()}, {},
        /*logged=*/false, std::chrono::seconds(120));
    const auto probed = nlohmann::json::parse(result.output, nullptr, false);
    if (result.status != 0 || !probed.is_object() || !probed.contains("packets")) return "ffprobe: " + result.output;
    std::vector<std::optional<int64_t>> lastDts(4);
    int index = 0;
    for (const auto& packet : probed["packets"]) {
        const std::string at = "packet " + std::to_string(index++) + " " + packet.dump();
        if (!packet.contains("pts") || !packet.contains("dts")) return at + " has no time";
        const auto stream = packet.value("stream_index", 0);
        if (stream < 0 || stream >= static_cast<int>(lastDts.size())) return at + " is on an unknown track";
        const auto dts = packet["dts"].get<int64_t>();
        if (packet["pts"].get<int64_t>() < dts) return at + " shows before it is decoded";
        if (packet.value("duration", int64_t{0}) < 0) return at + " has a negative duration";
        auto& last = lastDts[static_cast<size_t>(stream)];
        if (last && dts <= *last) return at + " is not decoded after the one before";
        last = dts;
    }
    return {};
}

// The log lines FFmpeg's muxer and codecs wrote while the movie was made.
std::vector<std::string> ffmpegComplaints(const testsupport::LogCapture& log) {
    std::vector<std::string> lines;
    for (const std::string& line : log.lines()) {
        if (line.find("FFmpeg") != std::string::npos) lines.push_back(line);
    }
    return lines;
}

// Memory the encoders leave unset holds a known nonsense value: each
// allocation is filled with the complement of the byte given, as a busy
// process's reused memory would hold anything at all.
class DirtyAllocations {
public:
    DirtyAllocations() { ::mallopt(M_PERTURB, 0x5a); }
    ~DirtyAllocations() { ::mallopt(M_PERTURB, 0); }
    DirtyAllocations(const DirtyAllocations&) = delete;
    DirtyAllocations& operator=(const DirtyAllocations&) = delete;
};

// Record pressed and pressed again at once: the finish comes with the first
// picture still in the encoder, or one or two after it. x265 reads the
// decode time of a stream shorter than its B-frame delay from a field it
// never set.
TEST_F(MovieRecorderTimesTest, AMovieEndingAtItsFirstPicturesFinishesWithSaneTimes) {
    const struct {
        VideoCodec codec;
        int frames;
    } cases[] = {
        {VideoCodec::hevc, 1}, {VideoCodec::hevc, 2}, {VideoCodec::hevc, 3},
        {VideoCodec::h264, 1}, {VideoCodec::h264, 2}, {VideoCodec::h264, 3},
    };
    DirtyAllocations dirty;
    for (const auto& c : cases) {
        const std::string name = std::string(toString(c.codec)) + " " + std::to_string(c.frames) + ".mov";
        SCOPED_TRACE(name);
        log_.clear();
        const auto path = file(name.c_str());
        auto recorder = makeRecorder(path, c.codec, std::nullopt, true);
        const TimePoint base = clock_.now();
        recorder->appendAudio(toneChunk(48000, 2, 0, 1600, base - frameTime(1)));
        for (int i = 0; i < c.frames; ++i) {
            recorder->appendAudio(toneChunk(48000, 2, int64_t{i + 1} * 1600, 1600, base + frameTime(i)));
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, base + frameTime(i)));
            settle(*recorder);
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        EXPECT_EQ(recorder->stats().videoWritten, static_cast<uint64_t>(c.frames));
        recorder.reset();

        EXPECT_EQ(packetTimesFault(path), "");
        EXPECT_EQ(ffmpegComplaints(log_), std::vector<std::string>{});
        const auto probed = probe(path);
        const auto* video = streamOfType(probed, "video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(number(*video, "nb_frames"), c.frames);
        EXPECT_TRUE(testsupport::decodesCleanly(path));
    }
}

// SIGSTOP for ten seconds, then SIGCONT: the sound resumes before the
// pictures, ten seconds on; the pictures resume bunched together, stamped as
// they arrive, then at the camera's own (slightly uneven) pace; the sound
// buffered before the stop arrives late, one chunk of it twice. The gap may
// be a still picture and silence; no packet may carry a negative or missing
// time, and the muxer has nothing to say.
TEST_F(MovieRecorderTimesTest, AProcessStoppedForTenSecondsLeavesAMovieWithSaneTimes) {
    constexpr int kChunk = 1600;  // 1/30 s of sound at 48 kHz
    const Duration gap = std::chrono::seconds(10);
    for (const VideoCodec codec : {VideoCodec::hevc, VideoCodec::h264}) {
        const std::string name = std::string(toString(codec)) + " stopped.mov";
        SCOPED_TRACE(name);
        log_.clear();
        const auto path = file(name.c_str());
        auto recorder = makeRecorder(path, codec, std::nullopt, true);
        const TimePoint base = clock_.now();
        const auto sound = [&](int i, Duration shift = {}) {
            recorder->appendAudio(toneChunk(48000, 2, int64_t{i} * kChunk, kChunk, base + frameTime(i) + shift));
        };
        // A camera's pictures come a millisecond early or late.
        const auto picture = [&](int i, TimePoint at) {
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, at + std::chrono::milliseconds(i % 3 - 1)));
            settle(*recorder);
        };
        for (int i = 0; i < 40; ++i) {
            sound(i);
            picture(i, base + frameTime(i));
        }
        for (int i = 40; i < 45; ++i) picture(i, base + frameTime(i));
        // Stopped after frame 44; the sound wakes first.
        for (int i = 45; i < 60; ++i) sound(i, gap);
        const TimePoint woke = base + frameTime(45) + gap;
        for (int i = 45; i < 51; ++i) picture(i, woke + std::chrono::milliseconds(3 * (i - 45)));
        for (int i = 40; i < 45; ++i) sound(i);
        sound(44);
        for (int i = 51; i < 90; ++i) {
            if (i >= 60) sound(i, gap);
            picture(i, base + frameTime(i) + gap);
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        EXPECT_EQ(recorder->stats().videoWritten, 90u);
        recorder.reset();

        EXPECT_EQ(packetTimesFault(path), "");
        EXPECT_EQ(ffmpegComplaints(log_), std::vector<std::string>{});
        const auto probed = probe(path);
        EXPECT_NEAR(number(probed["format"], "duration"), 13.0, 0.1);
        EXPECT_TRUE(testsupport::decodesCleanly(path));
    }
}

}  // namespace
}  // namespace hollowkit
