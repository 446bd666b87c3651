#include "hollowkit/wireless/repeat_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

TEST(RepeatLogTest, EachLineOfATopicIsWrittenOnceUntilTheTopicIsForgotten) {
    struct Step {
        const char* topic;
        const char* line;  // nullptr: forget the topic
        bool written;
    };
    const std::vector<Step> steps{
        {"camera", "Failed: No Bluetooth adapter found", true},
        {"camera", "Camera turned off or went out of range", true},
        {"camera", "Failed: No Bluetooth adapter found", false},
        {"camera", "Camera turned off or went out of range", false},
        {"BlueZ", "Failed: No Bluetooth adapter found", true},  // topics are apart
        {"camera", "Failed: Bluetooth is turned off", true},
        {"camera", nullptr, false},
        {"camera", "Failed: No Bluetooth adapter found", true},
        {"BlueZ", "Failed: No Bluetooth adapter found", false},  // forgetting one leaves the other
        {"other", nullptr, false},                               // a topic never used
    };
    testsupport::LogCapture log;
    RepeatLog repeats;
    std::vector<std::string> expected;
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        const Step& step = steps[i];
        if (step.line == nullptr) {
            repeats.forget(step.topic);
            continue;
        }
        EXPECT_EQ(repeats.log(step.topic, step.line), step.written);
        if (step.written) expected.emplace_back(step.line);
    }
    EXPECT_EQ(log.lines(), expected);
}

TEST(RepeatLogTest, PastItsBoundATopicWritesEveryLineRatherThanHideOne) {
    testsupport::LogCapture log;
    RepeatLog repeats;
    for (size_t i = 0; i < RepeatLog::kLinesPerTopic; ++i) {
        ASSERT_TRUE(repeats.log("t", "line " + std::to_string(i)));
    }
    EXPECT_FALSE(repeats.log("t", "line 0"));
    EXPECT_TRUE(repeats.log("t", "one more"));
    EXPECT_TRUE(repeats.log("t", "one more")) << "not remembered, so never left out";
}

}  // namespace
}  // namespace hollowkit
