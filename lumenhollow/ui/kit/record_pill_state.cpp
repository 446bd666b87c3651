#include "lumenhollow/ui/kit/record_pill_state.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow::ui {

namespace {

// A progress of 0.29 stored as a float is 0.28999999; a plain floor of ×100
// would show 28%. Rounding noise this small never changes a real figure.
constexpr double kPercentSlack = 1e-4;

// Longer than any real recording; keeps the conversion to an integer defined.
constexpr double kElapsedCeiling = 1e9;

}  // namespace

RecordPillInputs recordPillInputs(const PublishedState& state, bool supportsCardRecording) {
    RecordPillInputs inputs;
    inputs.hasPicture = state.stats && state.stats->hasPicture;
    inputs.composeProgress = state.composeProgress;
    inputs.isStartingScreen = state.isStartingScreen;
    inputs.recordingStarted = state.recordingStarted;
    inputs.countdownRemaining = state.countdownRemaining;
    inputs.recordScreen = state.recordScreen;
    inputs.recordTarget = state.recordTarget;
    inputs.supportsCardRecording = supportsCardRecording;
    return inputs;
}

RecordChipLook recordChipLook(RecordChip chip) {
    switch (chip) {
        case RecordChip::screen:
            return {"SCREEN", "inset.filled.bottomright.rectangle",
                    "Records your screen with the camera in a corner"};
        case RecordChip::card:
            return {"SD", "sdcard.fill", "Records to the camera's microSD card"};
        case RecordChip::none: break;
    }
    return {"", "", ""};
}

std::string formatElapsed(double seconds) {
    if (!(seconds >= 0)) seconds = 0;  // also not-a-number
    const auto t = static_cast<int64_t>(std::min(seconds, kElapsedCeiling));
    char text[32];
    if (t >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(t / 3600),
                      static_cast<int>((t / 60) % 60), static_cast<int>(t % 60));
    } else {
        std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(t / 60), static_cast<int>(t % 60));
    }
    return text;
}

RecordPillState recordPill(const RecordPillInputs& in, hollowkit::WallTime now) {
    RecordPillState pill;
    const bool recording = in.recordingStarted.has_value();
    const bool busy = recording || in.isStartingScreen || in.composeProgress.has_value();

    pill.enabled = !in.composeProgress && (in.hasPicture || busy);
    pill.opacity = (in.hasPicture || busy) ? 1.0 : 0.45;
    pill.recording = recording;
    pill.tooltip = withShortcut(recording ? "Stop recording" : "Start recording", recordShortcut());

    if (in.composeProgress) {
        const double p = std::clamp(static_cast<double>(*in.composeProgress), 0.0, 1.0);
        pill.text = "Saving " + std::to_string(static_cast<int>(std::floor(p * 100.0 + kPercentSlack))) + "%";
    } else if (in.isStartingScreen) {
        pill.text = "Starting";
    } else if (recording) {
        pill.text = formatElapsed(std::chrono::duration<double>(now - *in.recordingStarted).count());
        pill.ticking = true;
    } else if (in.countdownRemaining) {
        pill.text = "Starts in " + std::to_string(*in.countdownRemaining);
    } else {
        pill.text = "00:00";
        pill.textOpacity = 0.85;
    }

    if (in.recordScreen) {
        pill.chip = RecordChip::screen;
    } else if (in.supportsCardRecording && in.recordTarget == RecordTarget::camera) {
        pill.chip = RecordChip::card;
    }
    return pill;
}

}  // namespace lumenhollow::ui
