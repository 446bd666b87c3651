#include "lumenhollow/ui/window/quit_notice.h"

#include <vector>

namespace lumenhollow {
namespace {

// "the recording" for one, "3 recordings" for more.
std::string counted(int count, const char* one, const char* many) {
    return count == 1 ? std::string(one) : std::to_string(count) + " " + many;
}

}  // namespace

std::optional<std::string> quitNotice(const std::optional<QuitProgress>& progress) {
    if (!progress) return std::nullopt;
    std::vector<std::string> items;
    if (progress->movies > 0) items.push_back(counted(progress->movies, "the recording", "recordings"));
    if (progress->takes > 0) items.push_back(counted(progress->takes, "the screen recording", "screen recordings"));
    if (progress->composing) items.emplace_back("the combined video");
    if (progress->photos > 0) items.push_back(counted(progress->photos, "1 photo", "photos"));
    if (items.empty()) return std::string("Quitting…");
    std::string text = progress->askedAgain ? "Still saving " : "Saving ";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text + " before quitting…";
}

std::optional<std::string> shownNotice(const PublishedState& state) {
    if (auto quitting = quitNotice(state.quitProgress)) return quitting;
    return state.notice;
}

}  // namespace lumenhollow
