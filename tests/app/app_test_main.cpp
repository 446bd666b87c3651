// The main of the application's tests: one QApplication for the in-process
// tests, on Qt's offscreen platform (they need no X server; the tests of the
// real programs start one of their own).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>

#include "hollowkit/media/ffmpeg_log.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    hollowkit::installFfmpegLogging();
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
