#pragma once

// FakeGimbalCamera: a PocketCamera whose gimbal has a position. move(to:)
// sets where it heads; each position read first turns it toward that
// target by at most `degreesPerRead` per axis (a real gimbal takes time to
// get there), then reports it. It can be told to report no position, as the
// wireless route does. Everything else is inert. Thread-safe; the hooks run
// outside the lock on the calling thread.

#include <functional>
#include <optional>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/pocket_camera.h"

namespace hollowkit {

class FakeGimbalCamera final : public PocketCamera {
public:
    explicit FakeGimbalCamera(CameraPosition start = {0, 0, 100});

    void setReportsPosition(bool reports);
    void setDegreesPerRead(double degrees);
    void setZoomRange(std::optional<ZoomRange> range);
    // Where the gimbal is now and where it was last told to go.
    CameraPosition position() const;
    CameraPosition target() const;
    void setPosition(CameraPosition position);

    std::vector<CameraPosition> moves() const;
    size_t positionReads() const;
    // Called inside currentPosition() after the read is counted and before
    // it returns: lets a test act while a caller is mid-read.
    void setOnPositionRead(std::function<void()> hook);
    void setOnMove(std::function<void(const CameraPosition&)> hook);

    GimbalCommands& gimbal() override { return gimbal_; }
    std::optional<ZoomRange> zoomRange() const override;
    bool supportsPositioning() const override;
    bool supportsCardRecording() const override { return false; }
    bool supportsCameraSettings() const override { return false; }
    std::vector<MicrophoneOption> microphones() const override { return {}; }
    std::optional<MicrophoneOption> activeMicrophone() const override { return std::nullopt; }
    std::optional<float> audioLevel() const override { return std::nullopt; }
    std::vector<VideoFormatOption> formats() const override { return {}; }
    std::optional<VideoFormatOption> activeFormat() const override { return std::nullopt; }
    void start() override {}
    void stop(std::function<void()> completion) override;
    void setZoom(int zoomPercent) override;
    std::optional<CameraPosition> currentPosition() override;
    void move(const CameraPosition& to) override;
    void selectMicrophone(std::optional<std::string>) override {}
    void selectFormat(const VideoFormatOption&) override {}
    void flipGimbal() override {}
    void setCardRecording(bool) override {}
    void applySetting(const CameraSetting&) override {}

private:
    GimbalCommands gimbal_;
    mutable Mutex mutex_;
    CameraPosition position_ HK_GUARDED_BY(mutex_);
    CameraPosition target_ HK_GUARDED_BY(mutex_);
    bool reportsPosition_ HK_GUARDED_BY(mutex_) = true;
    double degreesPerRead_ HK_GUARDED_BY(mutex_) = 3.0;
    std::optional<ZoomRange> zoomRange_ HK_GUARDED_BY(mutex_) {ZoomRange{100, 400}};
    std::vector<CameraPosition> moves_ HK_GUARDED_BY(mutex_);
    size_t reads_ HK_GUARDED_BY(mutex_) = 0;
    std::function<void()> onPositionRead_ HK_GUARDED_BY(mutex_);
    std::function<void(const CameraPosition&)> onMove_ HK_GUARDED_BY(mutex_);
};

}  // namespace hollowkit
