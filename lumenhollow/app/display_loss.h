#pragma once

// DisplayLossWatch: the X server going away under the running application.
// Qt's X11 backend says "The X11 connection broke" and then ends the
// process itself with exit(1), from the GUI thread inside its event
// dispatcher, so neither the event loop nor a return from main is left for
// an ending; and exit() runs the static destructors under threads still at
// work, which aborts (OpenCV's per-thread data goes first). The watch is a
// Qt message handler: it passes every message on to the handler before it
// and, when Qt says the connection broke, runs the application's ending
// right there, before Qt's exit. The ending is meant not to return.
//
// One at a time, made on the GUI thread once the QApplication exists; the
// handler before it is back once it is gone.

#include <QString>
#include <QtGlobal>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumenhollow {

// Whether a message from Qt says that the connection to the X server broke
// (Qt ends the process once it has said it).
bool saysDisplayLost(const QString& message);

class DisplayLossWatch {
public:
    // `ending` runs once, on the GUI thread, when the display is lost.
    explicit DisplayLossWatch(std::function<void()> ending);
    ~DisplayLossWatch();
    DisplayLossWatch(const DisplayLossWatch&) = delete;
    DisplayLossWatch& operator=(const DisplayLossWatch&) = delete;

private:
    static void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

    std::function<void()> ending_;
    bool ended_ = false;  // GUI thread
};

// What the ending after a lost display did, for its log line.
struct DisplayLossAccount {
    // How long a recording (a movie or a take) had run when the display
    // went; nothing when none ran.
    std::optional<std::chrono::seconds> recordingFor;
    // The notices the shutdown gave, in order ("Video saved", "Photo saved",
    // a failure's sentence).
    std::vector<std::string> notices;
    // The folder of a screen take whose files the shutdown finished.
    std::optional<std::filesystem::path> take;
    // False when the shutdown did not reply within its bound.
    bool finished = true;
    // What the shutdown said of each take it left unfinished: its movies
    // still being completed, or its combined movie left to a rebuild
    // (CameraModel::leftToRebuild).
    std::vector<std::string> leftToRebuild;

    bool operator==(const DisplayLossAccount&) const = default;
};

// The log line of that ending: that the display was lost, what ran then and
// what the shutdown saved (the take's folder, or each take it left
// unfinished, each notice once with how often it came).
std::string describeDisplayLoss(const DisplayLossAccount& account);

}  // namespace lumenhollow
