#pragma once

// FakeInstanceLock: an InstanceLock whose other side the test plays: the
// lock free or held by another program, that program answering, refusing
// (ending) or silent, stopped or not, the program that relaunched this one
// still running or not, a termination signal come or not. Each pause moves
// the test's ManualClock on by a tenth of a second and then makes the
// change the test set for it; a silent holder keeps a request for its whole
// limit. So a wait runs in virtual time with its order fixed. A wait that
// never gives up ends at the `kPauseBound`th pause as on a signal, so its
// test fails instead of hanging. Once taken, a later start's request is
// askToComeForward(). The test's thread only.

#include <functional>
#include <map>
#include <optional>

#include "hollowkit/testing/manual_clock.h"
#include "lumenhollow/platform/instance_lock.h"

namespace lumenhollow {

class FakeInstanceLock final : public InstanceLock {
public:
    // Far more pauses than any wait of a start takes (a tenth of a second
    // each: over two hours).
    static constexpr int kPauseBound = 100000;

    explicit FakeInstanceLock(hollowkit::ManualClock& clock) : clock_(clock) {}

    // The other side.
    void setHeldElsewhere(bool held) { heldElsewhere_ = held; }
    // What the holder answers: cameForward, refused or silent.
    void setHolderReply(HolderReply reply) { holderReply_ = reply; }
    // The process holding the lock while it is held elsewhere.
    void setHolderPid(std::optional<int> pid) { holderPid_ = pid; }
    void setRunning(int pid, bool running) { running_[pid] = running; }
    void setStopped(int pid, bool stopped) { stopped_[pid] = stopped; }
    // A termination signal: every wait from now on ends at once.
    void setSignalled(bool signalled) { signalled_ = signalled; }
    // Runs `change` at the `n`th pause (the first is 1), after the clock moved.
    void atPause(int n, std::function<void(FakeInstanceLock&)> change) { atPause_[n] = std::move(change); }

    bool holds() const { return holds_; }
    int takes() const { return takes_; }
    int asks() const { return asks_; }
    int pauses() const { return pauses_; }

    // A later start's request to this process, as the backend's thread
    // delivers it; whether it was answered. One before serve() is kept.
    bool askToComeForward() {
        if (!holds_ || stoppedServing_) return false;
        if (comeForward_) {
            comeForward_();
        } else {
            pending_ = true;
        }
        return true;
    }
    bool serving() const { return holds_ && !stoppedServing_; }

    bool tryTake() override {
        ++takes_;
        holds_ = holds_ || !heldElsewhere_;
        return holds_;
    }
    HolderReply askHolderToComeForward(hollowkit::Duration limit) override {
        ++asks_;
        if (signalled_) return HolderReply::interrupted;
        if (!heldElsewhere_) return HolderReply::refused;
        if (holderReply_ == HolderReply::silent) clock_.advance(limit);
        return holderReply_;
    }
    std::optional<int> holderPid() const override { return heldElsewhere_ ? holderPid_ : std::nullopt; }
    bool heldBy(int pid) const override { return heldElsewhere_ && holderPid_ == pid && processRunning(pid); }
    bool processRunning(int pid) const override {
        const auto found = running_.find(pid);
        return found != running_.end() && found->second;
    }
    bool processStopped(int pid) const override {
        const auto found = stopped_.find(pid);
        return processRunning(pid) && found != stopped_.end() && found->second;
    }
    bool pause() override {
        if (signalled_ || pauses_ >= kPauseBound) return false;
        ++pauses_;
        clock_.advance(std::chrono::milliseconds(100));
        if (const auto found = atPause_.find(pauses_); found != atPause_.end()) found->second(*this);
        return !signalled_;
    }
    void serve(std::function<void()> comeForward) override {
        if (!holds_ || stoppedServing_) return;
        comeForward_ = std::move(comeForward);
        if (pending_) {
            pending_ = false;
            comeForward_();
        }
    }
    void stopServing() override {
        stoppedServing_ = holds_;
        comeForward_ = nullptr;
    }

private:
    hollowkit::ManualClock& clock_;
    bool heldElsewhere_ = false;
    HolderReply holderReply_ = HolderReply::silent;
    std::optional<int> holderPid_;
    std::map<int, bool> running_;
    std::map<int, bool> stopped_;
    bool signalled_ = false;
    std::map<int, std::function<void(FakeInstanceLock&)>> atPause_;
    bool holds_ = false;
    int takes_ = 0;
    int asks_ = 0;
    int pauses_ = 0;
    bool pending_ = false;
    bool stoppedServing_ = false;
    std::function<void()> comeForward_;
};

}  // namespace lumenhollow
