// The demonstration camera's microphone and formats on the USB route, as a
// person meets them without hardware: the model learns both from the
// camera, the Format pill is enabled, the USB microphone menu offers the
// microphone (the one in use),
// the level its meter shows rises and falls with the tone, and a movie
// recorded from the camera carries its sound.

#include <QAction>
#include <QMenu>

#include <algorithm>
#include <optional>
#include <vector>

#include "demo_run.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/panels/microphone_control.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/panels/microphone_menu_button.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/main_window.h"

namespace lumenhollow::test {
namespace {

// The enabled row titled `title` of `menu`, filled as it is when it opens.
QAction* enabledRow(QMenu& menu, const QString& title) {
    Q_EMIT menu.aboutToShow();
    for (QAction* action : menu.actions()) {
        if (action->text() == title && action->isEnabled()) return action;
    }
    return nullptr;
}

TEST(DemoMicrophoneEndToEndTest, TheMicrophoneIsListedItsLevelMovesAndTheMovieHasSound) {
    DemoRun run;
    const std::string why = run.prepare({});
    if (!why.empty()) GTEST_SKIP() << why;
    const int status = run.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        const PublishedState& state = demo.model().state();
        ASSERT_EQ(state.connection, ConnectionMode::usb);
        EXPECT_EQ(state.formats, demo.camera()->formats()) << "the Format pill's choices";
        EXPECT_EQ(state.activeFormat, demo.camera()->activeFormat());
        auto* bar = demo.window().findChild<BottomBar*>();
        ASSERT_TRUE(bar);
        EXPECT_TRUE(demo.waitFor([&] { return bar->formatMenu().isEnabled(); }, 10s)) << "the Format pill";
        ASSERT_EQ(state.microphones.size(), 1U);
        ASSERT_EQ(state.activeMicrophone, state.microphones.front());

        auto* control = demo.window().findChild<MicrophoneControl*>();
        ASSERT_TRUE(control);
        ASSERT_TRUE(demo.waitFor([&] { return control->isVisible() && !control->isWirelessFace(); }, 10s));
        const QString title = QString::fromStdString(state.microphones.front().displayName());
        EXPECT_TRUE(demo.waitFor([&] { return enabledRow(*control->menuButton().menu(), title) != nullptr; }, 10s))
            << "the USB microphone menu should offer " << title.toStdString();

        // The meter reads the published level: it should both rise and fall.
        std::vector<float> levels;
        EXPECT_TRUE(demo.waitFor(
            [&] {
                if (state.audioLevel && (levels.empty() || levels.back() != *state.audioLevel)) {
                    levels.push_back(*state.audioLevel);
                }
                if (levels.size() < 2) return false;
                const auto [low, high] = std::ranges::minmax(levels);
                return high - low > 10;
            },
            20s))
            << levels.size() << " levels";

        demo.model().toggleRecording();
        ASSERT_TRUE(demo.waitFor([&] { return demo.model().isRecording(); }, 30s))
            << state.notice.value_or("no notice");
        const uint64_t framesAtStart = demo.camera()->framesDelivered();
        ASSERT_TRUE(demo.waitFor([&] { return demo.camera()->framesDelivered() >= framesAtStart + 45; }, 60s));
        demo.model().toggleRecording();
        const std::optional<ProbedMovie> probed = waitForMovie(demo, 15, 120s);
        ASSERT_TRUE(probed) << "no movie ffprobe reads; still recording: " << demo.model().isRecording();
        EXPECT_TRUE(probed->hasAudio) << "the demo camera's microphone should be heard in the movie";
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace lumenhollow::test
