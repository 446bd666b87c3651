#pragma once

// PulseAudioInputBackend: the computer's sound inputs through the shared
// sound server client (hollowkit/media/linux/pulse_client.h), on its own
// main loop thread ("HollowKit.PulseInput"). Sources that mirror an output
// (".monitor") are not inputs and are never listed, though they can be
// opened by name (system sound).
//
// Captures deliver 32-bit float chunks in the source's own rate and channel
// count from the main loop's thread, stamped on CLOCK_MONOTONIC: the first
// from its arrival, the rest by counting frames, so chunks join exactly.
// Thread-safe; captures may outlive the backend object. Every call but
// access() waits for the server (open() until sound flows, at most the
// client's time-out), so callers make them from a worker queue, never from
// the main executor.

#include <memory>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/media/linux/pulse_client.h"
#include "hollowkit/recording/audio_input_backend.h"

namespace hollowkit {

class PulseAudioInputBackend final : public AudioInputBackend {
public:
    using Options = PulseClient::Options;

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

private:
    PulseClient client_;
};

}  // namespace hollowkit
