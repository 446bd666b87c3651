#include "lumenhollow/ui/window/quit_notice.h"

#include <gtest/gtest.h>

namespace lumenhollow {
namespace {

TEST(QuitNoticeTest, TheQuitsLineNamesWhatItStillSaves) {
    const struct {
        const char* name;
        std::optional<QuitProgress> progress;
        std::optional<std::string> line;
    } cases[] = {
        {"no quit", std::nullopt, std::nullopt},
        {"only the camera left to stop", QuitProgress{}, "Quitting…"},
        {"asked again with only the camera left", QuitProgress{0, 0, false, 0, true}, "Quitting…"},
        {"eight photos", QuitProgress{0, 0, false, 8, false}, "Saving 8 photos before quitting…"},
        {"one photo", QuitProgress{0, 0, false, 1, false}, "Saving 1 photo before quitting…"},
        {"a recording", QuitProgress{1, 0, false, 0, false}, "Saving the recording before quitting…"},
        {"two recordings and a photo", QuitProgress{2, 0, false, 1, false},
         "Saving 2 recordings and 1 photo before quitting…"},
        {"a take", QuitProgress{0, 1, false, 0, false}, "Saving the screen recording before quitting…"},
        {"a combined video", QuitProgress{0, 0, true, 0, false}, "Saving the combined video before quitting…"},
        {"everything, asked again", QuitProgress{1, 1, true, 3, true},
         "Still saving the recording, the screen recording, the combined video and 3 photos before quitting…"},
    };
    for (const auto& c : cases) EXPECT_EQ(quitNotice(c.progress), c.line) << c.name;
}

TEST(QuitNoticeTest, TheCapsuleShowsTheQuitsLineOverANotice) {
    const struct {
        const char* name;
        std::optional<std::string> notice;
        std::optional<QuitProgress> progress;
        std::optional<std::string> shown;
    } cases[] = {
        {"nothing", std::nullopt, std::nullopt, std::nullopt},
        {"a notice", "Photo saved", std::nullopt, "Photo saved"},
        {"a quit", std::nullopt, QuitProgress{0, 0, false, 2, false}, "Saving 2 photos before quitting…"},
        {"a notice during a quit", "Photo saved", QuitProgress{0, 0, false, 2, false},
         "Saving 2 photos before quitting…"},
    };
    for (const auto& c : cases) {
        PublishedState state;
        state.notice = c.notice;
        state.quitProgress = c.progress;
        EXPECT_EQ(shownNotice(state), c.shown) << c.name;
    }
}

}  // namespace
}  // namespace lumenhollow
