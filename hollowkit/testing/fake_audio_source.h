#pragma once

// FakeAudioSourceBackend: sound sources that exist only in a test, for the
// USB camera. The test sets the sources (with or without the camera maker's
// USB vendor id), the default, the access answer and open failures, and
// drives the newest open capture by hand: emit() hands it a block on the
// calling thread (any PcmBlock, also malformed ones), fail() ends it as an
// unplugged device would. Every open is recorded.
//
// Thread-safe. Blocks are delivered under a delivery lock that a capture's
// destructor also takes, so no handler runs once a capture is gone.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/usb/audio_source_backend.h"

namespace hollowkit {

class FakeAudioSourceBackend final : public AudioSourceBackend {
public:
    FakeAudioSourceBackend();
    ~FakeAudioSourceBackend() override;
    FakeAudioSourceBackend(const FakeAudioSourceBackend&) = delete;
    FakeAudioSourceBackend& operator=(const FakeAudioSourceBackend&) = delete;

    // Setup.
    void setSources(std::vector<AudioSourceInfo> sources);
    // Counts only when it names one of the sources.
    void setDefaultSourceId(std::optional<std::string> id);
    void setAccess(bool granted);
    void setOpenFailure(const std::string& id, std::string error);
    void clearOpenFailure(const std::string& id);

    // Observation.
    std::vector<std::string> openedIds() const;
    int openCaptureCount() const;
    // The id of the newest capture still open.
    std::optional<std::string> activeCaptureId() const;

    // Driving the newest open capture; false when none is open.
    bool emit(PcmBlock block);
    bool fail(const std::string& why);

    // Blocks for tests: two channels of equal length, interleaved floats
    // (or 16-bit integers) at `sampleRate`.
    static PcmBlock stereoFloat(const std::vector<float>& left, const std::vector<float>& right,
                                double sampleRate = 48000);
    static PcmBlock stereoInt16(const std::vector<int16_t>& left, const std::vector<int16_t>& right,
                                double sampleRate = 48000);

    // AudioSourceBackend
    bool requestAccess() override;
    std::vector<AudioSourceInfo> sources() override;
    std::optional<AudioSourceInfo> defaultSource() override;
    Result<std::unique_ptr<AudioSourceCapture>, std::string> open(const std::string& id,
                                                                 AudioSourceHandlers handlers) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace hollowkit
