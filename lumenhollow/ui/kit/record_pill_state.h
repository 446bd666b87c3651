#pragma once

// What the record pill shows, decided from the model's state and the time of
// drawing: the status text, the tooltip, whether it takes clicks, its
// opacity, the recording look (tint and stop square) and the target chip.

#include <optional>
#include <string>

#include "hollowkit/base/clock.h"
#include "lumenhollow/model/model_types.h"
#include "lumenhollow/model/published_state.h"

namespace lumenhollow::ui {

// The model's values the pill reads; `supportsCardRecording` is the active
// camera's, which the model does not publish.
struct RecordPillInputs {
    bool hasPicture = false;
    std::optional<float> composeProgress;
    bool isStartingScreen = false;
    std::optional<hollowkit::WallTime> recordingStarted;
    std::optional<int> countdownRemaining;
    bool recordScreen = false;
    RecordTarget recordTarget = RecordTarget::mac;
    bool supportsCardRecording = false;

    bool operator==(const RecordPillInputs&) const = default;
};

RecordPillInputs recordPillInputs(const PublishedState& state, bool supportsCardRecording);

enum class RecordChip { none, screen, card };

struct RecordChipLook {
    const char* title;
    const char* symbol;
    const char* tooltip;
};
// The chip's face; `none` has empty texts.
RecordChipLook recordChipLook(RecordChip chip);

struct RecordPillState {
    std::string text;
    double textOpacity = 1.0;
    std::string tooltip;
    bool enabled = false;
    double opacity = 1.0;
    bool recording = false;  // accent tint and the white stop square
    RecordChip chip = RecordChip::none;
    bool ticking = false;  // the text changes with time alone (once a second)

    bool operator==(const RecordPillState&) const = default;
};

RecordPillState recordPill(const RecordPillInputs& inputs, hollowkit::WallTime now);

// Elapsed recording time: whole seconds (fraction dropped), "mm:ss" below an
// hour, "h:mm:ss" from then on. Negative or not-a-number shows "00:00".
std::string formatElapsed(double seconds);

}  // namespace lumenhollow::ui
