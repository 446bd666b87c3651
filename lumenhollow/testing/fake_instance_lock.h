#pragma once

// FakeInstanceLock: an InstanceLock whose other side the test plays: the
// lock free or held by another program, that program answering or not, the
// program that relaunched this one still running or not. Each pause moves
// the test's ManualClock on by a tenth of a second and then makes the
// change the test set for it, so a wait runs in virtual time with its
// order fixed. Once served, a later start's request is
// askToComeForward(). The test's thread only.

#include <functional>
#include <map>

#include "hollowkit/testing/manual_clock.h"
#include "lumenhollow/platform/instance_lock.h"

namespace lumenhollow {

class FakeInstanceLock final : public InstanceLock {
public:
    explicit FakeInstanceLock(hollowkit::ManualClock& clock) : clock_(clock) {}

    // The other side.
    void setHeldElsewhere(bool held) { heldElsewhere_ = held; }
    void setHolderAnswers(bool answers) { holderAnswers_ = answers; }
    void setRunning(int pid, bool running) { running_[pid] = running; }
    // Runs `change` at the `n`th pause (the first is 1), after the clock moved.
    void atPause(int n, std::function<void(FakeInstanceLock&)> change) { atPause_[n] = std::move(change); }

    bool holds() const { return holds_; }
    int takes() const { return takes_; }
    int asks() const { return asks_; }
    int pauses() const { return pauses_; }

    // A later start's request to this process, as the backend's thread
    // delivers it; whether it was answered.
    bool askToComeForward() {
        if (!serving_ || !comeForward_) return false;
        comeForward_();
        return true;
    }
    bool serving() const { return serving_; }

    bool tryTake() override {
        ++takes_;
        holds_ = holds_ || !heldElsewhere_;
        return holds_;
    }
    bool askHolderToComeForward() override {
        ++asks_;
        return heldElsewhere_ && holderAnswers_;
    }
    bool processRunning(int pid) const override {
        const auto found = running_.find(pid);
        return found != running_.end() && found->second;
    }
    void pause() override {
        ++pauses_;
        clock_.advance(std::chrono::milliseconds(100));
        if (const auto found = atPause_.find(pauses_); found != atPause_.end()) found->second(*this);
    }
    void serve(std::function<void()> comeForward) override {
        comeForward_ = std::move(comeForward);
        serving_ = holds_;
    }
    void stopServing() override { serving_ = false; }

private:
    hollowkit::ManualClock& clock_;
    bool heldElsewhere_ = false;
    bool holderAnswers_ = false;
    std::map<int, bool> running_;
    std::map<int, std::function<void(FakeInstanceLock&)>> atPause_;
    bool holds_ = false;
    int takes_ = 0;
    int asks_ = 0;
    int pauses_ = 0;
    bool serving_ = false;
    std::function<void()> comeForward_;
};

}  // namespace lumenhollow
