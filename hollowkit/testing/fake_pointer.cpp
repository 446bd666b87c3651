#include "hollowkit/testing/fake_pointer.h"

namespace hollowkit {

void FakePointerService::set(int32_t rootX, int32_t rootY, bool leftButtonDown) {
    MutexLock lock(mutex_);
    state_.rootX = rootX;
    state_.rootY = rootY;
    state_.leftButtonDown = leftButtonDown;
}

void FakePointerService::setOverOwnWindow(bool over) {
    MutexLock lock(mutex_);
    state_.overOwnWindow = over;
}

void FakePointerService::setAvailable(bool available) {
    MutexLock lock(mutex_);
    available_ = available;
}

int FakePointerService::queryCount() const {
    MutexLock lock(mutex_);
    return queries_;
}

std::optional<PointerState> FakePointerService::query() {
    MutexLock lock(mutex_);
    ++queries_;
    if (!available_) return std::nullopt;
    return state_;
}

void FakeKeyPressSource::press(TimePoint time) {
    MutexLock lock(mutex_);
    if (started_) last_ = time;
}

void FakeKeyPressSource::setAvailable(bool available) {
    MutexLock lock(mutex_);
    available_ = available;
}

bool FakeKeyPressSource::started() const {
    MutexLock lock(mutex_);
    return started_;
}

int FakeKeyPressSource::startCount() const {
    MutexLock lock(mutex_);
    return starts_;
}

bool FakeKeyPressSource::start() {
    MutexLock lock(mutex_);
    ++starts_;
    last_.reset();
    if (!available_) return false;
    started_ = true;
    return true;
}

void FakeKeyPressSource::stop() {
    MutexLock lock(mutex_);
    started_ = false;
}

std::optional<TimePoint> FakeKeyPressSource::lastKeyDown() const {
    MutexLock lock(mutex_);
    return last_;
}

void FakeButtonPressSource::change(TimePoint time, bool down, std::optional<RootPoint> at,
                                   std::optional<bool> overApp) {
    MutexLock lock(mutex_);
    if (started_) changes_.push_back({time, down, at, overApp});
}

void FakeButtonPressSource::setAvailable(bool available) {
    MutexLock lock(mutex_);
    available_ = available;
}

void FakeButtonPressSource::lose() {
    MutexLock lock(mutex_);
    lost_ = true;
}

bool FakeButtonPressSource::started() const {
    MutexLock lock(mutex_);
    return started_;
}

bool FakeButtonPressSource::start() {
    MutexLock lock(mutex_);
    changes_.clear();
    lost_ = false;
    if (!available_) return false;
    started_ = true;
    return true;
}

void FakeButtonPressSource::stop() {
    MutexLock lock(mutex_);
    started_ = false;
}

std::optional<std::vector<ButtonChange>> FakeButtonPressSource::takeChanges() {
    MutexLock lock(mutex_);
    if (lost_) return std::nullopt;
    std::vector<ButtonChange> taken;
    taken.swap(changes_);
    return taken;
}

}  // namespace hollowkit
