#pragma once

// AudioSourceBackend: the sound sources the USB camera can attach, as the
// sound server lists them, and the raw PCM they deliver. The camera's own
// USB audio device is told apart by its USB vendor id, which the computer's
// microphone backend (hollowkit/recording) does not carry, and the wireless
// microphone detector needs the blocks exactly as they come (format, layout,
// frame count), so this interface is the USB camera's own.
//
// One backend speaks to the sound server (linux/pulse_audio_source.h);
// tests use FakeAudioSourceBackend. Thread-safe: any call from any thread.
// A capture delivers blocks from the backend's own thread until it is
// destroyed; once its destructor returns no handler of it runs any more.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

// One sound source.
struct AudioSourceInfo {
    std::string id;    // the server's name for it; stable while it is plugged in
    std::string name;  // shown to the user
    // The USB vendor id of the device behind it, when it is a USB device.
    std::optional<uint16_t> usbVendorId;

    bool operator==(const AudioSourceInfo&) const = default;
};

// How the samples of a PcmBlock are laid out.
struct PcmFormat {
    bool linearPcm = true;
    double sampleRate = 0;  // frames per second
    int channels = 0;
    int bitsPerChannel = 0;
    bool isFloat = false;
    // Each channel in a buffer of its own (channel order), instead of one
    // buffer of interleaved frames.
    bool nonInterleaved = false;

    bool operator==(const PcmFormat&) const = default;
};

// A run of captured sound as the source delivered it. `frameCount` is the
// frame count the source claims; the buffers may hold fewer bytes than that
// claims, and every reader checks.
struct PcmBlock {
    PcmFormat format;
    size_t frameCount = 0;
    std::vector<Bytes> buffers;
    TimePoint pts{};  // the first frame, CLOCK_MONOTONIC
};

// A running capture; destroying it ends the stream.
class AudioSourceCapture {
public:
    virtual ~AudioSourceCapture() = default;
};

struct AudioSourceHandlers {
    // Every block, in order.
    std::function<void(PcmBlock)> onBlock;
    // At most once, when the running capture stopped for good (the device
    // went away, the server quit); the text is for the log.
    std::function<void(const std::string&)> onFailure;
};

class AudioSourceBackend {
public:
    virtual ~AudioSourceBackend() = default;

    // Whether sound may be recorded. The desktop sound server serves every
    // local client, so the Linux backend always says yes.
    virtual bool requestAccess() = 0;

    // The sources that capture sound from outside, in the server's order;
    // sources that mirror an output are left out. Empty without a server.
    virtual std::vector<AudioSourceInfo> sources() = 0;
    // The source the system records from by default, when there is one.
    virtual std::optional<AudioSourceInfo> defaultSource() = 0;

    // Starts capturing `id` and returns once sound flows; the error text
    // is for the log.
    virtual Result<std::unique_ptr<AudioSourceCapture>, std::string> open(const std::string& id,
                                                                         AudioSourceHandlers handlers) = 0;
};

}  // namespace hollowkit
