#pragma once

// PulseAudioSourceBackend: the USB camera's sound sources through libpulse
// (PulseAudio, or PipeWire's Pulse service). Sources are listed with their
// description as the name and the USB vendor id from the source's
// "device.vendor.id" property; sources that mirror an output (".monitor")
// are left out. A capture records the source in its own rate and channel
// count as interleaved 32-bit floats and delivers each fragment as it
// arrives, from the threaded main loop ("HollowKit.USBPulse"), stamped on
// CLOCK_MONOTONIC: the first block by its arrival, later ones by counting
// frames, taken again after lost data or when the count drifts away from
// the arrivals.
//
// One main loop and one server connection per backend, made on first use
// and made again after the server went away. Thread-safe; captures may
// outlive the backend object.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hollowkit/base/clock.h"
#include "hollowkit/usb/audio_source_backend.h"

namespace hollowkit {

// "2ca3", "0x2CA3" -> 0x2CA3; nothing for anything else.
std::optional<uint16_t> parseUsbVendorId(std::string_view text);

class PulseAudioSourceBackend final : public AudioSourceBackend {
public:
    struct Options {
        // "unix:/path/to/native"; empty for the user's default server.
        std::string server;
        // Longest wait for one answer of the server.
        Duration timeout = std::chrono::seconds(5);
    };

    PulseAudioSourceBackend();
    explicit PulseAudioSourceBackend(Options options);
    ~PulseAudioSourceBackend() override;
    PulseAudioSourceBackend(const PulseAudioSourceBackend&) = delete;
    PulseAudioSourceBackend& operator=(const PulseAudioSourceBackend&) = delete;

    bool requestAccess() override { return true; }
    std::vector<AudioSourceInfo> sources() override;
    std::optional<AudioSourceInfo> defaultSource() override;
    Result<std::unique_ptr<AudioSourceCapture>, std::string> open(const std::string& id,
                                                                 AudioSourceHandlers handlers) override;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace hollowkit
