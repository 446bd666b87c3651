#pragma once

// Fakes of the screen-recording services: FakeDisplayService (displays,
// names, the access answer and a failure, all set by the test) and
// FakeScreenCaptureBackend, whose captures the test drives by hand: it
// hands the running capture frames of any status and sound chunks on the
// calling thread, or ends it as a vanished display would. Starts can be
// made to fail, or to run a test hook while they are in progress (to stop a
// recorder mid-start).
//
// Thread-safe. Handlers are called with a delivery lock held that a
// capture's destructor also takes, so no handler runs once a capture is
// gone, as the real backend promises.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/recording/display_service.h"
#include "hollowkit/recording/screen_capture_backend.h"

namespace hollowkit {

class FakeDisplayService final : public DisplayService {
public:
    void setDisplays(std::vector<DisplayInfo> displays);
    // displays() fails with `error` while it is set.
    void setFailure(std::optional<std::string> error);
    void setScreenNames(std::map<uint32_t, std::string> names);
    void setCanCapture(bool granted);
    int displaysCalls() const;

    Result<std::vector<DisplayInfo>, std::string> displays() override;
    std::map<uint32_t, std::string> screenNames() override;
    bool canCapture() override;

private:
    mutable Mutex mutex_;
    std::vector<DisplayInfo> displays_ HK_GUARDED_BY(mutex_);
    std::optional<std::string> failure_ HK_GUARDED_BY(mutex_);
    std::map<uint32_t, std::string> names_ HK_GUARDED_BY(mutex_);
    bool canCapture_ HK_GUARDED_BY(mutex_) = true;
    int displaysCalls_ HK_GUARDED_BY(mutex_) = 0;
};

class FakeScreenCaptureBackend final : public ScreenCaptureBackend {
public:
    FakeScreenCaptureBackend();
    ~FakeScreenCaptureBackend() override;

    // start() fails with `error` while it is set.
    void setStartFailure(std::optional<std::string> error);
    // Runs inside start(), before it returns, on the starting thread; in a
    // start that fails too, before it fails.
    void setDuringStart(std::function<void()> hook);

    int startCount() const;
    std::optional<ScreenCaptureRequest> lastRequest() const;
    // A capture is open (started and not yet destroyed).
    bool running() const;

    // Drive the open capture; false when none is open.
    bool emitFrame(VideoFrame frame, ScreenFrameStatus status = ScreenFrameStatus::complete);
    bool emitAudio(AudioChunk chunk);
    bool stopBySystem(const std::string& reason);

    Result<std::unique_ptr<ScreenCapture>, std::string> start(const ScreenCaptureRequest& request,
                                                              ScreenCaptureHandlers handlers) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace hollowkit
