#include "hollowkit/usb/usb_camera.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/usb/pcm_block_conversion.h"
#include "hollowkit/usb/pocket_device_tests.h"

// The USB camera's microphones: which input records (the user's choice, else
// the automatic one), what the camera lists, and the sound on its way out.

namespace hollowkit {

// ---- microphones (capture queue) ----

void USBCamera::selectMicrophone(std::optional<std::string> id) {
    enqueue(captureQueue_, [id = std::move(id)](USBCamera& camera) {
        camera.manualMicrophoneId_ = id;
        camera.chooseMicrophone();
    });
}

std::vector<AudioSourceInfo> USBCamera::permittedAudioDevices() {
    if (!audioPermitted_) return {};
    return services_.audio.sources();
}

void USBCamera::chooseMicrophone() {
    const std::vector<AudioSourceInfo> devices = permittedAudioDevices();
    std::optional<AudioSourceInfo> chosen;
    if (manualMicrophoneId_) {
        const auto found = std::find_if(devices.begin(), devices.end(), [&](const AudioSourceInfo& device) {
            return device.id == *manualMicrophoneId_;
        });
        if (found != devices.end()) chosen = *found;
    }
    // Without permission nothing is attached, not even the system default.
    if (!chosen && audioPermitted_) {
        chosen = automaticMicrophone(devices, [this] { return services_.audio.defaultSource(); });
    }
    const bool unchanged = (chosen && audioInput_ && chosen->id == audioInput_->id) || (!chosen && !audioInput_);
    if (!unchanged) attachMicrophone(chosen);
    publishMicrophones(devices);
}

void USBCamera::attachMicrophone(const std::optional<AudioSourceInfo>& device) {
    audioCapture_.reset();
    audioInput_.reset();
    const uint64_t generation = ++audioGeneration_;
    currentAudioGeneration_ = generation;
    if (device) {
        AudioSourceHandlers handlers;
        handlers.onBlock = [this, generation](PcmBlock block) { deliverAudio(std::move(block), generation); };
        handlers.onFailure = [this, generation](const std::string& why) {
            enqueue(captureQueue_, [generation, why](USBCamera& camera) { camera.audioCaptureFailed(generation, why); });
        };
        auto opened = services_.audio.open(device->id, std::move(handlers));
        if (opened) {
            audioCapture_ = std::move(opened).value();
            audioInput_ = device;
            PocketLog::log("Microphone: " + device->name + (manualMicrophoneId_ ? "" : " (automatic)"));
        }
    }
    hearsWirelessMic_ = false;
    audioLevelDb_ = std::numeric_limits<float>::quiet_NaN();
    {
        MutexLock lock(stateLock_);
        hasAudioInput_ = audioInput_.has_value();
    }
    const bool cameraAudio = audioInput_ && isCameraAudio(*audioInput_);
    enqueue(audioQueue_, [cameraAudio, generation](USBCamera& camera) {
        camera.micDetector_ = cameraAudio ? std::optional<WirelessMicDetector>(WirelessMicDetector{}) : std::nullopt;
        camera.detectorGeneration_ = generation;
    });
}

MicrophoneOption USBCamera::microphoneOption(const AudioSourceInfo& device) const {
    if (hearsWirelessMic_ && audioInput_ && audioInput_->id == device.id) {
        return MicrophoneOption{device.id, "DJI Mic", device.name};
    }
    return MicrophoneOption{device.id, device.name, std::nullopt};
}

void USBCamera::publishMicrophones(const std::vector<AudioSourceInfo>& devices) {
    std::vector<MicrophoneOption> options;
    options.reserve(devices.size());
    for (const AudioSourceInfo& device : devices) options.push_back(microphoneOption(device));
    std::optional<MicrophoneOption> active;
    if (audioInput_) active = microphoneOption(*audioInput_);
    {
        MutexLock lock(stateLock_);
        microphones_ = std::move(options);
        activeMicrophone_ = std::move(active);
    }
    emit(CameraEvent::devicesChanged());
}

void USBCamera::setHearsWirelessMic(bool hears, uint64_t generation) {
    // A decision about an input that has since been replaced means nothing.
    if (generation != audioGeneration_ || hears == hearsWirelessMic_ || !audioInput_ || !isCameraAudio(*audioInput_)) {
        return;
    }
    hearsWirelessMic_ = hears;
    if (hears) {
        PocketLog::log("Microphone: DJI Mic heard through " + audioInput_->name);
    } else {
        PocketLog::log("Microphone: " + audioInput_->name + " built-in mics");
    }
    publishMicrophones(permittedAudioDevices());
}

void USBCamera::audioCaptureFailed(uint64_t generation, const std::string& why) {
    if (generation != audioGeneration_ || !audioInput_) return;
    PocketLog::log("Microphone stopped: " + audioInput_->name + ": " + why);
    // The input is dropped, not chosen again here: a source that fails at
    // once would otherwise be reopened in a loop. Plugging in again, or a
    // choice by the user, chooses anew.
    attachMicrophone(std::nullopt);
    publishMicrophones(permittedAudioDevices());
}

void USBCamera::audioDeviceChanged(const DeviceChange& change) {
    if (change.kind != DeviceChange::Kind::audio) return;
    PocketLog::log(std::string("Audio device ") + (change.connected ? "connected" : "disconnected") + ": " +
                   change.name);
    enqueue(captureQueue_, [](USBCamera& camera) { camera.chooseMicrophone(); });
}

// ---- sound (backend thread, then audio queue) ----

void USBCamera::deliverAudio(PcmBlock block, uint64_t generation) {
    // A stalled audio queue drops sound rather than hoarding it.
    if (pendingAudioBlocks_.load() >= kMaxPendingAudioBlocks) return;
    ++pendingAudioBlocks_;
    const bool queued = enqueue(audioQueue_, [block = std::move(block), generation](USBCamera& camera) {
        --camera.pendingAudioBlocks_;
        camera.handleAudio(block, generation);
    });
    if (!queued) --pendingAudioBlocks_;
}

void USBCamera::handleAudio(const PcmBlock& block, uint64_t generation) {
    if (micDetector_ && detectorGeneration_ == generation) {
        if (micDetector_->analyze(block) && micDetector_->source) {
            const bool wireless = *micDetector_->source == WirelessMicDetector::Source::wirelessMic;
            enqueue(captureQueue_,
                    [wireless, generation](USBCamera& camera) { camera.setHearsWirelessMic(wireless, generation); });
        }
    }
    const AudioChunk chunk = audioChunkFromPcm(block);
    if (!chunk) return;
    if (generation == currentAudioGeneration_.load()) {
        audioLevelDb_ = averagePowerDb(chunk).value_or(std::numeric_limits<float>::quiet_NaN());
    }
    callOnAudioSample(chunk);
}

}  // namespace hollowkit
