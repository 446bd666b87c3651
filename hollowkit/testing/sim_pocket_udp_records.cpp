// The simulated camera's configuration and what it recorded, read and set
// by tests from any thread under the simulator's lock.

#include "hollowkit/testing/sim_pocket_udp.h"

#include <utility>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

void SimPocketUdp::setReplyRule(uint8_t cmdSet, uint8_t cmdId, SimReplyRule rule) {
    MutexLock lock(mutex_);
    rules_[DumlFrame::commandKey(cmdSet, cmdId)] = rule;
}

void SimPocketUdp::setFaults(const SimPocketFaults& faults) {
    MutexLock lock(mutex_);
    faults_ = faults;
    random_.seed(faults.seed);
}

SimPocketFaults SimPocketUdp::faults() const {
    MutexLock lock(mutex_);
    return faults_;
}

void SimPocketUdp::setAccessUnits(std::vector<Bytes> accessUnits) {
    MutexLock lock(mutex_);
    accessUnits_ = std::move(accessUnits);
    frameIndex_ = 0;
}

void SimPocketUdp::setBattery(BatteryStatus battery) {
    MutexLock lock(mutex_);
    battery_ = battery;
}

std::optional<uint16_t> SimPocketUdp::sessionId() const {
    MutexLock lock(mutex_);
    return session_;
}

int SimPocketUdp::handshakesReceived() const {
    MutexLock lock(mutex_);
    return handshakes_;
}

int SimPocketUdp::acksReceived() const {
    MutexLock lock(mutex_);
    return acks_;
}

std::optional<AckRecord> SimPocketUdp::lastAck() const {
    MutexLock lock(mutex_);
    return lastAck_;
}

int SimPocketUdp::malformedHeaders() const {
    MutexLock lock(mutex_);
    return malformed_;
}

int SimPocketUdp::sequenceViolations() const {
    MutexLock lock(mutex_);
    return sequenceViolations_;
}

int SimPocketUdp::foreignReceived() const {
    MutexLock lock(mutex_);
    return foreign_;
}

std::vector<SimReceivedCommand> SimPocketUdp::commands() const {
    MutexLock lock(mutex_);
    return commands_;
}

std::vector<DumlFrame> SimPocketUdp::framesWithKey(const std::string& key) const {
    MutexLock lock(mutex_);
    std::vector<DumlFrame> frames;
    for (const auto& command : commands_) {
        if (command.frame.commandKey() == key) {
            frames.push_back(command.frame);
        }
    }
    return frames;
}

std::vector<GimbalVelocity> SimPocketUdp::speedFrames() const {
    MutexLock lock(mutex_);
    return speeds_;
}

GimbalAttitude SimPocketUdp::attitude() const {
    MutexLock lock(mutex_);
    return attitude_;
}

CardRecordingState SimPocketUdp::cardState() const {
    MutexLock lock(mutex_);
    return card_;
}

bool SimPocketUdp::liveViewRunning() const {
    MutexLock lock(mutex_);
    return lastStart_ && now_ - *lastStart_ <= options_.liveViewHold;
}

int SimPocketUdp::accessUnitsSent() const {
    MutexLock lock(mutex_);
    return unitsSent_;
}

int SimPocketUdp::videoDatagramsSent() const {
    MutexLock lock(mutex_);
    return videoCount_;
}

std::vector<int> SimPocketUdp::accessUnitIndicesSent() const {
    MutexLock lock(mutex_);
    return unitIndices_;
}

std::vector<SimSentPicture> SimPocketUdp::picturesSent() const {
    MutexLock lock(mutex_);
    return picturesSent_;
}

int SimPocketUdp::videoDatagramsOnWire() const {
    MutexLock lock(mutex_);
    return videoOnWire_;
}

}  // namespace hollowkit
