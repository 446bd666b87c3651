#pragma once

// The model's level meter run as the application runs it, a new level on
// every tick, so each of the 15 ticks a second publishes the audio level:
// the busiest field, which no view but the microphone's meter shows.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "../model/model_harness.h"
#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow::test {

// How many subscriptions of `signals` were called during `ticks` ticks of
// the meter (the meter's start is not counted).
inline uint64_t deliveriesDuringLevelMeter(ModelHarness& h, const ModelSignals& signals, int ticks = 15) {
    h.model->startTimers();
    h.main.runUntilIdle();
    const uint64_t before = signals.deliveries();
    for (int i = 0; i < ticks; ++i) {
        const float level = -40.0f + static_cast<float>(i);
        h.camera()->setAudioLevel(level);
        h.main.advance(CameraModel::kAudioLevelInterval);
        EXPECT_EQ(h.state().audioLevel, std::optional<float>(level)) << "tick " << i << " published no level";
    }
    const uint64_t heard = signals.deliveries() - before;
    h.model->stopTimers();
    return heard;
}

}  // namespace lumenhollow::test
