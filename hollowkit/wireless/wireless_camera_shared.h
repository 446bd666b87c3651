#pragma once

// What the wireless camera shares with its worker threads (the video thread
// and the discovery worker): the environment, the stop gate, the command
// queue, the gimbal mailbox and the Wi-Fi control, kept alive by the workers
// for as long as they run, and the guarded way back to the camera itself.
// Internal to the camera's two source files.

#include <condition_variable>
#include <memory>

#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/command_queue.h"
#include "hollowkit/camera/gimbal_commands.h"
#include "hollowkit/wireless/camera_wifi.h"
#include "hollowkit/wireless/stop_gate.h"
#include "hollowkit/wireless/wireless_camera.h"

namespace hollowkit {

struct WirelessCamera::Shared : std::enable_shared_from_this<Shared> {
    Shared(NetworkEnvironment environment, std::string pairingIdentifier);

    const NetworkEnvironment env;
    const std::string identifier;
    StopGate gate;
    CommandQueue commands;
    GimbalCommands gimbal;
    CameraWiFi wifi;  // after `gate`: its pauses wait on it

    // The camera while it exists. Main executor only: the destructor clears
    // it there, so the main executor reads it without waiting.
    WirelessCamera* mainCamera();

    // Worker threads: runs `use` with the camera while it exists, without
    // holding the lock during the call; the destructor waits for calls in
    // progress. False when the camera is gone.
    template <typename Use>
    bool withCamera(Use&& use) {
        WirelessCamera* camera = nullptr;
        {
            MutexLock lock(mutex_);
            if (camera_ == nullptr) return false;
            camera = camera_;
            ++users_;
        }
        use(*camera);
        {
            MutexLock lock(mutex_);
            --users_;
        }
        released_.notify_all();
        return true;
    }

    // Worker threads: logs and delivers an event (dropped once the camera is
    // gone, still logged).
    void emitFromWorker(const CameraEvent& event);
    // Worker threads: runs `step` with the camera on the main executor, if
    // the camera still exists then.
    void postToCamera(std::function<void(WirelessCamera&)> step);

    void attach(WirelessCamera& camera);
    // Closes the way back and waits until no worker uses the camera.
    void detach();

private:
    Mutex mutex_;
    std::condition_variable released_;
    WirelessCamera* camera_ HK_GUARDED_BY(mutex_) = nullptr;
    int users_ HK_GUARDED_BY(mutex_) = 0;
};

}  // namespace hollowkit
