#include "hollowkit/wireless/camera_wifi.h"

#include <thread>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/wireless/wifi_password_file.h"

namespace hollowkit {
namespace {

// One line of nmcli's terse output split at unescaped colons, with "\:" and
// "\\" turned back into ":" and "\".
std::vector<std::string> terseFields(std::string_view line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            fields.back().push_back(line[++i]);
        } else if (c == ':') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) out.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return out;
}

std::string outputOrStatus(const CommandResult& result) {
    return result.output.empty() ? "exit status " + std::to_string(result.status) : result.output;
}

// What cannot reach nmcli whole: an argument ends at a NUL byte, the
// password file's line at a line break, and the list of networks read to
// confirm the join is read line by line. A WPA password is printable ASCII
// anyway; quotes, dashes and shell characters pass as they are.
std::optional<std::string> unusable(const std::string& ssid, const std::string& password) {
    const auto check = [](const std::string& text, const char* what) -> std::optional<std::string> {
        if (text.find('\0') != std::string::npos) return std::string(what) + " holds a NUL byte";
        if (text.find_first_of("\r\n") != std::string::npos) return std::string(what) + " holds a line break";
        return std::nullopt;
    };
    if (auto problem = check(ssid, "the network name")) return problem;
    return check(password, "the password");
}

}  // namespace

std::string WiFiJoinResult::failureMessage() const {
    switch (outcome) {
    case WiFiJoinOutcome::notJoined:
        return "Could not join the camera Wi-Fi";
    case WiFiJoinOutcome::toolUnavailable:
        return "Could not run the Wi-Fi tool nmcli: " + (detail.empty() ? std::string("unknown error") : detail);
    case WiFiJoinOutcome::toolTimedOut:
        return "The Wi-Fi tool nmcli did not answer in time";
    case WiFiJoinOutcome::refused:
        return "Could not join the camera Wi-Fi: " + detail;
    case WiFiJoinOutcome::none:
    case WiFiJoinOutcome::joined:
    case WiFiJoinOutcome::stopped:
        break;
    }
    return {};
}

CameraWiFi::CameraWiFi(CameraWiFiOptions options)
    : options_(std::move(options)),
      addresses_(options_.addresses ? options_.addresses : std::make_shared<SystemInterfaceAddresses>()),
      passwordDirectory_(options_.passwordDirectory.empty() ? WiFiPasswordFile::defaultDirectory()
                                                            : options_.passwordDirectory) {
    if (options_.device && !options_.device->empty()) {
        device_ = *options_.device;
    }
    // A crash while nmcli ran leaves its password file behind; files a
    // running join holds stay.
    WiFiPasswordFile::removeStale(passwordDirectory_);
}

void CameraWiFi::findDevice() {
    if (!device().empty()) return;
    // The tool runs outside the lock, so device() never waits for it; only
    // the camera's one worker calls this, so no second lookup can race.
    std::string found =
        wifiDevice(options_.nmcliPath, options_.timings.toolTimeout, options_.stop).value_or(kFallbackDevice);
    MutexLock lock(deviceLock_);
    if (device_.empty()) device_ = std::move(found);
}

std::string CameraWiFi::device() const {
    MutexLock lock(deviceLock_);
    return device_;
}

std::optional<std::string> CameraWiFi::wifiDevice(const std::string& nmcliPath, Duration timeout,
                                                 const StopFlag* stop) {
    const CommandResult result =
        CommandRunner::run(nmcliPath, {"-t", "-f", "DEVICE,TYPE", "device"}, {}, false, timeout, stop);
    if (result.status != 0) {
        return std::nullopt;
    }
    return parseWifiDevice(result.output);
}

std::optional<std::string> CameraWiFi::parseWifiDevice(std::string_view deviceList) {
    for (std::string_view line : lines(deviceList)) {
        auto fields = terseFields(line);
        if (fields.size() == 2 && fields[1] == "wifi" && !fields[0].empty()) {
            return fields[0];
        }
    }
    return std::nullopt;
}

std::optional<std::string> CameraWiFi::parseActiveSsid(std::string_view accessPointList) {
    for (std::string_view line : lines(accessPointList)) {
        auto fields = terseFields(line);
        if (fields.size() == 2 && fields[0] == "yes") {
            return fields[1];
        }
    }
    return std::nullopt;
}

std::string CameraWiFi::profileName(const std::string& ssid) { return "Lumenhollow " + ssid; }

CameraWiFi::Call CameraWiFi::nmcli(const std::vector<std::string>& arguments, bool logged, Duration timeout,
                                   Stoppable stoppable) const {
    const StopFlag* stop = stoppable == Stoppable::yes ? options_.stop : nullptr;
    Call call{CommandRunner::run(options_.nmcliPath, arguments, {}, logged, timeout, stop), std::nullopt};
    if (call.result.stopped) {
        call.problem = WiFiJoinResult{WiFiJoinOutcome::stopped, {}};
    } else if (call.result.timedOut) {
        PocketLog::log("nmcli " + (arguments.empty() ? std::string() : arguments.front()) + ": " + call.result.output);
        call.problem = WiFiJoinResult{WiFiJoinOutcome::toolTimedOut, call.result.output};
    } else if (call.result.status == -1) {
        PocketLog::log("nmcli could not be started: " + call.result.output);
        call.problem = WiFiJoinResult{WiFiJoinOutcome::toolUnavailable, call.result.output};
    }
    return call;
}

bool CameraWiFi::pause(Duration span) const {
    if (options_.pause) {
        return options_.pause(span);
    }
    std::this_thread::sleep_for(span);
    return true;
}

std::optional<WiFiJoinResult> CameraWiFi::ensurePoweredOn() {
    Call state = nmcli({"radio", "wifi"}, false, options_.timings.toolTimeout);
    if (state.problem) return state.problem;
    if (state.result.status != 0 || state.result.output != "disabled") {
        return std::nullopt;
    }
    poweredOnByUs_ = true;
    Call on = nmcli({"radio", "wifi", "on"}, true, options_.timings.toolTimeout);
    if (on.problem) return on.problem;
    if (!pause(options_.timings.powerOnPause)) {
        return WiFiJoinResult{WiFiJoinOutcome::stopped, {}};
    }
    return std::nullopt;
}

WiFiJoinResult CameraWiFi::join(const std::string& ssid, const std::string& password) {
    const CameraWiFiTimings& timings = options_.timings;
    if (std::optional<std::string> problem = unusable(ssid, password)) {
        PocketLog::log("Camera Wi-Fi: " + *problem + "; not joining");
        return {WiFiJoinOutcome::refused, std::move(*problem)};
    }
    const std::string ifname = device();
    if (auto problem = ensurePoweredOn()) {
        return *problem;
    }

    // A profile of our own for the camera's network: in memory only, never
    // connected automatically, and (with a password) holding no secret, so
    // nmcli hands the password over from the file at activation.
    const std::string profile = profileName(ssid);
    Call stale = nmcli({"connection", "delete", "id", profile}, false, timings.toolTimeout);
    if (stale.problem) return *stale.problem;
    std::vector<std::string> add{"connection", "add",   "save",    "no",   "type", "wifi",
                                 "con-name",   profile, "ifname",  ifname, "ssid", ssid,
                                 "connection.autoconnect", "no"};
    const bool secured = !password.empty();
    if (secured) {
        for (const char* argument : {"wifi-sec.key-mgmt", "wpa-psk", "wifi-sec.psk-flags", "1"}) {
            add.emplace_back(argument);
        }
    }
    Call added = nmcli(add, true, timings.toolTimeout);
    if (added.problem) return *added.problem;
    bool profileReady = added.result.status == 0;
    if (!profileReady) {
        PocketLog::log("nmcli: " + outputOrStatus(added.result));
    }

    for (int attempt = 1; profileReady && attempt <= timings.joinAttempts; ++attempt) {
        std::unique_ptr<WiFiPasswordFile> file;
        std::vector<std::string> up{"--wait", std::to_string(timings.activationWaitSeconds), "connection", "up", "id",
                                    profile, "ifname", ifname};
        if (secured) {
            file = WiFiPasswordFile::create(passwordDirectory_, password);
            if (!file) break;
            up.emplace_back("passwd-file");
            up.push_back(file->path());
        }
        Call activated = nmcli(up, true, timings.activationTimeout);
        file.reset();
        if (activated.problem) return *activated.problem;
        if (activated.result.status == 0) {
            break;
        }
        PocketLog::logf("nmcli (attempt %d): %s", attempt, outputOrStatus(activated.result).c_str());
        if (!pause(timings.joinRetryPause)) {
            return {WiFiJoinOutcome::stopped, {}};
        }
    }

    // Only the polls decide: the machine may also have joined by another
    // path meanwhile. Both the address and the associated network must be
    // the camera's.
    bool mismatchLogged = false;
    for (int poll = 1; poll <= timings.addressPolls; ++poll) {
        auto address = localAddress();
        if (address && address->starts_with(options_.cameraAddressPrefix)) {
            Call list = nmcli({"-t", "-f", "ACTIVE,SSID", "device", "wifi", "list", "--rescan", "no", "ifname",
                               ifname},
                              false, timings.toolTimeout);
            if (list.problem) return *list.problem;
            auto active = list.result.status == 0 ? parseActiveSsid(list.result.output) : std::nullopt;
            if (active == ssid) {
                PocketLog::log("Wi-Fi joined, " + ifname + " = " + *address);
                return {WiFiJoinOutcome::joined, {}};
            }
            if (!mismatchLogged) {
                mismatchLogged = true;
                PocketLog::log("Wi-Fi has address " + *address + " but is on " +
                               (active ? "\"" + *active + "\"" : std::string("no network")) + ", not the camera's");
            }
        }
        if (!pause(timings.pollPause)) {
            return {WiFiJoinOutcome::stopped, {}};
        }
    }
    PocketLog::log("Wi-Fi did not get a camera address (current: " + localAddress().value_or("none") + ")");
    return {WiFiJoinOutcome::notJoined, {}};
}

std::optional<std::string> CameraWiFi::localAddress() const {
    auto entry = firstIPv4Address(*addresses_, device());
    if (!entry) return std::nullopt;
    return dottedQuad(entry->address);
}

void CameraWiFi::forget(const std::string& ssid) {
    // A join refuses such a name before it makes a profile; cut short at
    // its NUL, the name could match someone else's.
    if (unusable(ssid, {})) return;
    Call removed = nmcli({"connection", "delete", "id", profileName(ssid)}, true, options_.timings.toolTimeout,
                         Stoppable::no);
    PocketLog::log("Forget " + ssid + ": " + removed.result.output);
}

void CameraWiFi::powerOff() {
    if (!poweredOnByUs_) return;
    nmcli({"radio", "wifi", "off"}, true, options_.timings.toolTimeout, Stoppable::no);
    poweredOnByUs_ = false;
}

}  // namespace hollowkit
