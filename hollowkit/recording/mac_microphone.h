#pragma once

// MacMicrophone: records sound from one of this computer's inputs so that a
// recording made on the computer can carry it (the name is the product's:
// the computer's own microphone as opposed to the camera's). It lists the
// inputs, checks access, runs one capture at a time through an
// AudioInputBackend and hands every chunk to one handler on its own queue
// ("HollowKit.MacMicrophone").
//
// Nothing the owner calls waits for the sound server: start() hands the
// choice of input and the opening of the stream to the queue and returns;
// its completion comes later on the main executor, exactly once, saying
// which input records, why none does, or that the start was overtaken
// (cancelled) by stop(), by another start() or by the destruction. A
// capture that fails later is reported through the failure handler, on the
// main executor too. Once stop() has returned, no sound captured afterwards
// reaches the sample handler. Handlers and completions never run under a
// lock of the microphone.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/recording/audio_input_backend.h"

namespace hollowkit {

class MacMicrophone {
public:
    using SampleHandler = std::function<void(const AudioChunk&)>;
    using FailureHandler = std::function<void(const MicrophoneError&)>;
    // The input that records, or why none does (cancelled when the start
    // was overtaken before it completed).
    using StartResult = Result<AudioInputOption, MicrophoneError>;
    using StartCompletion = std::function<void(const StartResult&)>;

    // Chunks allowed to wait on the queue for a slow sample handler (about
    // two seconds of sound); more are dropped.
    static constexpr int kMaxQueuedChunks = 200;

    // Configures nothing and starts nothing. `backend` and `main` must
    // outlive the microphone. Main executor only.
    MacMicrophone(AudioInputBackend& backend, MainExecutor& main);
    // Stops the capture; chunks still waiting are dropped. Waits for a start
    // under way on the queue, whose completion then says cancelled. Main
    // executor only.
    ~MacMicrophone();

    MacMicrophone(const MacMicrophone&) = delete;
    MacMicrophone& operator=(const MacMicrophone&) = delete;

    // The inputs found now, in the backend's order; empty when there is none.
    // Asks the sound server and waits for it. Any thread.
    static std::vector<AudioInputOption> availableInputs(AudioInputBackend& backend);
    // True when the app may record; asks the user only when that is not known
    // yet. Any thread.
    static bool requestAccess(AudioInputBackend& backend);

    // Records from the input `deviceId`, or from the default input when
    // there is no identifier or no such input; replaces a capture already
    // running (the old one is closed first, so a failed switch leaves
    // nothing running). Returns at once; `completion` runs once on the main
    // executor with the input that records, or with the error: notAllowed
    // without access (never asked here), unavailable without a usable input
    // or when the stream would not start, cancelled when stop(), another
    // start() or the destruction came first. Logs "Mac microphone recording
    // from <name>". Main executor only.
    void start(std::optional<std::string> deviceId, StartCompletion completion);
    // Ends the capture, or the start under way; the stream is closed on the
    // queue. The handlers stay set. Main executor only.
    void stop();

    // Set before start(). `onSample` receives every chunk on the queue;
    // `onFailure` the end of a capture that stopped by itself, on the main
    // executor. Any thread.
    void setOnSample(SampleHandler handler);
    void setOnFailure(FailureHandler handler);

    // The input being recorded; nothing while stopped or starting. Any thread.
    std::optional<AudioInputOption> activeInput() const;

private:
    // One start's capture. Work of a start that was replaced or stopped sees
    // `live` false and drops what it carries; only the main executor clears
    // it (stop, start, destruction).
    struct Session {
        std::atomic<bool> live{true};
    };

    // Own queue only.
    void open(const std::shared_ptr<Session>& session, const std::optional<std::string>& deviceId,
              const StartCompletion& completion);
    void deliver(const std::shared_ptr<Session>& session, const AudioChunk& chunk);
    void reportFailure(const std::shared_ptr<Session>& session, const MicrophoneError& error);
    // Any thread: hands the outcome to the main executor, where a start
    // overtaken meanwhile turns into cancelled.
    void complete(const std::shared_ptr<Session>& session, const StartCompletion& completion,
                  StartResult result);
    // Takes the running capture out (marking its session dead) for the
    // caller to close.
    std::unique_ptr<AudioCapture> detachCapture();

    AudioInputBackend& backend_;
    MainExecutor& main_;
    std::atomic<int> queuedChunks_{0};

    mutable Mutex mutex_;
    SampleHandler onSample_ HK_GUARDED_BY(mutex_);
    FailureHandler onFailure_ HK_GUARDED_BY(mutex_);
    std::unique_ptr<AudioCapture> capture_ HK_GUARDED_BY(mutex_);
    std::shared_ptr<Session> session_ HK_GUARDED_BY(mutex_);
    std::optional<AudioInputOption> active_ HK_GUARDED_BY(mutex_);

    SerialQueue queue_;  // last: its thread stops before the fields above go
};

}  // namespace hollowkit
