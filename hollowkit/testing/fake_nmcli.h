#pragma once

// FakeNmcli: a stand-in for NetworkManager's nmcli, written as a /bin/sh
// script into a temporary folder (removed with the object). It answers the
// calls CameraWiFi makes: the device list, the radio state and switch,
// adding, activating and deleting a connection profile, and the list of
// access points with the associated one. State lives in files beside the
// script, so it holds across calls. Every call's arguments are recorded
// (one line per call, joined by spaces), and the password file handed to an
// activation is checked (mode 0600 and the expected line) without its
// content ever being written to the record.
//
// Scenarios: Wi-Fi radio off until switched on, the first N activations
// failing with a text, a different network associated after activation (a
// router on the camera's address range), a call that never ends.
// Any thread; the script itself is run by CommandRunner.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hollowkit/base/result.h"

namespace hollowkit {

struct FakeNmcliOptions {
    // (device, type) as `nmcli -t -f DEVICE,TYPE device` lists them.
    std::vector<std::pair<std::string, std::string>> devices{{"lo", "loopback"}, {"wlan0", "wifi"}};
    bool radioOn = true;
    // The first N activations fail (exit status 4) printing `failureText`.
    int failingActivations = 0;
    std::string failureText = "Error: Connection activation failed: Secrets were required, but not provided.";
    // The network associated after a successful activation; none: the
    // profile's own SSID.
    std::optional<std::string> associatedSsid;
    // A call whose arguments contain this text never ends; empty: none.
    std::string hangOn;
    // The password the activation's password file must carry.
    std::string expectedPassword;
};

class FakeNmcli {
public:
    static Result<std::unique_ptr<FakeNmcli>, std::string> create(const FakeNmcliOptions& options = {});
    ~FakeNmcli();
    FakeNmcli(const FakeNmcli&) = delete;
    FakeNmcli& operator=(const FakeNmcli&) = delete;

    // The script's absolute path, for CameraWiFi's nmcliPath.
    const std::string& path() const { return path_; }

    // Every call's arguments joined by single spaces, in call order.
    std::vector<std::string> calls() const;
    // Calls whose arguments start with `prefix`.
    int count(std::string_view prefix) const;
    // The whole record as written (to look for text that must not be there).
    std::string record() const;
    // One entry per activation that got a password file: "ok <path>" when
    // its mode was 0600 and it held the expected line, else "bad <path>".
    std::vector<std::string> passwordFileChecks() const;
    bool radioOn() const;
    // The SSID associated now, if any.
    std::optional<std::string> activeSsid() const;

private:
    FakeNmcli(std::string directory, std::string path) : directory_(std::move(directory)), path_(std::move(path)) {}
    std::string read(const char* name) const;

    const std::string directory_;
    const std::string path_;
};

}  // namespace hollowkit
