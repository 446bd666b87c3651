#pragma once

// CursorRecorder: samples the mouse pointer 60 times a second during a
// screen-and-camera take: its position normalised to the recorded display,
// the left button, whether it is over one of the app's own windows (as the
// pointer service tells it: by the rule the screen recording leaves them
// out by, a window manager's frame around one counting as the app's), and
// the times of key presses (never which keys). One per take; it lives on the
// main executor, where its timer runs, and every call is made there. The
// window system is reached through the injected services; a sample that
// cannot be taken (the display server went away) is skipped.
//
// The button is told by its own events where they can be heard
// (ButtonPressSource): a press or release between two samples gets a sample
// of its own at its time, where the pointer was when it was heard and over
// the app's windows or not as they were then, so a click during a held-up
// main executor is not lost, moved or taken for one on the app. Where they
// cannot, the samples say what the pointer showed then.

#include <cstdint>
#include <optional>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/recording/button_press_source.h"
#include "hollowkit/recording/cursor_timeline.h"
#include "hollowkit/recording/display_service.h"
#include "hollowkit/recording/key_press_source.h"
#include "hollowkit/recording/pointer_service.h"

namespace hollowkit {

class CursorRecorder {
public:
    // Room kept for ten minutes of samples, so ordinary takes never regrow.
    static constexpr size_t kReservedSamples = 36'000;
    static constexpr Duration kSampleInterval = std::chrono::nanoseconds(1'000'000'000 / 60);
    // A key-down seen more than this long after it happened is not counted
    // (the sampler was held up).
    static constexpr double kKeyWindowSeconds = 0.1;
    // How often the display's bounds are asked again, in samples.
    static constexpr int kBoundsRefreshSamples = 60;

    // A moment on the executor's clock in the timeline's seconds, the scale
    // of every sample and key-press time: the take's start converted here
    // shifts the timeline to count from that start. Any thread.
    static double timelineSeconds(TimePoint time);

    // Starts nothing. The services and `main` must outlive the recorder.
    CursorRecorder(uint32_t displayID, Executor& main, DisplayService& displays, PointerService& pointer,
                   KeyPressSource& keys, ButtonPressSource& buttons);
    // Stops sampling if still running.
    ~CursorRecorder();

    CursorRecorder(const CursorRecorder&) = delete;
    CursorRecorder& operator=(const CursorRecorder&) = delete;

    // Main executor. Takes one sample at once, then one every 1/60 s. Called
    // once; a stopped recorder is not started again.
    void start();
    // Main executor. Ends sampling and returns what was recorded; the
    // recorder keeps its samples.
    CursorTimeline stop();

    uint32_t displayID() const { return displayID_; }
    bool isSampling() const { return timer_ != 0; }
    const std::vector<CursorSample>& samples() const { return samples_; }
    const std::vector<double>& keyPresses() const { return keyPresses_; }
    double lastKeyIdle() const { return lastKeyIdle_; }

private:
    void sample();
    void refreshBounds();
    // Brings the button up to date with `changes`, each change that moves
    // it a sample of its own before `next` (placed between the last sample
    // and `next`), and `next` given the button as it then is.
    void addButtonChanges(const std::vector<ButtonChange>& changes, CursorSample& next);

    const uint32_t displayID_;
    Executor& main_;
    DisplayService& displays_;
    PointerService& pointer_;
    KeyPressSource& keys_;
    ButtonPressSource& buttons_;

    TaskId timer_ = 0;
    bool started_ = false;
    bool listeningToKeys_ = false;
    bool listeningToButtons_ = false;
    // The button as its events tell it; nothing before the first sample.
    std::optional<bool> buttonDown_;
    std::optional<DisplayInfo> bounds_;
    int samplesSinceBounds_ = 0;
    std::vector<CursorSample> samples_;
    std::vector<double> keyPresses_;
    double lastKeyIdle_;
    std::optional<TimePoint> lastSeenKey_;
};

}  // namespace hollowkit
