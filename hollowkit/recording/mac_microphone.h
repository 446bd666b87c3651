#pragma once

// MacMicrophone: records sound from one of this computer's inputs so that a
// recording made on the computer can carry it (the name is the product's:
// the computer's own microphone as opposed to the camera's). It lists the
// inputs, checks access, runs one capture at a time through an
// AudioInputBackend and hands every chunk to one handler on its own queue
// ("HollowKit.MacMicrophone").
//
// start() opens the input synchronously and fails when the input cannot
// really start; a capture that fails later is reported through the failure
// handler. After stop() no further chunk of that capture reaches the sample
// handler. The owner's handlers run on the queue, never under a lock of the
// microphone, and may call any method of it except the destructor.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/result.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/recording/audio_input_backend.h"

namespace hollowkit {

class MacMicrophone {
public:
    using SampleHandler = std::function<void(const AudioChunk&)>;
    using FailureHandler = std::function<void(const MicrophoneError&)>;

    // Chunks allowed to wait on the queue for a slow sample handler (about
    // two seconds of sound); more are dropped.
    static constexpr int kMaxQueuedChunks = 200;

    // Configures nothing and starts nothing. `backend` must outlive the
    // microphone.
    explicit MacMicrophone(AudioInputBackend& backend);
    // Stops the capture; chunks still waiting are dropped.
    ~MacMicrophone();

    MacMicrophone(const MacMicrophone&) = delete;
    MacMicrophone& operator=(const MacMicrophone&) = delete;

    // The inputs found now, in the backend's order; empty when there is none.
    // Any thread.
    static std::vector<AudioInputOption> availableInputs(AudioInputBackend& backend);
    // True when the app may record; asks the user only when that is not known
    // yet. Any thread.
    static bool requestAccess(AudioInputBackend& backend);

    // Records from the input `deviceId`, or from the default input when
    // there is no identifier or no such input; replaces a capture already
    // running. Never asks for access: without it, notAllowed. Without a
    // usable input, or when it cannot start, unavailable (and nothing runs).
    // Logs "Mac microphone recording from <name>". Main executor only.
    Result<void, MicrophoneError> start(const std::optional<std::string>& deviceId);
    // Ends the capture; the stream is closed on the queue. The handlers stay
    // set. Main executor only.
    void stop();

    // Any thread. `onSample` receives every chunk, `onFailure` the end of a
    // capture that stopped by itself; both run on the queue.
    void setOnSample(SampleHandler handler);
    void setOnFailure(FailureHandler handler);

    // The input being recorded; nothing when stopped. Any thread.
    std::optional<AudioInputOption> activeInput() const;

private:
    // One start's capture. Handlers of a capture that was replaced or
    // stopped see `live` false and drop what they carry.
    struct Session {
        std::atomic<bool> live{true};
    };

    // Own queue only.
    void deliver(const std::shared_ptr<Session>& session, const AudioChunk& chunk);
    void reportFailure(const std::shared_ptr<Session>& session, const MicrophoneError& error);
    // Takes the running capture out (marking it dead) for the caller to close.
    std::unique_ptr<AudioCapture> detachCapture();

    AudioInputBackend& backend_;
    std::atomic<int> queuedChunks_{0};

    mutable std::mutex mutex_;
    SampleHandler onSample_;                  // guarded by mutex_
    FailureHandler onFailure_;                // guarded by mutex_
    std::unique_ptr<AudioCapture> capture_;   // guarded by mutex_
    std::shared_ptr<Session> session_;        // guarded by mutex_
    std::optional<AudioInputOption> active_;  // guarded by mutex_

    SerialQueue queue_;  // last: its thread stops before the fields above go
};

}  // namespace hollowkit
