#pragma once

// HomeNetworkSetup: moves the camera onto the user's home Wi-Fi, or back to
// its own access point, over the Bluetooth link with DUML request/reply
// exchanges: video mode, leave the access point, wait for the role to change,
// join the network (three attempts). Progress texts go to the status handler.
//
// Owner: the wireless camera, one per connection; it borrows the camera's
// Bluetooth link, which must outlive it. Thread: main executor only; every
// completion, status text and step runs there, and none is called from
// inside the call that started the operation. Destroying the setup ends its
// operations without calling their completions.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/base/result.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/wireless/home_network.h"

namespace hollowkit {

class PocketBluetoothLink;

class HomeNetworkSetup {
public:
    using StatusHandler = std::function<void(const std::string&)>;
    // The camera's reply, or nothing (time-out or replaced by a newer
    // request with the same command key).
    using ExchangeHandler = std::function<void(std::optional<DumlFrame>)>;
    // One search for the camera on the home network. It may work on any
    // thread and calls `done` once, from any thread, with whether the camera
    // was found; the result is taken back to the main executor.
    using Probe = std::function<void(std::function<void(bool found)> done)>;
    using MoveCompletion = std::function<void(Result<void, HomeNetworkError>)>;
    using SwitchBackCompletion = std::function<void(bool backOnAccessPoint)>;

    static constexpr Duration kVideoModePause = std::chrono::seconds(2);
    static constexpr Duration kWiFiStartWait = std::chrono::seconds(10);
    static constexpr Duration kRoleQueryPause = std::chrono::seconds(2);
    static constexpr Duration kJoinRetryPause = std::chrono::seconds(5);
    static constexpr Duration kRoleQueryTimeout = std::chrono::seconds(12);
    static constexpr Duration kAccessPointRequestTimeout = std::chrono::seconds(12);
    static constexpr Duration kJoinTimeout = std::chrono::seconds(45);
    static constexpr int kJoinAttempts = 3;
    static constexpr int kLeaveRoleQueries = 6;
    static constexpr int kReturnRoleQueries = 8;
    // Wi-Fi limits: a network name has 1 to 32 bytes; a password at most 63
    // characters, or 64 hexadecimal digits (a raw key).
    static constexpr size_t kMaxSsidBytes = 32;
    static constexpr size_t kMaxPassphraseBytes = 63;
    static constexpr size_t kRawKeyHexDigits = 64;

    HomeNetworkSetup(Executor& main, PocketBluetoothLink& bluetooth, StatusHandler status);
    ~HomeNetworkSetup();
    HomeNetworkSetup(const HomeNetworkSetup&) = delete;
    HomeNetworkSetup& operator=(const HomeNetworkSetup&) = delete;

    // Sends `frame` and hands back the camera's reply, or nothing after
    // `timeout`.
    void exchange(const DumlFrame& frame, Duration timeout, ExchangeHandler handler);

    // Moves the camera onto `home`. `role` is the camera's current role from
    // a role query (never unsupported). Completes with success when the camera
    // accepted the network or the probe found it there, otherwise with the
    // error. A network whose name or password cannot be valid fails before
    // anything is sent.
    void moveCamera(const HomeNetwork& home, StationRole role, Probe probe, MoveCompletion completion);

    // Brings the camera back to its own access point; true once it reports
    // accessPoint again. Not affected by cancel().
    void switchBack(SwitchBackCompletion completion);

    // Ends every move in progress at once with HomeNetworkError::cancelled.
    void cancel();

    // Checks the network's name and password against the Wi-Fi limits, so an
    // over-long value never reaches a frame.
    static Result<void, HomeNetworkError> validate(const HomeNetwork& home);
    // The join request 07/47: name, then password, each length-prefixed.
    static Result<DumlFrame, HomeNetworkError> joinFrame(const HomeNetwork& home);
    // 07/48 with 01 (leave the access point) or 00 (return to it).
    static DumlFrame accessPointFrame(bool leave);

private:
    class MoveOperation;
    class SwitchBackOperation;
    struct Anchor {
        HomeNetworkSetup* setup;
    };

    Executor& main_;
    PocketBluetoothLink& bluetooth_;
    const StatusHandler status_;
    std::shared_ptr<Anchor> anchor_;
    std::vector<std::weak_ptr<MoveOperation>> moves_;
};

}  // namespace hollowkit
