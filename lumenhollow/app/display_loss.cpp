#include "lumenhollow/app/display_loss.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <utility>

namespace lumenhollow {
namespace {

// The watch whose ending runs, and the handler it passes messages on to:
// Qt's handler is a plain function.
std::atomic<DisplayLossWatch*> current{nullptr};
std::atomic<QtMessageHandler> previous{nullptr};

bool onGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

bool saysDisplayLost(const QString& message) {
    // Both of Qt's forms: its event dispatcher's ("The X11 connection broke
    // (error 1). Did the X11 server die?") and Xlib's I/O error handler's
    // ("The X11 connection broke: I/O error (code 1)").
    return message.startsWith(QLatin1String("The X11 connection broke"));
}

DisplayLossWatch::DisplayLossWatch(std::function<void()> ending) : ending_(std::move(ending)) {
    current.store(this);
    previous.store(qInstallMessageHandler(&DisplayLossWatch::onMessage));
}

DisplayLossWatch::~DisplayLossWatch() {
    qInstallMessageHandler(previous.load());
    current.store(nullptr);
}

void DisplayLossWatch::onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // Qt never hands over no handler: its own default stands for none.
    if (const QtMessageHandler before = previous.load()) before(type, context, message);
    DisplayLossWatch* watch = current.load();
    // Qt says it on the GUI thread, which the model and the windows are
    // on; whatever Qt says from here on goes straight to standard error.
    if (!watch || !saysDisplayLost(message) || !onGuiThread() || watch->ended_) return;
    watch->ended_ = true;
    watch->ending_();
}

std::string describeDisplayLoss(const DisplayLossAccount& account) {
    std::string line = "The display was lost";
    if (account.recordingFor) {
        line += " during a recording of " + std::to_string(account.recordingFor->count()) + " s";
    }
    // The take first, then each notice once, in the order it first came,
    // with its count.
    std::vector<std::pair<std::string, int>> said;
    // A take left unfinished is the one whose movies the shutdown
    // finished, if it finished one: each said once, with what it lacks.
    for (const std::string& left : account.leftToRebuild) said.emplace_back(left, 1);
    if (account.leftToRebuild.empty() && account.take) {
        said.emplace_back("the screen take in " + account.take->string(), 1);
    }
    for (const std::string& notice : account.notices) {
        auto found = std::find_if(said.begin(), said.end(), [&](const auto& entry) { return entry.first == notice; });
        if (found == said.end()) {
            said.emplace_back(notice, 1);
        } else {
            ++found->second;
        }
    }
    if (said.empty()) {
        // A recording whose end the shutdown did not see (its own bound
        // came first) may still have been completed by the teardown.
        if (account.recordingFor) {
            line += "; its end was not reported before ending";
        } else if (account.finished) {
            line += "; nothing was left to save";
        }
    } else {
        line += "; before ending: ";
        for (size_t i = 0; i < said.size(); ++i) {
            if (i > 0) line += ", ";
            line += said[i].first;
            if (said[i].second > 1) line += " (" + std::to_string(said[i].second) + " times)";
        }
    }
    if (!account.finished) line += "; the shutdown did not finish in time";
    return line + "; ending with status 1";
}

}  // namespace lumenhollow
