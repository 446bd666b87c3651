#include "hollowkit/media/ffmpeg_log.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/version.h>
}

#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

using Lines = std::vector<std::string>;

// A context as FFmpeg's own objects begin: a pointer to their class.
struct FakeContext {
    const AVClass* avClass;
};

AVClass classNamed(const char* name) {
    AVClass avClass{};
    avClass.class_name = name;
    avClass.item_name = av_default_item_name;
    avClass.version = LIBAVUTIL_VERSION_INT;
    return avClass;
}

const AVClass kX264 = classNamed("libx264");
const AVClass kAac = classNamed("aac");
FakeContext x264{&kX264};
FakeContext aac{&kAac};

// One av_log call.
struct Piece {
    void* context;
    int level;
    const char* text;
};

// Every case ends its lines, so nothing is left pending for the next one.
TEST(FfmpegLogTest, WarningsAndErrorsReachTheLogAsWholeLines) {
    struct Case {
        const char* what;
        std::vector<Piece> pieces;
        Lines expected;
    };
    const Case cases[] = {
        {"one warning", {{&x264, AV_LOG_WARNING, "VBV buffer too small\n"}},
         {"FFmpeg warning [libx264] VBV buffer too small"}},
        {"an error in pieces", {{&aac, AV_LOG_ERROR, "Too many bits "}, {&aac, AV_LOG_ERROR, "%d > %d\n"}},
         {"FFmpeg error [aac] Too many bits %d > %d"}},
        {"statistics and progress are dropped",
         {{&x264, AV_LOG_INFO, "frame I:2 Avg QP:33.84\n"}, {&aac, AV_LOG_VERBOSE, "Qavg: 1.5\n"},
          {&x264, AV_LOG_DEBUG, "slice\n"}},
         {}},
        {"no context", {{nullptr, AV_LOG_FATAL, "out of memory\n"}}, {"FFmpeg error out of memory"}},
        {"two lines in one piece", {{&x264, AV_LOG_WARNING, "first\nsecond\n"}},
         {"FFmpeg warning [libx264] first", "FFmpeg warning [libx264] second"}},
        {"another context ends an open line",
         {{&x264, AV_LOG_WARNING, "unfinished"}, {&aac, AV_LOG_WARNING, "other\n"}},
         {"FFmpeg warning [libx264] unfinished", "FFmpeg warning [aac] other"}},
        {"a line is as severe as its worst piece",
         {{&x264, AV_LOG_WARNING, "mostly fine, "}, {&x264, AV_LOG_ERROR, "then broken\n"}},
         {"FFmpeg error [libx264] mostly fine, then broken"}},
        {"colour hints do not change the level", {{&aac, AV_LOG_WARNING | (3 << 8), "tinted\n"}},
         {"FFmpeg warning [aac] tinted"}},
    };
    ManualClock clock;
    installFfmpegLogging(clock);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.advanceSeconds(1);  // a fresh rate window
        testsupport::LogCapture log;
        // "%d" in a text shows the formatted text is never taken as a
        // format again.
        for (const Piece& piece : c.pieces) av_log(piece.context, piece.level, "%s", piece.text);
        EXPECT_EQ(log.lines(), c.expected);
    }
    installFfmpegLogging();
}

// A flood of errors (a broken stream) is cut to a few lines a second; the
// number left out is told before the next second's first line.
TEST(FfmpegLogTest, AFloodIsCutToAFewLinesASecond) {
    ManualClock clock;
    installFfmpegLogging(clock);
    testsupport::LogCapture log;
    for (int i = 0; i < kFfmpegLogLinesPerSecond + 15; ++i) av_log(&x264, AV_LOG_ERROR, "bad slice %d\n", i);
    EXPECT_EQ(log.count("bad slice"), kFfmpegLogLinesPerSecond);
    clock.advanceSeconds(0.9);
    av_log(&x264, AV_LOG_ERROR, "still the same second\n");
    EXPECT_FALSE(log.contains("still the same second"));
    clock.advanceSeconds(0.1);
    log.clear();
    av_log(&x264, AV_LOG_WARNING, "recovered\n");
    EXPECT_EQ(log.lines(), (Lines{"FFmpeg: 16 more lines were left out", "FFmpeg warning [libx264] recovered"}));
    installFfmpegLogging();
}

}  // namespace
}  // namespace hollowkit
