#include "hollowkit/camera/camera_event.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

// Status and failure both carry a text; each must land in its own case, or
// a failure would be shown as a progress line.
TEST(CameraEventTest, TextCasesStayDistinct) {
    const CameraEvent status = CameraEvent::status("Connecting");
    const CameraEvent failed = CameraEvent::failed("No camera");
    ASSERT_NE(status.get<CameraEvent::Status>(), nullptr);
    EXPECT_EQ(status.get<CameraEvent::Status>()->text, "Connecting");
    EXPECT_EQ(status.get<CameraEvent::Failed>(), nullptr);
    ASSERT_NE(failed.get<CameraEvent::Failed>(), nullptr);
    EXPECT_EQ(failed.get<CameraEvent::Failed>()->message, "No camera");
    EXPECT_EQ(failed.get<CameraEvent::Status>(), nullptr);
    EXPECT_EQ(failed.kind(), CameraEvent::Kind::failed);
}

}  // namespace
}  // namespace hollowkit
