// CameraModel: this computer's microphone, which gives recordings over the
// wireless route their sound (the camera's Wi-Fi picture carries none). Its
// sound goes into the capture tap like the camera's. The microphone counts
// as recording only once its device runs; a start overtaken by the end of
// its recording (while access is asked, or while the device opens) never
// leaves a microphone running, and a device that fails later is told as a
// notice. Whenever it turns out that no sound will come, the movie is told
// so, and starts without waiting for it.

#include <algorithm>

#include "hollowkit/base/pocket_log.h"
#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

// The input a microphone opens for the stored choice; nothing: the default.
std::optional<std::string> macMicrophoneInputFor(const std::string& choice) {
    if (choice.empty()) return std::nullopt;
    return choice;
}

}  // namespace

bool CameraModel::usesMacMicrophone() const {
    return state_.connection == ConnectionMode::wireless && state_.wirelessMicID != kMacMicrophoneOff;
}

void CameraModel::refreshMacMicrophones() {
    std::vector<hollowkit::AudioInputOption> inputs;
    if (services_.audioInputs) inputs = hollowkit::MacMicrophone::availableInputs(*services_.audioInputs);
    publish<Field::macMicrophones>(std::move(inputs));
}

std::optional<std::string> CameraModel::defaultMacMicrophoneName() {
    if (!services_.audioInputs) return std::nullopt;
    std::optional<hollowkit::AudioInputOption> input = services_.audioInputs->defaultInput();
    if (!input) return std::nullopt;
    return std::move(input->name);
}

bool CameraModel::isWirelessMicrophoneMissing() const {
    const std::string& id = state_.wirelessMicID;
    if (id.empty() || id == kMacMicrophoneOff) return false;
    return std::ranges::none_of(state_.macMicrophones,
                                [&id](const hollowkit::AudioInputOption& input) { return input.id == id; });
}

void CameraModel::chooseCameraMicrophone(std::optional<std::string> id) {
    publish<Field::automaticMicrophone>(!id.has_value());
    camera_->selectMicrophone(std::move(id));
}

void CameraModel::startMacMicrophone(std::function<void(bool running)> done) {
    // One kept running for the movie before (the sound of its last frames)
    // still records the input chosen then: a new choice starts afresh. The
    // movie before loses nothing, its sound stopped going to it when this
    // recording took the tap.
    if (macMic_.device && usesMacMicrophone() && macMic_.input != macMicrophoneInputFor(state_.wirelessMicID)) {
        stopMacMicrophone();
    }
    if (macMic_.device || macMic_.pending) {
        // Running, or starting: the caller hears when that start has ended.
        if (done) {
            if (macMic_.pending || !macMic_.running) {
                macMic_.waiters.push_back(std::move(done));
            } else {
                main_.post([done = std::move(done)] { done(true); });
            }
        }
        return;
    }
    if (!usesMacMicrophone()) {
        if (done) main_.post([done = std::move(done)] { done(false); });
        return;
    }
    if (done) macMic_.waiters.push_back(std::move(done));
    const uint64_t generation = ++macMic_.generation;
    macMic_.pending = true;
    hollowkit::AudioInputBackend* backend = services_.audioInputs;
    if (!backend) {
        continueMacMicrophone(generation, true);  // reports the missing input
        return;
    }
    switch (backend->access()) {
        case hollowkit::MicrophoneAccess::authorized:
            openMacMicrophone(generation);
            return;
        case hollowkit::MicrophoneAccess::denied:
            continueMacMicrophone(generation, false);
            return;
        case hollowkit::MicrophoneAccess::notDetermined:
        case hollowkit::MicrophoneAccess::none:
            break;
    }
    // Asking may wait for the user; never on the main executor.
    if (!macMic_.accessQueue)
        macMic_.accessQueue = std::make_unique<hollowkit::SerialQueue>("Lumenhollow.MicrophoneAccess");
    macMic_.accessQueue->post([backend, main = &main_, weak = weak_from_this(), generation] {
        const bool allowed = hollowkit::MacMicrophone::requestAccess(*backend);
        main->post([weak, generation, allowed] {
            if (auto self = weak.lock()) self->continueMacMicrophone(generation, allowed);
        });
    });
}

void CameraModel::continueMacMicrophone(uint64_t generation, bool allowed) {
    // The recording that asked has ended meanwhile (its stop settled the waiters).
    if (generation != macMic_.generation || !macMic_.pending) return;
    if (!allowed) {
        macMic_.pending = false;
        postNotice(hollowkit::MicrophoneError::notAllowed().userMessage());
        microphoneWillNotRecord();
        settleMicrophoneWaiters(false);
        return;
    }
    if (!services_.audioInputs) {
        macMic_.pending = false;
        postNotice(hollowkit::MicrophoneError::unavailable().userMessage());
        microphoneWillNotRecord();
        settleMicrophoneWaiters(false);
        return;
    }
    openMacMicrophone(generation);
}

void CameraModel::openMacMicrophone(uint64_t generation) {
    auto microphone = std::make_unique<hollowkit::MacMicrophone>(*services_.audioInputs, main_);
    // The tap, never the model: sound must not wait for the main executor.
    microphone->setOnSample([tap = tap_](const hollowkit::AudioChunk& chunk) { tap->appendAudio(chunk); });
    microphone->setOnFailure([weak = weak_from_this(), generation](const hollowkit::MicrophoneError& error) {
        if (auto self = weak.lock()) self->handleMicrophoneFailure(generation, error);
    });
    macMic_.device = std::move(microphone);
    macMic_.pending = true;
    macMic_.running = false;
    macMic_.input = macMicrophoneInputFor(state_.wirelessMicID);
    macMic_.device->start(macMic_.input, [weak = weak_from_this(), generation](
                                                const hollowkit::MacMicrophone::StartResult& result) {
        if (auto self = weak.lock()) self->handleMicrophoneStarted(generation, result);
    });
}

void CameraModel::handleMicrophoneStarted(uint64_t generation, const hollowkit::MacMicrophone::StartResult& result) {
    if (generation != macMic_.generation) {
        // Stopped while starting: its start has ended now, so it can go
        // without waiting. Not from inside its own completion, though.
        if (auto stopped = macMic_.stopping.find(generation); stopped != macMic_.stopping.end()) {
            main_.post([microphone = std::shared_ptr<hollowkit::MacMicrophone>(std::move(stopped->second))] {});
            macMic_.stopping.erase(stopped);
        }
        return;
    }
    macMic_.pending = false;
    if (result) {
        macMic_.running = true;
        // The remembered input is gone: the default one records instead,
        // and the user learns why the sound is not the chosen one.
        const std::string& wanted = state_.wirelessMicID;
        if (!wanted.empty() && wanted != kMacMicrophoneOff && result.value().id != wanted) {
            hollowkit::PocketLog::log("The Mac microphone " + wanted + " is gone; recording from " +
                                      result.value().name);
            postNotice(std::string(kMissingMicrophoneNotice));
        }
        settleMicrophoneWaiters(true);
        return;
    }
    if (result.error().kind != hollowkit::MicrophoneError::Kind::cancelled) {
        postNotice(result.error().userMessage());
    }
    main_.post([microphone = std::shared_ptr<hollowkit::MacMicrophone>(std::move(macMic_.device))] {});
    macMic_.running = false;
    microphoneWillNotRecord();
    settleMicrophoneWaiters(false);
}

void CameraModel::handleMicrophoneFailure(uint64_t generation, const hollowkit::MicrophoneError& error) {
    if (generation != macMic_.generation || !macMic_.device) return;
    hollowkit::PocketLog::log("The Mac microphone stopped during a recording: " + error.detail);
    postNotice(error.userMessage());
    main_.post([microphone = std::shared_ptr<hollowkit::MacMicrophone>(std::move(macMic_.device))] {});
    macMic_.running = false;
    macMic_.pending = false;
    microphoneWillNotRecord();
    settleMicrophoneWaiters(false);
}

void CameraModel::microphoneWillNotRecord() {
    if (recording_.recorder) recording_.recorder->noAudioExpected();
    if (takes_.session && takes_.session->camera) takes_.session->camera->noAudioExpected();
}

void CameraModel::stopMacMicrophone() {
    ++macMic_.generation;
    const bool wasPending = macMic_.pending;
    macMic_.pending = false;
    if (macMic_.device) {
        // Once stop() returns no more of its sound reaches the tap.
        macMic_.device->stop();
        if (wasPending) {
            // Its start is still under way: destroying it now would wait for
            // the sound server; its completion releases it instead.
            macMic_.stopping.emplace(macMic_.generation - 1, std::move(macMic_.device));
        }
        macMic_.device.reset();
    }
    macMic_.running = false;
    settleMicrophoneWaiters(false);
}

void CameraModel::settleMicrophoneWaiters(bool running) {
    for (auto& waiter : std::exchange(macMic_.waiters, {})) {
        main_.post([waiter = std::move(waiter), running] { waiter(running); });
    }
}

}  // namespace lumenhollow
