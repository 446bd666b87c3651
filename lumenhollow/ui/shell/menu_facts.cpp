#include "lumenhollow/ui/shell/menu_facts.h"

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

MenuFacts menuFacts(CameraModel& model, bool canCheckForUpdates) {
    const PublishedState& state = model.state();
    MenuFacts facts;
    // Absent statistics count as no picture.
    facts.livePicture = state.stats.has_value() && state.stats->hasPicture;
    facts.positioning = model.camera().supportsPositioning();
    facts.recording = model.isRecording();
    facts.busy = model.isBusy();
    facts.faceTracking = state.faceTracking;
    facts.recordScreen = state.recordScreen;
    facts.canCheckForUpdates = canCheckForUpdates;
    facts.connection = state.connection;
    facts.statusText = state.statusText;
    if (state.battery) facts.batteryPercent = state.battery->percent;
    facts.zoomRangeKnown = state.zoomRange.has_value();
    facts.sceneNames.reserve(state.scenes.size());
    for (const CameraScene& scene : state.scenes) facts.sceneNames.push_back(scene.name);
    return facts;
}

}  // namespace lumenhollow
