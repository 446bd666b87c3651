// The folders the model holds open while it works in them (a movie's, a
// photo's, a take's, a rebuilt take's) are let go once that work is over:
// a videos folder on a removable disk can be unmounted after a take is
// composed, not only after the next composition or the quit.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/testing/test_support.h"
#include "take_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::testsupport::descriptorsOf;
using namespace std::chrono_literals;

// A movie of the camera alone, one photo, a take composed, a take whose
// finish composes nothing, and a rebuild: once each has said it ended, no
// descriptor of the process leads to the output folder or the take's.
TEST(HeldFoldersTest, EveryFolderIsLetGoOnceItsWorkEnds) {
    struct Case {
        const char* name;
        std::function<bool(TakeHarness&)> work;  // true once it ran to its notice
        std::string notice;
        bool take;  // a take's folder was made
    };
    const auto composedTake = [](TakeHarness& h) {
        h.startTakes();
        if (!h.recordTake(1.0)) return false;
        h.model->toggleRecording();
        return h.main.waitFor([&] { return h.waitForFinish() && !h.state().composeProgress; }, 60s);
    };
    const std::vector<Case> cases{
        {"a movie of the camera",
         [](TakeHarness& h) {
             h.start(true);
             h.model->setRecordTarget(RecordTarget::mac);
             h.model->toggleRecording();
             if (!h.main.waitFor([&] { return h.model->isRecording(); }, 10s)) return false;
             for (int i = 0; i < 10; ++i) h.cameraFrame();
             h.model->toggleRecording();
             return h.waitForNotices(1);
         },
         "Video saved", false},
        {"a photo",
         [](TakeHarness& h) {
             h.start(true);
             h.model->takePhoto();
             h.cameraFrame();
             return h.waitForNotices(1);
         },
         "Photo saved", false},
        {"a take composed", composedTake, "Screen recording saved", true},
        {"a take with no camera picture, so nothing composed",
         [](TakeHarness& h) {
             h.startTakes();
             h.record();
             if (!h.waitForCapture() || !h.firstScreenFrame()) return false;
             h.model->toggleRecording();
             return h.main.waitFor([&] { return h.waitForFinish() && !h.state().composeProgress; }, 60s);
         },
         "Screen saved. The camera had no picture, so there is no combined video.", true},
        {"a rebuild",
         [&](TakeHarness& h) {
             if (!composedTake(h)) return false;
             h.model->rebuildScreenTake(*h.state().lastScreenTake);
             return h.main.waitFor([&] { return h.state().composeProgress.has_value(); }, 10s) &&
                    h.main.waitFor([&] { return !h.state().composeProgress; }, 60s);
         },
         "Screen recording saved", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        h.takeComposers = {};  // the library's composer
        ASSERT_TRUE(c.work(h));
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().notice, c.notice);
        EXPECT_EQ(descriptorsOf(h.outputFolder), 0);
        const std::vector<std::filesystem::path> takes = h.takeFolders();
        ASSERT_EQ(takes.size(), c.take ? 1u : 0u);
        for (const auto& take : takes) EXPECT_EQ(descriptorsOf(take), 0) << take;
    }
}

}  // namespace
}  // namespace lumenhollow::test
