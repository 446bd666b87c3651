#include "hollowkit/base/queue_labels.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

namespace hollowkit {
namespace {

TEST(QueueLabelsTest, ClassFollowsTheLabel) {
    EXPECT_EQ(qualityOfServiceFor("HollowKit.BackgroundPreview"), QualityOfService::userInteractive);
    EXPECT_EQ(qualityOfServiceFor("HollowKit.FaceDetector"), QualityOfService::userInitiated);
    EXPECT_EQ(qualityOfServiceFor("HollowKit.FaceFollower"), QualityOfService::userInitiated);
    EXPECT_EQ(qualityOfServiceFor("HollowKit.USBControl"), QualityOfService::unspecified);
    EXPECT_EQ(qualityOfServiceFor("HollowKit.MovieRecorder"), QualityOfService::unspecified);
    EXPECT_EQ(qualityOfServiceFor("HollowKit.Unknown"), QualityOfService::unspecified);
    EXPECT_EQ(qualityOfServiceFor("hollowkit.backgroundpreview"), QualityOfService::unspecified);
}

TEST(QueueLabelsTest, LabelsAreDistinctAndCarryTheLibraryPrefix) {
    std::set<std::string_view> seen;
    for (const QueueLabel& entry : kLibraryQueueLabels) {
        EXPECT_TRUE(entry.label.starts_with("HollowKit.")) << entry.label;
        EXPECT_TRUE(seen.insert(entry.label).second) << entry.label;
    }
}

}  // namespace
}  // namespace hollowkit
