#include "lumenhollow/app/run_report.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/window/quit_notice.h"

namespace lumenhollow {
namespace {

const char* guideName(GuideKind kind) {
    switch (kind) {
        case GuideKind::grid: return "grid";
        case GuideKind::horizon: return "horizon";
        case GuideKind::vertical: return "vertical";
    }
    return "";
}

template <typename T>
nlohmann::json optionalJson(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json rectJson(const std::optional<ReportRect>& rect) {
    if (!rect) return nullptr;
    return nlohmann::json{{"x", rect->x}, {"y", rect->y}, {"width", rect->width}, {"height", rect->height}};
}


}  // namespace

void replaceReportFile(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    FILE* file = std::fopen(partial.c_str(), "w");
    if (!file) return;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) return;
    std::error_code error;
    std::filesystem::rename(partial, path, error);
}

std::optional<std::string> takeEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    std::string taken = value;
    ::unsetenv(name);
    return taken;
}

std::string runReportText(const CameraModel& model, const RunReportSources& sources, uint64_t sample) {
    const PublishedState& state = model.state();
    nlohmann::json report;
    report["sample"] = sample;
    report["connection"] = state.connection == ConnectionMode::usb ? "usb" : "wireless";
    report["picture"] = state.stats.has_value() && state.stats->hasPicture;
    report["status"] = state.statusText;
    report["failure"] = optionalJson(state.failure);
    report["cameraOff"] = state.cameraOff;
    report["notice"] = optionalJson(state.notice);
    // What the window's notice capsule says while a quit waits.
    report["quitting"] = optionalJson(quitNotice(state.quitProgress));
    report["photos"] = model.unfinishedPhotos();
    report["photoWaitsForFrame"] = model.photoWaitsForFrame();
    report["recording"] = state.recordingStarted.has_value();
    report["recordTarget"] = state.recordTarget == RecordTarget::camera ? "camera" : "computer";
    report["cardRecording"] = state.cardRecording.has_value() && state.cardRecording->isRecording;
    report["countdown"] = optionalJson(state.countdownRemaining);
    report["welcome"] = state.showWelcome;
    report["shortcuts"] = state.showShortcuts;
    report["usbGuide"] = state.showUSBGuide;
    report["scenesSheet"] = state.showScenes;
    report["scenes"] = state.scenes.size();
    report["cameraSettings"] = state.showCameraSettings;
    report["screenOptions"] = state.showScreenOptions;
    report["faceTracking"] = state.faceTracking;
    report["trackedFace"] = state.trackedFace.has_value();
    report["trackedFaceCentre"] = state.trackedFace ? nlohmann::json{state.trackedFace->midX(), state.trackedFace->midY()}
                                                    : nlohmann::json(nullptr);
    report["microphone"] =
        state.activeMicrophone ? nlohmann::json(state.activeMicrophone->name) : nlohmann::json(nullptr);
    report["zoom"] = optionalJson(state.zoom);
    report["audioLevel"] = optionalJson(state.audioLevel);
    report["look"] = state.selectedLUT ? nlohmann::json(state.selectedLUT->name) : nlohmann::json(nullptr);
    nlohmann::json guides = nlohmann::json::array();
    for (const GuideKind kind : state.guides) guides.push_back(guideName(kind));
    report["guides"] = std::move(guides);
    report["screenTake"] = state.lastScreenTake ? nlohmann::json(state.lastScreenTake->string()) : nullptr;
    report["composing"] = state.composeProgress.has_value();
    report["composeProgress"] = optionalJson(state.composeProgress);
    report["recordScreen"] = state.recordScreen;
    report["screenPermissionHelp"] = state.showScreenPermissionHelp;
    report["startingScreen"] = state.isStartingScreen;
    report["autoZoom"] = state.autoZoom;
    report["bubble"] = {{"corner", hollowkit::toString(state.bubbleStyle.corner)},
                        {"size", hollowkit::toString(state.bubbleStyle.size)},
                        {"shape", hollowkit::toString(state.bubbleStyle.shape)},
                        {"background", hollowkit::toString(state.bubbleStyle.background)}};
    const std::optional<hollowkit::LensPose> pose = sources.pose ? sources.pose() : std::nullopt;
    report["pose"] = pose ? nlohmann::json{{"pan", pose->panDegrees}, {"tilt", pose->tiltDegrees},
                                           {"zoom", pose->zoomPercent}}
                          : nlohmann::json(nullptr);
    report["island"] = sources.islandOpen ? optionalJson(sources.islandOpen()) : nlohmann::json(nullptr);
    // A record that is not JSON must not spoil the report around it.
    nlohmann::json simulated = sources.simulator ? nlohmann::json::parse(sources.simulator(), nullptr, false)
                                                 : nlohmann::json(nullptr);
    report["simulator"] = simulated.is_discarded() ? nlohmann::json(nullptr) : std::move(simulated);
    const std::optional<IslandPlaces> places = sources.islandPlaces ? sources.islandPlaces() : std::nullopt;
    report["islandRect"] = rectJson(places ? std::optional<ReportRect>(places->island) : std::nullopt);
    report["islandPicture"] = rectJson(places ? places->picture : std::nullopt);
    report["islandRecord"] = rectJson(places ? places->record : std::nullopt);
    report["islandSceneChip"] = rectJson(places ? places->firstSceneChip : std::nullopt);
    report["islandWindowButton"] = rectJson(places ? places->windowButton : std::nullopt);
    report["showInNotch"] = state.showInNotch;
    report["closeBehavior"] = state.closeBehavior == CloseBehavior::keepInNotch ? "keepInNotch" : "quit";
    return report.dump() + "\n";
}

void startRunReport(hollowkit::MainExecutor& main, const std::shared_ptr<CameraModel>& model, std::string path,
                    RunReportSources sources) {
    std::weak_ptr<CameraModel> weak = model;
    auto sample = std::make_shared<uint64_t>(0);
    auto task = std::make_shared<hollowkit::TaskId>(0);
    *task = main.every(std::chrono::milliseconds(100),
                       [weak, sample, task, &main, path = std::move(path), sources = std::move(sources)] {
                           auto alive = weak.lock();
                           if (!alive) {
                               main.cancel(*task);
                               return;
                           }
                           replaceReportFile(path, runReportText(*alive, sources, ++*sample));
                       });
}

}  // namespace lumenhollow
