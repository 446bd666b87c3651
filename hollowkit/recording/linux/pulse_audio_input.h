#pragma once

// PulseAudioInputBackend: the computer's sound inputs through libpulse,
// which speaks to PulseAudio and to PipeWire's Pulse service alike. One
// threaded main loop and one server connection per backend, made on first
// use and made again after the server went away. Sources that mirror an
// output (".monitor") are not inputs and are never listed.
//
// Captures deliver 32-bit float chunks in the source's own rate and channel
// count from the main loop's thread, stamped on CLOCK_MONOTONIC: the first
// from its arrival, the rest by counting frames, so chunks join exactly.
// Thread-safe; captures may outlive the backend object.

#include <memory>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/recording/audio_input_backend.h"

namespace hollowkit {

class PulseAudioInputBackend final : public AudioInputBackend {
public:
    struct Options {
        // The server to use ("unix:/run/user/1000/pulse/native"); empty for
        // the user's default (PULSE_SERVER, client.conf, the session socket).
        std::string server;
        // Longest wait for the server to answer one request.
        Duration timeout = std::chrono::seconds(5);
    };

    PulseAudioInputBackend();
    explicit PulseAudioInputBackend(Options options);
    ~PulseAudioInputBackend() override;

    PulseAudioInputBackend(const PulseAudioInputBackend&) = delete;
    PulseAudioInputBackend& operator=(const PulseAudioInputBackend&) = delete;

    // The sound server serves every local client: always authorized.
    MicrophoneAccess access() const override;
    bool requestAccess() override;

    std::vector<AudioInputOption> inputs() override;
    std::optional<AudioInputOption> defaultInput() override;
    Result<std::unique_ptr<AudioCapture>, MicrophoneError> open(const std::string& id,
                                                                AudioCaptureHandlers handlers) override;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace hollowkit
