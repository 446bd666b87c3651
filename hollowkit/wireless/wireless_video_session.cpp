#include "hollowkit/wireless/wireless_video_session.h"

#include <algorithm>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/camera/duml_constants.h"

namespace hollowkit {
namespace {

// Addressees (receiver type, index) and attributes of the session's frames.
struct Addressee {
    int type;
    int index;
    int attribute;
};
constexpr Addressee kInfo{8, 2, 4};
constexpr Addressee kStart{8, 1, 2};
constexpr Addressee kGimbalInit{3, 0, 2};
constexpr Addressee kHeartbeat{4, 0, 2};
constexpr Addressee kStreamAB{1, 0, 0};
constexpr Addressee kStreamC{1, 2, 2};
constexpr Addressee kGimbalSpeed{4, 0, 0};
constexpr Addressee kRecenter{4, 0, 2};

constexpr uint8_t kSetGeneral = 0x00, kIdInfo = 0x81, kIdStart = 0x88;
constexpr uint8_t kSetCamera = 0x01, kIdStream = 0x01;
constexpr uint8_t kSetGimbalInit = 0x03, kIdGimbalInit = 0xDA;
constexpr uint8_t kSetGimbal = 0x04, kIdSpeed = 0x01, kIdAttitude = 0x05, kIdRecenter = 0x4C, kIdHeartbeat = 0x50;
constexpr uint8_t kSetStreamC = 0x09, kIdStreamC = 0xA8;

constexpr int kStopFrames = 3;
constexpr size_t kSettledMemory = 64;

std::string nalTypeList(const std::vector<int>& types) {
    std::string text = "[";
    for (size_t i = 0; i < types.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(types[i]);
    }
    return text + "]";
}

int wholeSeconds(Duration span) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(span).count());
}

}  // namespace

WirelessVideoSession::WirelessVideoSession(DumlUDPLink& link, LiveViewStream& stream, GimbalCommands& gimbal,
                                           CommandQueue& commands, const StopFlag& stopFlag, Handlers handlers,
                                           SessionTimings timings)
    : link_(link),
      stream_(stream),
      gimbal_(gimbal),
      commands_(commands),
      stopFlag_(stopFlag),
      handlers_(std::move(handlers)),
      timings_(timings) {}

void WirelessVideoSession::sendAndPump(uint8_t cmdSet, uint8_t cmdId, ByteView payload, int receiverType,
                                       int receiverIndex, int attribute, Duration pump) {
    link_.send(cmdSet, cmdId, payload, receiverType, receiverIndex, attribute);
    link_.pump(pump);
    link_.sendAck();
}

bool WirelessVideoSession::run() {
    link_.onFrame = [this](const DumlFrame& frame) { handleFrame(frame); };
    link_.onVideoDatagram = [this](ByteView datagram) { stream_.pushDatagram(datagram); };
    stream_.beginLink();

    sendAndPump(kSetGeneral, kIdInfo, DumlConstants::infoReplyPayload(), kInfo.type, kInfo.index, kInfo.attribute,
                timings_.startPump);
    sendAndPump(kSetGeneral, kIdStart, DumlConstants::appTagPayload(), kStart.type, kStart.index, kStart.attribute,
                timings_.startPump);
    if (handlers_.emitStatus) {
        handlers_.emitStatus("Waking gimbal");
    }
    initGimbal();
    sendStreamBurst();
    if (handlers_.emitStatus) {
        handlers_.emitStatus("Waiting for first keyframe");
    }

    const bool restart = loop();

    // Whatever the loop left, the gimbal must stop.
    sendStopFrames();
    // A session runs once: commands still waiting for a reply end with it,
    // without a result.
    awaitingReplies_.clear();
    link_.close();
    link_.onFrame = nullptr;
    link_.onVideoDatagram = nullptr;
    return restart;
}

void WirelessVideoSession::initGimbal() {
    sendAndPump(kSetGimbalInit, kIdGimbalInit, DumlConstants::gimbalInitPayload(), kGimbalInit.type,
                kGimbalInit.index, kGimbalInit.attribute, timings_.startPump);
    sendAndPump(kSetGimbal, kIdHeartbeat, DumlConstants::payload010405(), kHeartbeat.type, kHeartbeat.index,
                kHeartbeat.attribute, timings_.heartbeatInitPump);
    PocketLog::logf("Gimbal init sent, heartbeat replies: %d", heartbeatReplies_);
}

void WirelessVideoSession::sendStreamBurst() {
    const auto& payloads = DumlConstants::liveViewPayloads();
    for (int i = 0; i < 2; ++i) {
        link_.send(kSetCamera, kIdStream, payloads[0], kStreamAB.type, kStreamAB.index, kStreamAB.attribute);
        link_.pause(timings_.burstShortPause);
        link_.send(kSetStreamC, kIdStreamC, payloads[2], kStreamC.type, kStreamC.index, kStreamC.attribute);
        link_.pause(timings_.burstShortPause);
    }
    for (int i = 0; i < 5; ++i) {
        link_.send(kSetCamera, kIdStream, payloads[0], kStreamAB.type, kStreamAB.index, kStreamAB.attribute);
        link_.pause(timings_.burstLongPause);
    }
    for (int i = 0; i < 4; ++i) {
        link_.send(kSetCamera, kIdStream, payloads[1], kStreamAB.type, kStreamAB.index, kStreamAB.attribute);
        link_.pause(timings_.burstLongPause);
    }
}

bool WirelessVideoSession::loop() {
    if (stopFlag_.isSet()) {
        return false;
    }
    const Clock& clock = link_.clock();
    const TimePoint t0 = clock.now();
    TimePoint nextAck = t0 + timings_.ackInterval;
    TimePoint nextHeartbeat = t0 + timings_.heartbeatInterval;
    TimePoint nextStart = t0 + timings_.startInterval;
    TimePoint nextGimbal = t0;
    TimePoint nextStats = t0 + timings_.statsInterval;
    TimePoint nextKeyframeRetry = t0 + timings_.keyframeRetryInterval;
    lastStats_ = t0;
    heartbeatsAtLastStats_ = heartbeatReplies_;
    int retries = 0;

    for (;;) {
        const int received = link_.pump(timings_.loopPump);
        const TimePoint now = clock.now();

        if (received > 0 || now >= nextAck) {
            link_.sendAck();
            nextAck = now + timings_.ackInterval;
        }
        if (now >= nextHeartbeat) {
            link_.send(kSetGimbal, kIdHeartbeat, DumlConstants::payload010405(), kHeartbeat.type, kHeartbeat.index,
                       kHeartbeat.attribute);
            nextHeartbeat = now + timings_.heartbeatInterval;
        }
        if (now >= nextStart) {
            link_.send(kSetGeneral, kIdStart, DumlConstants::appTagPayload(), kStart.type, kStart.index,
                       kStart.attribute);
            nextStart = now + timings_.startInterval;
        }
        if (now >= nextGimbal) {
            sendGimbalSpeed();
            nextGimbal = now + timings_.gimbalInterval;
        }
        sendQueuedCommands(now);
        expireReplies(now);

        if (now - link_.lastInbound() > timings_.silenceTimeout) {
            PocketLog::logf("Camera went silent for %d s, restarting the video link",
                            wholeSeconds(timings_.silenceTimeout));
            if (handlers_.emitStatus) {
                handlers_.emitStatus("Camera stopped sending video, reconnecting");
            }
            return true;
        }

        if (gimbal_.takeRecenterRequest()) {
            const uint16_t id = link_.send(kSetGimbal, kIdRecenter, DumlConstants::payloadFE08(), kRecenter.type,
                                           kRecenter.index, kRecenter.attribute);
            // Its reply must not settle a pending flip (the same key).
            ignoreReply(DumlFrame::commandKey(kSetGimbal, kIdRecenter), id);
            PocketLog::log("Gimbal recenter sent");
        }

        if (!stream_.hasPicture() && now >= nextKeyframeRetry) {
            if (retries >= timings_.keyframeRetries) {
                PocketLog::logf("No keyframe after %d live-view retries", retries);
                return true;
            }
            ++retries;
            sendStreamBurst();
            PocketLog::logf("Live-view START resent (%d), messages=%d nal=%s", retries, stream_.completedMessages(),
                            nalTypeList(stream_.seenNalTypes()).c_str());
            nextKeyframeRetry = now + timings_.keyframeRetryInterval;
        }

        if (now >= nextStats) {
            reportStats(now);
            nextStats = now + timings_.statsInterval;
        }

        if (stopFlag_.isSet()) {
            return false;
        }
    }
}

void WirelessVideoSession::sendGimbalSpeed() {
    const GimbalVelocity velocity = gimbal_.currentVelocity();
    if (!velocity.isZero()) {
        link_.send(kSetGimbal, kIdSpeed, gimbalSpeedPayload(velocity.pitch, velocity.yaw), kGimbalSpeed.type,
                   kGimbalSpeed.index, kGimbalSpeed.attribute);
        gimbalMoving_ = true;
    } else if (gimbalMoving_) {
        sendStopFrames();
        gimbalMoving_ = false;
    }
}

void WirelessVideoSession::sendStopFrames() {
    const Bytes stop = gimbalSpeedPayload(0, 0);
    for (int i = 0; i < kStopFrames; ++i) {
        link_.send(kSetGimbal, kIdSpeed, stop, kGimbalSpeed.type, kGimbalSpeed.index, kGimbalSpeed.attribute);
    }
}

void WirelessVideoSession::sendQueuedCommands(TimePoint now) {
    for (const CameraCommand& command : commands_.takeAll()) {
        const uint16_t id = link_.send(command.cmdSet, command.cmdId, command.payload, command.receiverType,
                                       command.receiverId, command.cmdType);
        const std::string key = DumlFrame::commandKey(command.cmdSet, command.cmdId);
        AwaitedReply entry{command.label, now, command.reportsSuccess, id};
        if (auto [it, added] = awaitingReplies_.try_emplace(key, entry); !added) {
            // The replaced command's own reply, when it comes, must not be
            // taken for this one's.
            ignoreReply(key, it->second.dumlId);
            it->second = std::move(entry);
        }
        PocketLog::logf("Camera command sent: %s [%s %s]", command.label.c_str(), key.c_str(),
                        hexString(command.payload).c_str());
    }
}

void WirelessVideoSession::reportNoReply(const AwaitedReply& entry) {
    PocketLog::logf("Camera command got no reply: %s", entry.label.c_str());
    if (handlers_.emitTelemetry) {
        handlers_.emitTelemetry(CameraEvent::commandResult(entry.label, CommandOutcome::noReply()));
    }
}

void WirelessVideoSession::expireReplies(TimePoint now) {
    std::vector<AwaitedReply> expired;
    for (auto it = awaitingReplies_.begin(); it != awaitingReplies_.end();) {
        if (now - it->second.sent > timings_.replyTimeout) {
            ignoreReply(it->first, it->second.dumlId);
            expired.push_back(std::move(it->second));
            it = awaitingReplies_.erase(it);
        } else {
            ++it;
        }
    }
    for (const AwaitedReply& entry : expired) {
        reportNoReply(entry);
    }
}

void WirelessVideoSession::ignoreReply(const std::string& key, uint16_t id) {
    settled_.emplace_back(key, id);
    if (settled_.size() > kSettledMemory) {
        settled_.pop_front();
    }
}

void WirelessVideoSession::settleReply(const DumlFrame& frame) {
    const std::string key = frame.commandKey();
    if (std::find(settled_.begin(), settled_.end(), std::make_pair(key, frame.id)) != settled_.end()) {
        return;
    }
    auto found = awaitingReplies_.find(key);
    if (found == awaitingReplies_.end()) {
        return;
    }
    // A camera that does not echo the id still settles the key.
    const AwaitedReply entry = std::move(found->second);
    awaitingReplies_.erase(found);
    ignoreReply(key, frame.id);

    const uint8_t code = frame.payload.empty() ? 0xFF : frame.payload[0];
    PocketLog::logf("Camera command reply: %s -> %s (%s)", entry.label.c_str(), hexString(frame.payload).c_str(),
                    code == 0 ? "accepted" : "rejected");
    if (!handlers_.emitTelemetry) {
        return;
    }
    if (code != 0) {
        handlers_.emitTelemetry(CameraEvent::commandResult(entry.label, CommandOutcome::rejected(code)));
    } else if (entry.reportsSuccess) {
        handlers_.emitTelemetry(CameraEvent::commandResult(entry.label, CommandOutcome::accepted()));
    }
}

void WirelessVideoSession::handleFrame(const DumlFrame& frame) {
    if (frame.isReply()) {
        settleReply(frame);
    }

    if (auto state = CardRecordingState::fromFrame(frame); state && state != lastRecordingState_) {
        lastRecordingState_ = state;
        if (handlers_.emitTelemetry) {
            handlers_.emitTelemetry(CameraEvent::cardRecording(*state));
        }
    }

    if (frame.cmdSet == kSetGimbal && frame.cmdId == kIdHeartbeat) {
        if (frame.isReply()) {
            ++heartbeatReplies_;
        }
    } else if (frame.cmdSet == kSetGimbal && frame.cmdId == kIdAttitude) {
        if (auto attitude = GimbalAttitude::fromPayload(frame.payload)) {
            attitude_ = attitude;
        }
    } else if (frame.cmdSet == kSetGimbal && frame.cmdId == kIdRecenter) {
        PocketLog::logf("Gimbal recenter reply %s", hexString(frame.payload).c_str());
    } else if (frame.cmdSet == CardStorage::kPushCmdSet && frame.cmdId == CardStorage::kPushCmdId) {
        if (auto storage = CardStorage::fromFrame(frame); storage && storage != lastCardStorage_) {
            lastCardStorage_ = storage;
            if (handlers_.emitTelemetry) {
                handlers_.emitTelemetry(CameraEvent::cardStorage(*storage));
            }
        }
    } else if (frame.cmdSet == BatteryStatus::kPushCmdSet && frame.cmdId == BatteryStatus::kPushCmdId) {
        if (auto battery = BatteryStatus::fromFrame(frame); battery && handlers_.emitTelemetry) {
            handlers_.emitTelemetry(CameraEvent::battery(*battery));
        }
    }
}

void WirelessVideoSession::reportStats(TimePoint now) {
    CameraStats stats;
    stats.hasPicture = stream_.hasPicture();
    const int frames = stream_.takeDisplayedCount();
    const double elapsed = std::chrono::duration<double>(now - lastStats_).count();
    stats.framesPerSecond = elapsed > 0 ? frames / elapsed : 0;
    stats.gimbalResponding = heartbeatReplies_ > heartbeatsAtLastStats_;
    stats.attitude = attitude_;
    stats.resolution = stream_.dimensions();
    stats.transportLag = link_.transportLag();
    if (handlers_.emitStats) {
        handlers_.emitStats(stats);
    }
    heartbeatsAtLastStats_ = heartbeatReplies_;
    lastStats_ = now;
}

}  // namespace hollowkit
