// The main of every test program: FFmpeg's process-wide log is set up once,
// as the application does, so codecs under test log through PocketLog and
// leave standard error alone.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hollowkit/media/ffmpeg_log.h"

int main(int argc, char** argv) {
    hollowkit::installFfmpegLogging();
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
