#include "hollowkit/usb/linux/pulse_audio_source.h"

#include <utility>

namespace hollowkit {

namespace {

// Lateness is checked at every delivery: a count more than this behind
// the arrivals (a sound card clock a little slow, a stall) is taken again.
constexpr auto kBehindLimit = std::chrono::milliseconds(500);

AudioSourceInfo infoOf(PulseSource source) {
    return {std::move(source.id), std::move(source.name), source.usbVendorId};
}

}  // namespace

PulseAudioSourceBackend::PulseAudioSourceBackend() : PulseAudioSourceBackend(Options{}) {}

PulseAudioSourceBackend::PulseAudioSourceBackend(Options options)
    : client_(std::move(options), "HollowKit.USBPulse") {}

PulseAudioSourceBackend::~PulseAudioSourceBackend() = default;

std::vector<AudioSourceInfo> PulseAudioSourceBackend::sources() {
    std::vector<AudioSourceInfo> sources;
    if (auto all = client_.sources()) {
        for (PulseSource& source : *all) {
            if (!source.monitor) sources.push_back(infoOf(std::move(source)));
        }
    }
    return sources;
}

std::optional<AudioSourceInfo> PulseAudioSourceBackend::defaultSource() {
    if (auto source = client_.defaultSource()) return infoOf(std::move(*source));
    return std::nullopt;
}

Result<std::unique_ptr<AudioSourceCapture>, std::string> PulseAudioSourceBackend::open(const std::string& id,
                                                                                      AudioSourceHandlers handlers) {
    PulseClient::RecordOptions options;
    options.streamName = "USB camera sound";
    options.lateLimit = kBehindLimit;
    options.latenessWindow = Duration::zero();
    PulseRecordHandlers pulseHandlers;
    if (handlers.onBlock) {
        pulseHandlers.onFragment = [onBlock = std::move(handlers.onBlock)](const PulseFragment& fragment) {
            PcmBlock block;
            block.format = PcmFormat{true, static_cast<double>(fragment.rate), fragment.channels, 32, true, false};
            block.frameCount = fragment.frames;
            const auto* bytes = static_cast<const uint8_t*>(fragment.data);
            block.buffers.emplace_back(bytes, bytes + fragment.frames * fragment.channels * sizeof(float));
            block.pts = fragment.pts;
            onBlock(std::move(block));
        };
    }
    if (handlers.onFailure) {
        pulseHandlers.onFailure = [onFailure = std::move(handlers.onFailure)](const PulseError& error) {
            onFailure(error.detail);
        };
    }
    auto recording = client_.record(id, std::move(options), std::move(pulseHandlers));
    if (!recording) return unexpected(recording.error().detail);
    return std::unique_ptr<AudioSourceCapture>(
        std::make_unique<PulseRecordingAs<AudioSourceCapture>>(std::move(recording).value()));
}

}  // namespace hollowkit
