#pragma once

// AudioInputBackend: the sound inputs of this computer, as the microphone
// sees them. One backend speaks to the sound server (PulseAudio or
// PipeWire's Pulse service, linux/pulse_audio_input.h); tests use
// FakeAudioInputBackend. Backends are thread-safe: any call from any
// thread.
//
// A capture is opened synchronously, waiting for the sound server, and
// reports failure when it cannot really start; callers open from a worker
// queue (the microphone's), never from the main executor. Once running it
// delivers chunks, and later tells of a failure (the device unplugged, the
// server gone), from the backend's own thread; chunks may come before
// open() has returned. Handlers must be quick and must not call back into
// the backend.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/result.h"
#include "hollowkit/media/audio_chunk.h"

namespace hollowkit {

// One sound input: `id` identifies it to the backend (the Pulse source
// name), `name` is shown to the user.
struct AudioInputOption {
    std::string id;
    std::string name;

    bool operator==(const AudioInputOption&) const = default;
};

struct AudioInputOptionHash {
    size_t operator()(const AudioInputOption& option) const;
};

struct MicrophoneError {
    enum class Kind : uint8_t {
        none = 0,
        notAllowed,   // the system refuses this app the microphone
        unavailable,  // no such input, or it could not be opened
        cancelled,    // a start overtaken by a stop or another start; nothing to tell the user
    };

    Kind kind = Kind::none;
    std::string detail;  // for the log, never shown

    static MicrophoneError notAllowed(std::string detail = {}) {
        return {Kind::notAllowed, std::move(detail)};
    }
    static MicrophoneError unavailable(std::string detail = {}) {
        return {Kind::unavailable, std::move(detail)};
    }
    static MicrophoneError cancelled(std::string detail = {}) {
        return {Kind::cancelled, std::move(detail)};
    }

    // The sentence shown to the user for `kind`; empty for cancelled.
    std::string userMessage() const;

    bool operator==(const MicrophoneError&) const = default;
};

// Whether this app may record sound. The desktop sound server grants every
// local client, so the Linux backend is always `authorized`; sandboxes and
// fakes may say otherwise.
enum class MicrophoneAccess : uint8_t {
    none = 0,
    notDetermined,
    denied,
    authorized,
};

// A running capture. Destroying it stops the stream; once the destructor
// returns no handler of it runs any more. Not to be destroyed from inside
// one of its own handlers.
class AudioCapture {
public:
    virtual ~AudioCapture() = default;
};

struct AudioCaptureHandlers {
    // Every chunk, stamped on CLOCK_MONOTONIC, in order, without overlaps.
    std::function<void(AudioChunk)> onChunk;
    // At most once, when the running capture has stopped for good.
    std::function<void(MicrophoneError)> onFailure;
};

class AudioInputBackend {
public:
    virtual ~AudioInputBackend() = default;

    virtual MicrophoneAccess access() const = 0;
    // Asks the user when the answer is not known yet; the answer (true when
    // allowed). Blocks until the user answers where a prompt exists.
    virtual bool requestAccess() = 0;

    // The inputs that capture sound from outside (microphones, line-ins) in
    // the server's order; the loop-backs that record what the computer
    // plays are left out. Empty when there is none or no server.
    virtual std::vector<AudioInputOption> inputs() = 0;
    // The input the system records from by default, when it is one of
    // inputs().
    virtual std::optional<AudioInputOption> defaultInput() = 0;

    // Starts capturing `id` in the device's own rate and channel count and
    // returns once sound flows, or fails with the reason. Blocks: not on
    // the main executor.
    virtual Result<std::unique_ptr<AudioCapture>, MicrophoneError> open(const std::string& id,
                                                                        AudioCaptureHandlers handlers) = 0;
};

}  // namespace hollowkit
