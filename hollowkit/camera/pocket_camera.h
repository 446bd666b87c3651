#pragma once

// PocketCamera: the one interface through which the application drives a
// camera, implemented by the USB route and the wireless route. The camera
// model owns exactly one at a time (std::shared_ptr, so that the face
// follower can hold it weakly; never copied), sets the three handlers,
// calls start(), and from then on calls the operations and reads the
// properties; stop() comes last. Switching routes: stop the old
// camera, clear its handlers once the completion has run, build the new one,
// set its handlers, start it.
//
// An operation a route cannot perform returns at once and changes nothing;
// the supports... flags say which ones a route performs. Operations never
// fail: a route reports trouble through `failed` events.
//
// Handlers: events always arrive on the main executor, and always through
// it: both routes post every event, also one raised on the main executor
// itself, so onEvent never runs inside a call into the camera (start(),
// stop(), a command) and events from every thread arrive in the order they
// were raised. An event still queued when the camera is destroyed is
// dropped. Video frames and sound arrive on the route's own capture or video
// thread and must not block it. The handler slots are guarded, so clearing
// one from the main executor is safe while frames flow; a call already under
// way finishes, no new one starts.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/camera_event.h"
#include "hollowkit/camera/camera_types.h"
#include "hollowkit/camera/gimbal_commands.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

struct CameraSetting;

using CameraEventHandler = std::function<void(const CameraEvent&)>;
using VideoSampleHandler = std::function<void(const VideoFrame&)>;
using AudioSampleHandler = std::function<void(const AudioChunk&)>;

class PocketCamera {
public:
    virtual ~PocketCamera();
    PocketCamera(const PocketCamera&) = delete;
    PocketCamera& operator=(const PocketCamera&) = delete;

    // --- Handlers: set before start(); cleared (nullptr) by the owner after
    // stop's completion. Any thread.
    void setOnEvent(CameraEventHandler handler);
    void setOnVideoSample(VideoSampleHandler handler);
    void setOnAudioSample(AudioSampleHandler handler);

    // --- Properties: any thread; each returns the route's knowledge at the
    // moment of reading.

    // The gimbal speed mailbox, made with the camera and living as long as it;
    // written on the main executor, read by the route's worker. Thread-safe.
    virtual GimbalCommands& gimbal() = 0;
    // Zoom limits in percent; absent until known (USB) or when the device name
    // names no model (wireless).
    virtual std::optional<ZoomRange> zoomRange() const = 0;
    virtual bool supportsPositioning() const = 0;
    virtual bool supportsCardRecording() const = 0;
    virtual bool supportsCameraSettings() const = 0;
    virtual std::vector<MicrophoneOption> microphones() const = 0;
    virtual std::optional<MicrophoneOption> activeMicrophone() const = 0;
    // Average power of the sound source's first channel in dBFS; absent
    // without a sound input.
    virtual std::optional<float> audioLevel() const = 0;
    virtual std::vector<VideoFormatOption> formats() const = 0;
    virtual std::optional<VideoFormatOption> activeFormat() const = 0;

    // --- Operations.

    // Opens the route. Main executor only; once, after the handlers are set.
    virtual void start() = 0;
    // Stops the route, emits `stopped`, then runs `completion` on the main
    // executor. The completion runs exactly once, also when the camera had
    // already stopped or was never started. Main executor only.
    virtual void stop(std::function<void()> completion) = 0;
    // Zoom in percent (100 = 1.0x), clamped by the route. Main executor only;
    // returns at once.
    virtual void setZoom(int zoomPercent) = 0;
    // Pan, tilt and zoom read from the camera, or nothing when it cannot be
    // read (always nothing on the wireless route). Any thread but the route's
    // own control queue; blocks until the read is done (USB).
    virtual std::optional<CameraPosition> currentPosition() = 0;
    // Sets pan and tilt, and zoom when `to` has one. Any thread (the face
    // follower calls it from its queue); returns at once.
    virtual void move(const CameraPosition& to) = 0;
    // Chooses a sound input by identifier; nothing = automatic choice. Main
    // executor only.
    virtual void selectMicrophone(std::optional<std::string> id) = 0;
    // Main executor only; returns at once.
    virtual void selectFormat(const VideoFormatOption& format) = 0;
    // Turns the gimbal around. Main executor only; the USB route blocks for
    // one position read.
    virtual void flipGimbal() = 0;
    // Starts (true) or stops the camera's own recording to its card. Main
    // executor only.
    virtual void setCardRecording(bool startRecording) = 0;
    // Sends one recording setting to the camera. Main executor only.
    virtual void applySetting(const CameraSetting& setting) = 0;

protected:
    PocketCamera() = default;

    // For the routes: the one way an event goes out. Posts it to `main`,
    // where the handler set at that moment is called, unless the camera is
    // gone by then. Never calls the handler itself. Any thread, while the
    // camera exists.
    void postEvent(Executor& main, CameraEvent event) const;

    // For the routes: call the current handler, if any, outside every lock.
    // callOnEvent only on the main executor.
    void callOnEvent(const CameraEvent& event) const;
    void callOnVideoSample(const VideoFrame& frame) const;
    void callOnAudioSample(const AudioChunk& chunk) const;

private:
    // Handlers sit behind shared pointers so a call can copy one out cheaply,
    // unlock, and run it while the owner replaces the slot.
    mutable Mutex handlerLock_;
    std::shared_ptr<const CameraEventHandler> onEvent_ HK_GUARDED_BY(handlerLock_);
    std::shared_ptr<const VideoSampleHandler> onVideoSample_ HK_GUARDED_BY(handlerLock_);
    std::shared_ptr<const AudioSampleHandler> onAudioSample_ HK_GUARDED_BY(handlerLock_);
    // Lives as long as the camera: a posted event whose token has expired
    // belongs to a camera that no longer exists. Never reassigned.
    const std::shared_ptr<const int> eventToken_ = std::make_shared<const int>(0);
};

}  // namespace hollowkit
