// The main of every test program: FFmpeg's process-wide log and the heap
// allocator's settings are set up once, as the application does, so codecs
// under test log through PocketLog and leave standard error alone, and
// memory behaves as it does in the application.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hollowkit/base/memory_settings.h"
#include "hollowkit/media/ffmpeg_log.h"

int main(int argc, char** argv) {
    hollowkit::installFfmpegLogging();
    hollowkit::applyMemorySettings();
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
