#pragma once

// DemoQuietCamera: a demonstration camera that never shows a picture, for
// the states a person meets before one comes: one that says it is
// connecting and no more (the window stays "Connecting"), or one that says
// at once that the camera is off. Each says it once, posted after start, as
// a route reports its progress or a camera gone quiet.
// It offers what its route offers (positions on USB, the card and settings
// over Wi-Fi) but no formats, microphones or zoom limits; every operation
// is accepted and does nothing. stop() reports `stopped`, then completes.
// Main executor only, but for the properties (any thread).

#include <cstdint>

#include "hollowkit/base/executor.h"
#include "hollowkit/camera/pocket_camera.h"
#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

class DemoQuietCamera final : public hollowkit::PocketCamera {
public:
    // What it says once started: nothing, the status "Connecting", or that
    // the camera is off.
    enum class Answer : uint8_t { none, connecting, cameraOff };

    // `main` must outlive the camera.
    DemoQuietCamera(hollowkit::Executor& main, ConnectionMode route, Answer answer);

    hollowkit::GimbalCommands& gimbal() override { return gimbal_; }
    std::optional<hollowkit::ZoomRange> zoomRange() const override { return std::nullopt; }
    bool supportsPositioning() const override { return route_ == ConnectionMode::usb; }
    bool supportsCardRecording() const override { return route_ == ConnectionMode::wireless; }
    bool supportsCameraSettings() const override { return route_ == ConnectionMode::wireless; }
    std::vector<hollowkit::MicrophoneOption> microphones() const override { return {}; }
    std::optional<hollowkit::MicrophoneOption> activeMicrophone() const override { return std::nullopt; }
    std::optional<float> audioLevel() const override { return std::nullopt; }
    std::vector<hollowkit::VideoFormatOption> formats() const override { return {}; }
    std::optional<hollowkit::VideoFormatOption> activeFormat() const override { return std::nullopt; }

    void start() override;
    void stop(std::function<void()> completion) override;
    void setZoom(int) override {}
    std::optional<hollowkit::CameraPosition> currentPosition() override { return std::nullopt; }
    void move(const hollowkit::CameraPosition&) override {}
    void selectMicrophone(std::optional<std::string>) override {}
    void selectFormat(const hollowkit::VideoFormatOption&) override {}
    void flipGimbal() override {}
    void setCardRecording(bool) override {}
    void applySetting(const hollowkit::CameraSetting&) override {}

private:
    hollowkit::Executor& main_;
    const ConnectionMode route_;
    const Answer answer_;
    hollowkit::GimbalCommands gimbal_;
};

}  // namespace lumenhollow
