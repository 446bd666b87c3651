#pragma once

// WirelessVideoSession: one run of the camera's live view over an open,
// synchronised DumlUDPLink. Wakes live view and gimbal with the fixed start
// sequence, then loops on the calling thread: acknowledgements, the gimbal
// heartbeat and the live-view START every second, gimbal speeds from the
// mailbox, queued camera commands with their replies, silence and keyframe
// watches, and statistics every two seconds. Replies become command
// results; pushes become attitude, card and battery events.
//
// Owned by the wireless camera's video thread and used for one run only;
// run() blocks that thread and every handler is called on it. Shared
// objects (stop flag, command queue, gimbal mailbox, the stream's counter)
// are touched only through their own thread-safe members. Time comes from
// the link's clock.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/stop_flag.h"
#include "hollowkit/camera/camera_event.h"
#include "hollowkit/camera/card_recording_state.h"
#include "hollowkit/camera/command_queue.h"
#include "hollowkit/camera/gimbal_commands.h"
#include "hollowkit/wireless/duml_udp_link.h"
#include "hollowkit/wireless/live_view_stream.h"

namespace hollowkit {

struct SessionTimings {
    Duration startPump = std::chrono::milliseconds(400);
    Duration heartbeatInitPump = std::chrono::milliseconds(600);
    Duration burstShortPause = std::chrono::milliseconds(1);
    Duration burstLongPause = std::chrono::milliseconds(2);
    Duration loopPump = std::chrono::milliseconds(12);
    Duration ackInterval = std::chrono::milliseconds(250);
    Duration heartbeatInterval = std::chrono::seconds(1);
    Duration startInterval = std::chrono::seconds(1);
    Duration gimbalInterval = std::chrono::milliseconds(50);
    Duration statsInterval = std::chrono::seconds(2);
    Duration keyframeRetryInterval = std::chrono::seconds(3);
    int keyframeRetries = 3;
    Duration replyTimeout = std::chrono::seconds(2);
    Duration silenceTimeout = std::chrono::seconds(4);
};

class WirelessVideoSession {
public:
    struct Handlers {
        std::function<void(const std::string&)> emitStatus;
        std::function<void(const CameraStats&)> emitStats;
        std::function<void(const CameraEvent&)> emitTelemetry;
    };

    // Every reference must outlive the session.
    WirelessVideoSession(DumlUDPLink& link, LiveViewStream& stream, GimbalCommands& gimbal,
                         CommandQueue& commands, const StopFlag& stopFlag, Handlers handlers,
                         SessionTimings timings = {});
    WirelessVideoSession(const WirelessVideoSession&) = delete;
    WirelessVideoSession& operator=(const WirelessVideoSession&) = delete;

    // Runs the whole session on the calling thread. Installs the link's
    // frame and video handlers for its duration (video datagrams go straight
    // to the stream). Returns true when the link should be rebuilt (silence,
    // or no picture after the retries), false when the stop flag ended it.
    // Either way the gimbal gets three stop frames, commands still waiting
    // for a reply are dropped without a result, and the link is closed.
    bool run();

    // One DUML frame from the link (normally through run()'s handler).
    void handleFrame(const DumlFrame& frame);

    int heartbeatReplies() const { return heartbeatReplies_; }
    std::optional<GimbalAttitude> attitude() const { return attitude_; }

private:
    struct AwaitedReply {
        std::string label;
        TimePoint sent;
        bool reportsSuccess = false;
        uint16_t dumlId = 0;
    };

    void sendAndPump(uint8_t cmdSet, uint8_t cmdId, ByteView payload, int receiverType, int receiverIndex,
                     int attribute, Duration pump);
    void initGimbal();
    void sendStreamBurst();
    bool loop();
    void sendGimbalSpeed();
    void sendStopFrames();
    void sendQueuedCommands(TimePoint now);
    void expireReplies(TimePoint now);
    void settleReply(const DumlFrame& frame);
    void reportStats(TimePoint now);
    void reportNoReply(const AwaitedReply& entry);
    void ignoreReply(const std::string& key, uint16_t id);

    DumlUDPLink& link_;
    LiveViewStream& stream_;
    GimbalCommands& gimbal_;
    CommandQueue& commands_;
    const StopFlag& stopFlag_;
    const Handlers handlers_;
    const SessionTimings timings_;

    // The command waiting for a reply, one per key: a later command of the
    // same key replaces the earlier one, which then gets no result.
    std::map<std::string, AwaitedReply> awaitingReplies_;
    // Replies (key, DUML id, which the camera echoes) that settle nothing,
    // newest last: one already handled (its datagram repeated), one to a
    // replaced command, and one to our own recentre (the flip's key).
    std::deque<std::pair<std::string, uint16_t>> settled_;
    std::optional<CardRecordingState> lastRecordingState_;
    std::optional<CardStorage> lastCardStorage_;
    int heartbeatReplies_ = 0;
    std::optional<GimbalAttitude> attitude_;
    bool gimbalMoving_ = false;

    // Statistics bookkeeping (loop only).
    TimePoint lastStats_{};
    int heartbeatsAtLastStats_ = 0;
};

}  // namespace hollowkit
