#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hollowkit/camera/camera_command.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

namespace hk = hollowkit;
using hk::CameraISO;
using hk::CommandOutcome;

struct Answer {
    CameraISO iso;
    CommandOutcome outcome;
};

std::string labelOf(CameraISO iso) { return hk::CameraCommand::setting(hk::CameraSetting::iso(iso)).label; }

void chooseIso(CameraModel& model, CameraISO iso) {
    CameraSettingsState next = model.state().cameraSettings;
    next.iso = iso;
    model.applyCameraSetting(next, hk::CameraSetting::iso(iso));
}

// Over Wi-Fi the camera answers only the later of two settings of one kind
// sent before the first was answered. The earlier one must leave nothing
// waiting that a later answer could be taken for: a choice refused after
// the pair goes back to the value the camera took, and a refusal of the
// later of the pair goes back to the earlier, chosen before it.
TEST(CameraSettingsAnswerTest, TheEarlierOfTwoQuickSettingsOfOneKindWaitsForNoAnswer) {
    struct Case {
        const char* name;
        std::vector<CameraISO> quick;   // sent one after the other, unanswered
        std::vector<Answer> answers;    // what the camera says to the last of them
        std::vector<CameraISO> later;   // chosen afterwards, one by one
        std::vector<Answer> laterAnswers;
        std::optional<CameraISO> shown;
    };
    const std::vector<Case> cases{
        {"the pair taken, then the earlier value refused", {CameraISO::iso100, CameraISO::iso200},
         {{CameraISO::iso200, CommandOutcome::accepted()}}, {CameraISO::iso100},
         {{CameraISO::iso100, CommandOutcome::rejected(1)}}, CameraISO::iso200},
        {"the pair taken, then the earlier value never answered", {CameraISO::iso100, CameraISO::iso200},
         {{CameraISO::iso200, CommandOutcome::accepted()}}, {CameraISO::iso100},
         {{CameraISO::iso100, CommandOutcome::noReply()}}, CameraISO::iso200},
        {"the later of the pair refused", {CameraISO::iso100, CameraISO::iso200},
         {{CameraISO::iso200, CommandOutcome::rejected(1)}}, {}, {}, CameraISO::iso100},
        {"three quick ones, the last never answered", {CameraISO::iso100, CameraISO::iso200, CameraISO::iso400},
         {{CameraISO::iso400, CommandOutcome::noReply()}}, {}, {}, CameraISO::iso200},
        {"an answered one, then a refused pair", {CameraISO::iso800},
         {{CameraISO::iso800, CommandOutcome::accepted()}}, {CameraISO::iso100, CameraISO::iso200},
         {{CameraISO::iso200, CommandOutcome::rejected(1)}}, CameraISO::iso100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.cameras.setPocketConnected(false);
        h.createAndStart();
        ASSERT_TRUE(h.camera()->supportsCameraSettings());
        for (CameraISO iso : c.quick) chooseIso(*h.model, iso);
        for (const Answer& a : c.answers) h.emit(hk::CameraEvent::commandResult(labelOf(a.iso), a.outcome));
        for (CameraISO iso : c.later) chooseIso(*h.model, iso);
        for (const Answer& a : c.laterAnswers) h.emit(hk::CameraEvent::commandResult(labelOf(a.iso), a.outcome));
        EXPECT_EQ(h.state().cameraSettings.iso, c.shown);
        // Every setting went to the camera as chosen.
        EXPECT_EQ(h.camera()->settings().size(), c.quick.size() + c.later.size());
    }
}

}  // namespace
}  // namespace lumenhollow::test
