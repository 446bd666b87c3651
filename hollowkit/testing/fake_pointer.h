#pragma once

// Fakes of the cursor recorder's services: FakePointerService answers with
// the pointer state the test set (or nothing, as a lost display would),
// FakeKeyPressSource reports the key-down times the test presses, and
// FakeButtonPressSource the button changes the test makes. Thread-safe.

#include <cstdint>
#include <optional>

#include "hollowkit/base/mutex.h"
#include "hollowkit/recording/button_press_source.h"
#include "hollowkit/recording/key_press_source.h"
#include "hollowkit/recording/pointer_service.h"

namespace hollowkit {

class FakePointerService final : public PointerService {
public:
    void set(int32_t rootX, int32_t rootY, bool leftButtonDown = false);
    // Whether the top-level window under the pointer is this process's.
    void setOverOwnWindow(bool over);
    // query() answers nothing while unavailable.
    void setAvailable(bool available);
    int queryCount() const;

    std::optional<PointerState> query() override;

private:
    mutable Mutex mutex_;
    PointerState state_ HK_GUARDED_BY(mutex_);
    bool available_ HK_GUARDED_BY(mutex_) = true;
    int queries_ HK_GUARDED_BY(mutex_) = 0;
};

class FakeKeyPressSource final : public KeyPressSource {
public:
    // A key went down at `time` (counted only while started).
    void press(TimePoint time);
    // start() answers this.
    void setAvailable(bool available);
    bool started() const;
    int startCount() const;

    bool start() override;
    void stop() override;
    std::optional<TimePoint> lastKeyDown() const override;

private:
    mutable Mutex mutex_;
    bool available_ HK_GUARDED_BY(mutex_) = true;
    bool started_ HK_GUARDED_BY(mutex_) = false;
    int starts_ HK_GUARDED_BY(mutex_) = 0;
    std::optional<TimePoint> last_ HK_GUARDED_BY(mutex_);
};

class FakeButtonPressSource final : public ButtonPressSource {
public:
    // The button went down or up at `time`, where the pointer was `at`,
    // over the app's windows or not (kept only while started).
    void change(TimePoint time, bool down, std::optional<RootPoint> at = std::nullopt,
                std::optional<bool> overApp = std::nullopt);
    // start() answers this.
    void setAvailable(bool available);
    // From now on the button cannot be heard (the display went away).
    void lose();
    bool started() const;

    bool start() override;
    void stop() override;
    std::optional<std::vector<ButtonChange>> takeChanges() override;

private:
    mutable Mutex mutex_;
    bool available_ HK_GUARDED_BY(mutex_) = true;
    bool started_ HK_GUARDED_BY(mutex_) = false;
    bool lost_ HK_GUARDED_BY(mutex_) = false;
    std::vector<ButtonChange> changes_ HK_GUARDED_BY(mutex_);
};

}  // namespace hollowkit
