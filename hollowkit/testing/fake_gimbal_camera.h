#pragma once

// FakeGimbalCamera: a PocketCamera whose gimbal has a position. move(to:)
// sets where it heads; each position read first turns it toward that
// target by at most `degreesPerRead` per axis (a real gimbal takes time to
// get there), then reports it. It can be told to report no position, as the
// wireless route does. Everything else is inert. Thread-safe; the hooks run
// outside the lock on the calling thread.

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

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
    mutable std::mutex mutex_;
    CameraPosition position_;                 // guarded by mutex_
    CameraPosition target_;                   // guarded by mutex_
    bool reportsPosition_ = true;             // guarded by mutex_
    double degreesPerRead_ = 3.0;             // guarded by mutex_
    std::optional<ZoomRange> zoomRange_{ZoomRange{100, 400}};  // guarded by mutex_
    std::vector<CameraPosition> moves_;       // guarded by mutex_
    size_t reads_ = 0;                        // guarded by mutex_
    std::function<void()> onPositionRead_;    // guarded by mutex_
    std::function<void(const CameraPosition&)> onMove_;  // guarded by mutex_
};

}  // namespace hollowkit
