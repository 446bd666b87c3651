#pragma once

// FakeAudioInputBackend: sound inputs that exist only in a test. The test
// sets the inputs, the default, the access answer and open failures, and
// drives a running capture by hand: emitSine() hands it a chunk of a
// synthetic tone on the calling thread, fail() ends it as a vanished device
// would. It records every open so tests can see which input was used, and
// can hold opens as a sound server slow to start a stream does.
//
// Thread-safe. Handlers are called on the thread that drives the fake, with
// a delivery lock held that a capture's destructor also takes, so no handler
// runs once a capture is gone (as the real backend promises).

#include <cstdint>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/recording/audio_input_backend.h"

namespace hollowkit {

class FakeAudioInputBackend final : public AudioInputBackend {
public:
    FakeAudioInputBackend();
    ~FakeAudioInputBackend() override;

    // Setup.
    void setInputs(std::vector<AudioInputOption> inputs);
    // Must name one of the inputs to count; nothing: no default.
    void setDefaultInputId(std::optional<std::string> id);
    void setAccess(MicrophoneAccess access);
    // What requestAccess() answers; access() then follows the answer.
    void setAccessAnswer(bool granted);
    // open(id) fails with `error` from now on; clearOpenFailure undoes it.
    void setOpenFailure(const std::string& id, MicrophoneError error);
    void clearOpenFailure(const std::string& id);
    // The format captures deliver.
    void setFormat(int sampleRate, int channels);
    // From holdOpens() until releaseOpens(), open() takes the capture in
    // (its sound can be emitted already, as a server's may come before the
    // stream is reported ready) and then waits before returning; a failing
    // open waits too.
    void holdOpens();
    void releaseOpens();
    // Waits (at most `realTimeout`) until an open is being held.
    bool waitForHeldOpen(Duration realTimeout = std::chrono::seconds(10));

    // Observation.
    std::vector<std::string> openedIds() const;
    int requestAccessCalls() const;
    // Captures open now.
    int openCaptureCount() const;

    // Driving the newest open capture. Each chunk continues the previous one
    // in time and tone, starting from `start` (the first call's default is
    // the clock's now). False when no capture is open.
    bool emitSine(double frequencyHz, size_t frames, float amplitude = 0.5F);
    bool emit(AudioChunk chunk);
    void setTimelineStart(TimePoint start);
    // Ends the newest capture as a vanished device would.
    bool fail(MicrophoneError error);

    // AudioInputBackend
    MicrophoneAccess access() const override;
    bool requestAccess() override;
    std::vector<AudioInputOption> inputs() override;
    std::optional<AudioInputOption> defaultInput() override;
    Result<std::unique_ptr<AudioCapture>, MicrophoneError> open(const std::string& id,
                                                                AudioCaptureHandlers handlers) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace hollowkit
