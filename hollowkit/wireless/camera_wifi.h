#pragma once

// CameraWiFi: joins and leaves the camera's own Wi-Fi access point with
// NetworkManager's command-line tool (nmcli), run through CommandRunner. It
// has no other access to the Wi-Fi hardware.
//
// Joining makes an in-memory connection profile for the camera's network
// (never saved, password owned by us, not stored by NetworkManager),
// activates it up to four times and then polls until the interface both
// holds an address on the camera's network and is associated with the
// camera's SSID: an address in the camera's range alone could come from a
// home router using the same range. Success is read from nmcli's exit
// status, never from its text. The password never appears in argv or the
// log: nmcli reads it from a 0600 file that is removed right after the call;
// one a crash left behind is removed when the next CameraWiFi is made.
// A tool that cannot be started or does not answer in time ends the join at
// once with its own failure.
//
// Owner: the wireless camera, one per camera. Made on the main thread
// without running any tool (it only clears stale password files); findDevice, join, forget and powerOff then run on
// the camera's worker thread and block it for as long as the tool and the
// pauses take. device() may be read on any thread.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/stop_flag.h"
#include "hollowkit/wireless/interface_addresses.h"

namespace hollowkit {

struct CameraWiFiTimings {
    int joinAttempts = 4;
    Duration joinRetryPause = std::chrono::milliseconds(2500);
    Duration powerOnPause = std::chrono::seconds(3);
    int addressPolls = 20;
    Duration pollPause = std::chrono::seconds(1);
    // nmcli's own wait for one activation, and our time-out around it.
    int activationWaitSeconds = 20;
    Duration activationTimeout = std::chrono::seconds(30);
    // Every other nmcli call.
    Duration toolTimeout = std::chrono::seconds(10);
};

struct CameraWiFiOptions {
    std::string nmcliPath = "/usr/bin/nmcli";
    // The Wi-Fi interface; none: the first Wi-Fi device nmcli lists, or
    // CameraWiFi::kFallbackDevice when it lists none.
    std::optional<std::string> device;
    // Start of an address on the camera's own network.
    std::string cameraAddressPrefix = "192.168.2.";
    // Where the password file for nmcli is made; empty:
    // WiFiPasswordFile::defaultDirectory().
    std::string passwordDirectory;
    // Where the interface's address is read; null: getifaddrs.
    std::shared_ptr<const InterfaceAddresses> addresses;
    CameraWiFiTimings timings;
    // Waits the given span unless the owner stops first (then false). None:
    // an uninterrupted sleep.
    std::function<bool(Duration)> pause;
    // The owner's stop: once set, the device lookup and the join's tool calls
    // end at once (their tool is killed). The clean-up (forget, powerOff)
    // always runs to its end. None: nothing ends them early.
    const StopFlag* stop = nullptr;
};

enum class WiFiJoinOutcome : uint8_t {
    none = 0,
    joined,           // on the camera's network
    notJoined,        // the polls never found the camera's network
    toolUnavailable,  // nmcli could not be started
    toolTimedOut,     // nmcli did not answer in time
    stopped,          // the owner stopped during a pause
    refused,          // the name or password cannot be handed to nmcli whole
};

struct WiFiJoinResult {
    WiFiJoinOutcome outcome = WiFiJoinOutcome::none;
    // The start error of a tool that could not run; what is wrong with a
    // refused name or password.
    std::string detail;

    bool operator==(const WiFiJoinResult&) const = default;

    bool joined() const { return outcome == WiFiJoinOutcome::joined; }
    // The sentence for the user; empty for `joined` and `stopped`.
    std::string failureMessage() const;
};

class CameraWiFi {
public:
    // The usual name of a first Wi-Fi device when nmcli cannot tell.
    static constexpr const char* kFallbackDevice = "wlan0";

    explicit CameraWiFi(CameraWiFiOptions options);
    CameraWiFi(const CameraWiFi&) = delete;
    CameraWiFi& operator=(const CameraWiFi&) = delete;

    // The first device of type "wifi" that nmcli lists; nothing when none
    // is listed or nmcli fails.
    static std::optional<std::string> wifiDevice(const std::string& nmcliPath, Duration timeout,
                                                 const StopFlag* stop = nullptr);

    // Settles the Wi-Fi device when the options name none: the first Wi-Fi
    // device nmcli lists, else kFallbackDevice. Runs nmcli once (blocking up
    // to the tool time-out); later calls return at once. Worker threads,
    // before join().
    void findDevice();
    // The device; empty until known (given in the options, or findDevice()).
    std::string device() const;
    bool poweredOnByUs() const { return poweredOnByUs_; }

    // Joins the camera's network; see the class comment. A name or password
    // that nmcli cannot be given whole (a NUL byte, a line break) is refused
    // before any tool runs.
    WiFiJoinResult join(const std::string& ssid, const std::string& password);
    // The interface's current IPv4 address, or nothing.
    std::optional<std::string> localAddress() const;
    // Removes the camera network's profile again; logs "Forget <SSID>: "
    // and the tool's output. Nothing for a name join() refuses.
    void forget(const std::string& ssid);
    // Switches the Wi-Fi radio off, only when join() switched it on.
    void powerOff();

    // The name of the profile made for `ssid`.
    static std::string profileName(const std::string& ssid);

    // Parsers of nmcli's terse output (":" separates fields, "\:" and "\\"
    // are escapes). The first "wifi" device of `nmcli -t -f DEVICE,TYPE
    // device`; the SSID of the "yes" line of `nmcli -t -f ACTIVE,SSID device
    // wifi list`.
    static std::optional<std::string> parseWifiDevice(std::string_view deviceList);
    static std::optional<std::string> parseActiveSsid(std::string_view accessPointList);

private:
    // The result of a call, or the join's failure when the tool could not
    // run or timed out.
    struct Call {
        CommandResult result;
        std::optional<WiFiJoinResult> problem;
    };

    enum class Stoppable : uint8_t { no = 0, yes };
    Call nmcli(const std::vector<std::string>& arguments, bool logged, Duration timeout,
               Stoppable stoppable = Stoppable::yes) const;
    std::optional<WiFiJoinResult> ensurePoweredOn();
    bool pause(Duration span) const;

    const CameraWiFiOptions options_;
    std::shared_ptr<const InterfaceAddresses> addresses_;
    const std::string passwordDirectory_;
    mutable Mutex deviceLock_;
    std::string device_ HK_GUARDED_BY(deviceLock_);  // set once
    bool poweredOnByUs_ = false;
};

}  // namespace hollowkit
