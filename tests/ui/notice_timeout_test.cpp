#include "lumenhollow/ui/window/notice_timeout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../model/model_harness.h"

namespace lumenhollow::test {
namespace {

using namespace std::chrono_literals;

// The model with a timeout that hears every notice, as the toast's column does.
struct TimedNotices : ModelHarness {
    std::unique_ptr<NoticeTimeout> timeout;
    CameraModel::ObserverId observer = 0;

    TimedNotices() {
        createAndStart();
        timeout = std::make_unique<NoticeTimeout>(model);
        observer = model->addObserver([this](Field field) {
            if (field == Field::notice && timeout) timeout->noticeChanged();
        });
    }
    ~TimedNotices() { model->removeObserver(observer); }
};

struct Step {
    std::chrono::milliseconds at;
    std::optional<std::string> post;      // a notice posted at `at`
    std::optional<std::string> expected;  // then the notice shown
};

TEST(NoticeTimeoutTest, EachNoticeStaysItsOwnThreeSeconds) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases{
        {"an unchanged notice goes at 3 s, not before",
         {{0ms, "Face tracking on", "Face tracking on"},
          {2999ms, {}, "Face tracking on"},
          {3000ms, {}, std::nullopt}}},
        {"a new text replaces at once and keeps its own 3 s",
         {{0ms, "Framed", "Framed"},
          {2000ms, "No face found to frame", "No face found to frame"},
          {3000ms, {}, "No face found to frame"},
          {4999ms, {}, "No face found to frame"},
          {5000ms, {}, std::nullopt}}},
        {"the same text again starts its 3 s over",
         {{0ms, "Scenes need the USB connection", "Scenes need the USB connection"},
          {2500ms, "Scenes need the USB connection", "Scenes need the USB connection"},
          {3000ms, {}, "Scenes need the USB connection"},
          {5499ms, {}, "Scenes need the USB connection"},
          {5500ms, {}, std::nullopt}}},
        {"a notice after the last one went is timed afresh",
         {{0ms, "Framed", "Framed"}, {3000ms, {}, std::nullopt}, {4000ms, "Framed", "Framed"},
          {6999ms, {}, "Framed"}, {7000ms, {}, std::nullopt}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimedNotices h;
        std::chrono::milliseconds now = 0ms;
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.at.count());
            h.main.advance(step.at - now);
            now = step.at;
            if (step.post) h.model->postNotice(*step.post);
            h.main.runUntilIdle();
            EXPECT_EQ(h.state().notice, step.expected);
        }
    }
}

TEST(NoticeTimeoutTest, AClearForAnOlderNoticeLeavesANewerOne) {
    TimedNotices h;
    h.model->postNotice("Framed");
    const uint64_t first = h.model->noticeSerial();
    h.model->postNotice("Framed");
    EXPECT_NE(h.model->noticeSerial(), first) << "a repeated text is a new notice";
    h.model->clearNotice(first);
    EXPECT_EQ(h.state().notice, "Framed");
    h.model->clearNotice(h.model->noticeSerial());
    EXPECT_EQ(h.state().notice, std::nullopt);
}

TEST(NoticeTimeoutTest, ATimeoutThatIsGoneClearsNothing) {
    TimedNotices h;
    h.model->postNotice("Framed");
    h.main.runUntilIdle();
    EXPECT_TRUE(h.timeout->isWaiting());
    h.timeout.reset();
    h.main.advance(NoticeTimeout::kShownFor * 2);
    h.main.runUntilIdle();
    EXPECT_EQ(h.state().notice, "Framed");
}

TEST(NoticeTimeoutTest, TheModelsOwnNoticesAreNumbered) {
    // A refused choice said twice must count as two notices.
    TimedNotices h;
    const uint64_t before = h.model->noticeSerial();
    h.model->saveCurrentPositionAsScene();
    h.main.runUntilIdle();
    ASSERT_TRUE(h.state().notice);
    const uint64_t once = h.model->noticeSerial();
    EXPECT_GT(once, before);
    h.main.advance(2s);
    h.model->saveCurrentPositionAsScene();
    h.main.runUntilIdle();
    EXPECT_GT(h.model->noticeSerial(), once);
    h.main.advance(2s);
    h.main.runUntilIdle();
    EXPECT_TRUE(h.state().notice) << "the second notice has its own 3 s";
}

}  // namespace
}  // namespace lumenhollow::test
