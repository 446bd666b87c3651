#pragma once

// PulseAudioSourceBackend: the USB camera's sound sources through the
// shared sound server client (hollowkit/media/linux/pulse_client.h), on its
// own main loop thread ("HollowKit.USBPulse"). Sources are listed with their
// description as the name and the USB vendor id from the source's
// "device.vendor.id" property; sources that mirror an output (".monitor")
// are left out. A capture records the source in its own rate and channel
// count as interleaved 32-bit floats and delivers each fragment as it
// arrives, stamped on CLOCK_MONOTONIC: the first block by its arrival,
// later ones by counting frames, taken again after lost data or when the
// count drifts away from the arrivals.
//
// Thread-safe; captures may outlive the backend object.

#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/media/linux/pulse_client.h"
#include "hollowkit/usb/audio_source_backend.h"

namespace hollowkit {

class PulseAudioSourceBackend final : public AudioSourceBackend {
public:
    using Options = PulseClient::Options;

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

private:
    PulseClient client_;
};

}  // namespace hollowkit
