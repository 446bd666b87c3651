#include "hollowkit/recording/linux/pulse_audio_input.h"

#include <cstring>
#include <utility>

namespace hollowkit {

namespace {

MicrophoneError microphoneError(const PulseError& error) {
    return error.refused() ? MicrophoneError::notAllowed(error.detail) : MicrophoneError::unavailable(error.detail);
}

AudioInputOption optionOf(PulseSource source) {
    return {std::move(source.id), std::move(source.name)};
}

}  // namespace

PulseAudioInputBackend::PulseAudioInputBackend() : PulseAudioInputBackend(Options{}) {}

PulseAudioInputBackend::PulseAudioInputBackend(Options options)
    : client_(std::move(options), "HollowKit.PulseInput") {}

PulseAudioInputBackend::~PulseAudioInputBackend() = default;

MicrophoneAccess PulseAudioInputBackend::access() const {
    return MicrophoneAccess::authorized;
}

bool PulseAudioInputBackend::requestAccess() {
    return true;
}

std::vector<AudioInputOption> PulseAudioInputBackend::inputs() {
    std::vector<AudioInputOption> inputs;
    if (auto sources = client_.sources()) {
        for (PulseSource& source : *sources) {
            if (!source.monitor) inputs.push_back(optionOf(std::move(source)));
        }
    }
    return inputs;
}

std::optional<AudioInputOption> PulseAudioInputBackend::defaultInput() {
    if (auto source = client_.defaultSource()) return optionOf(std::move(*source));
    return std::nullopt;
}

Result<std::unique_ptr<AudioCapture>, MicrophoneError> PulseAudioInputBackend::open(const std::string& id,
                                                                                   AudioCaptureHandlers handlers) {
    PulseClient::RecordOptions options;
    options.streamName = "Microphone";
    options.maxChannels = AudioChunk::kMaxChannels;
    PulseRecordHandlers pulseHandlers;
    if (handlers.onChunk) {
        pulseHandlers.onFragment = [onChunk = std::move(handlers.onChunk)](const PulseFragment& fragment) {
            WritableAudioChunk chunk = WritableAudioChunk::allocate(
                SampleFormat::f32, static_cast<int>(fragment.rate), fragment.channels, fragment.frames);
            if (!chunk) return;
            // memcpy: the server's block need not be aligned for floats.
            std::memcpy(chunk.f32().data(), fragment.data, fragment.frames * fragment.channels * sizeof(float));
            onChunk(std::move(chunk).freeze(fragment.pts));
        };
    }
    if (handlers.onFailure) {
        pulseHandlers.onFailure = [onFailure = std::move(handlers.onFailure)](const PulseError& error) {
            onFailure(microphoneError(error));
        };
    }
    auto recording = client_.record(id, std::move(options), std::move(pulseHandlers));
    if (!recording) return unexpected(microphoneError(recording.error()));
    return std::unique_ptr<AudioCapture>(
        std::make_unique<PulseRecordingAs<AudioCapture>>(std::move(recording).value()));
}

}  // namespace hollowkit
