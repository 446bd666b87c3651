// CameraModel: composing a take's "Combined.mov", its progress and notice,
// and rebuilding a take (the last one, or a folder the user picks) with the
// current bubble, codec and zoom choice.
//
// Each composition has its own number: a progress report of another one
// (late, or from before a rebuild) is dropped, and progress never goes back.
// The composer writes under a temporary name, so a rebuild that fails keeps
// the previous "Combined.mov".
//
// A take's folder is held from its making, a rebuilt one from its choice:
// the composition works in it wherever it is moved meanwhile, and what is
// revealed and remembered afterwards is where the folder is then. It is let
// go when the composition ends. A folder removed meanwhile (deleted, or
// moved to another disk) ends the composition, and the notice says so
// rather than that the take's files were saved.

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/zoom_planner.h"
#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

constexpr const char* kComposedNotice = "Screen recording saved";
constexpr const char* kComposeFailedPrefix = "Screen and camera files saved. ";
constexpr const char* kTakeFolderRemoved =
    "The take's folder was removed or moved to another disk, so its combined video was not made.";
constexpr const char* kNotATake = "That folder has no Screen.mov and Camera.mov to combine";
constexpr const char* kRebuildPrompt = "Rebuild";
constexpr const char* kRebuildMessage = "Choose a Lumenhollow Screen Recording folder to rebuild its combined video";

}  // namespace

void CameraModel::composeScreenTake(hollowkit::ComposeRequest request, std::function<void()> completion) {
    const uint64_t composition = ++takes_.lastComposeId;
    takes_.composeId = composition;
    takes_.composeCompletion = std::move(completion);
    takes_.composing = ScreenTake::whereNow(ScreenTake{request.output.parent_path()}, request.folder);
    takes_.composingFolder = request.folder;
    takes_.composer = services_.takeComposers ? services_.takeComposers() : makeScreenComposer(main_);
    const std::filesystem::path screen = request.screen;
    takes_.composer->compose(
        std::move(request),
        [weak = weak_from_this(), composition](float value) {
            if (auto self = weak.lock()) self->reportComposeProgress(composition, value);
        },
        [weak = weak_from_this(), composition,
         screen](hollowkit::Result<std::filesystem::path, hollowkit::ComposeError> result) {
            if (auto self = weak.lock()) self->composeEnded(composition, result, screen);
        });
}

void CameraModel::reportComposeProgress(uint64_t composition, float value) {
    if (composition != takes_.composeId || !state_.composeProgress) return;
    const float shown = std::clamp(value, 0.0F, 1.0F);
    if (shown < *state_.composeProgress) return;
    publish<Field::composeProgress>(shown);
}

void CameraModel::composeEnded(uint64_t composition,
                               const hollowkit::Result<std::filesystem::path, hollowkit::ComposeError>& result,
                               const std::filesystem::path& screen) {
    if (composition != takes_.composeId) return;
    takes_.composeId = 0;
    // Moved while it was composed: remembered and shown where it is now.
    const ScreenTake now = ScreenTake::whereNow(takes_.composing, takes_.composingFolder);
    if (now != takes_.composing && state_.lastScreenTake == takes_.composing.folder) setLastScreenTake(now.folder);
    // Let go: a folder on a removable disk can be unmounted once its take
    // is made.
    takes_.composingFolder = {};
    if (result) {
        noticeAndReveal(kComposedNotice, now.folder / result.value().filename());
    } else if (result.error().kind == hollowkit::ComposeError::Kind::folderRemoved) {
        // Nothing of the take is left where it was to be shown.
        postNotice(kTakeFolderRemoved);
    } else {
        noticeAndReveal(kComposeFailedPrefix + result.error().userMessage(), now.folder / screen.filename());
    }
    // Not from inside its own completion.
    main_.post([done = std::shared_ptr<TakeComposer>(std::move(takes_.composer))] {});
    endTakeWork(std::exchange(takes_.composeCompletion, nullptr));
}

void CameraModel::stopCompositionForQuit() {
    const uint64_t composition = takes_.composeId;
    if (composition == 0) return;
    hollowkit::PocketLog::logf("%s was not made within %.0f s; the quit stops its composition",
                               ScreenTake::whereNow(takes_.composing, takes_.composingFolder).combinedURL().c_str(),
                               std::chrono::duration<double>(kRecordingFinishLimit).count());
    // Stops it at its next frame and waits for it: what it wrote goes, and
    // Combined.mov is left as it was. A result it had made by then is
    // already posted and comes first; only without one is the take left.
    takes_.composer.reset();
    main_.post([weak = weak_from_this(), composition] {
        const std::shared_ptr<CameraModel> self = weak.lock();
        if (!self || self->takes_.composeId != composition) return;
        self->takes_.composeId = 0;
        self->leaveTakeToRebuild(ScreenTake::whereNow(self->takes_.composing, self->takes_.composingFolder));
        self->takes_.composingFolder = {};
        self->endTakeWork(std::exchange(self->takes_.composeCompletion, nullptr));
    });
}

void CameraModel::leaveTakeToRebuild(const ScreenTake& take) {
    noteTakeLeft(take.folder, takeLeftToRebuild(take));
}

void CameraModel::noteTakeLeft(const std::filesystem::path& folder, std::string text) {
    hollowkit::PocketLog::log("Quitting: " + text);
    auto& left = takes_.leftToRebuild;
    const auto same = std::find_if(left.begin(), left.end(), [&](const auto& entry) { return entry.first == folder; });
    if (same == left.end()) {
        left.emplace_back(folder, std::move(text));
    } else {
        same->second = std::move(text);
    }
}

std::vector<std::string> CameraModel::leftToRebuild() const {
    std::vector<std::string> said;
    for (const auto& entry : takes_.leftToRebuild) said.push_back(entry.second);
    return said;
}

void CameraModel::noticeAndReveal(std::string outcome, const std::filesystem::path& file) {
    postNotice(outcome);
    // A file manager opened while the application quits (at logout, say)
    // would be left on the desktop with nobody asking for it.
    if (shutdown_.quitRequested) return;
    revealOutcome_.emplace(std::filesystem::absolute(file).lexically_normal().parent_path(), std::move(outcome));
    services_.desktop.revealFile(file);
}

void CameraModel::rebuildScreenTake(const std::filesystem::path& folder) {
    if (isRecording() || state_.isStartingScreen || state_.composeProgress) return;
    const ScreenTake take{folder};
    // Held from the choice, like a take's own folder from its making: every
    // file is read and Combined.mov written in it wherever it goes meanwhile.
    auto opened = hollowkit::HeldFolder::open(folder);
    if (!opened || !ScreenTake::through(*opened).hasScreenAndCamera()) {
        postNotice(kNotATake);
        return;
    }
    const hollowkit::HeldFolder held = std::move(opened).value();
    const ScreenTake files = ScreenTake::through(held);
    std::optional<hollowkit::CursorTimeline> timeline;
    if (auto loaded = hollowkit::CursorTimeline::load(files.cursorURL())) {
        timeline = std::move(loaded.value());
    } else {
        hollowkit::PocketLog::log("Rebuilding without the pointer timeline: " + loaded.error());
    }
    const bool autoZoom = state_.autoZoom;
    publish<Field::composeProgress>(0.0F);
    holdRecordingActivity();
    if (!autoZoom || !timeline) {
        main_.post([weak = weak_from_this(), take, held] {
            if (auto self = weak.lock()) self->continueRebuild(take, held, {});
        });
        return;
    }
    // The zoom is planned over the screen movie's length, and reading that
    // waits on the disk: a worker reads it and plans, the main executor
    // goes on meanwhile.
    if (!takes_.lengthQueue) takes_.lengthQueue = std::make_unique<hollowkit::SerialQueue>("Lumenhollow.MovieLength");
    MovieLengthProbe probe = services_.movieLengths ? services_.movieLengths : MovieLengthProbe(readMovieSeconds);
    takes_.lengthQueue->post([probe = std::move(probe), main = &main_, weak = weak_from_this(), take, held,
                              screen = files.screenURL(), timeline = std::move(*timeline)]() mutable {
        const double read = probe(screen);
        const double seconds = read > 0 ? read : 0;  // also for a probe answering NaN
        // Moved on, so the folder is held by the rebuild alone, not by
        // this task while its queue lets go of it.
        main->post([weak, take, held = std::move(held),
                    zoom = hollowkit::ZoomPlanner::plan(timeline, seconds)]() mutable {
            if (auto self = weak.lock()) self->continueRebuild(take, held, std::move(zoom));
        });
    });
}

void CameraModel::continueRebuild(const ScreenTake& take, const hollowkit::HeldFolder& folder,
                                  hollowkit::ZoomPath zoom) {
    if (isTerminating()) {
        // A composition started now would be cut off by the quit.
        leaveTakeToRebuild(ScreenTake::whereNow(take, folder));
        endTakeWork({});
        return;
    }
    hollowkit::ComposeRequest request;
    request.zoom = std::move(zoom);
    setLastScreenTake(ScreenTake::whereNow(take, folder).folder);
    request.cameraFrames = hollowkit::FrameSizeChange::loadAll(ScreenTake::through(folder).cameraFramesURL())
                               .value_or(std::vector<hollowkit::FrameSizeChange>{});
    request.screen = take.screenURL();
    request.camera = take.cameraURL();
    request.output = take.combinedURL();
    request.style = state_.bubbleStyle;
    request.codec = state_.codec;
    request.folder = folder;
    composeScreenTake(std::move(request), {});
}

void CameraModel::chooseTakeToRebuild() {
    if (!services_.filePicker) return;
    FolderChoiceRequest request;
    request.startFolder = outputFolder_;
    request.prompt = kRebuildPrompt;
    request.message = kRebuildMessage;
    services_.filePicker->chooseFolder(std::move(request), [weak = weak_from_this()](
                                                              std::optional<std::filesystem::path> folder) {
        if (!folder) return;
        if (auto self = weak.lock()) self->rebuildScreenTake(*folder);
    });
}

}  // namespace lumenhollow
