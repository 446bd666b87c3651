// Joining and leaving the camera's access point through a fake nmcli that
// records its arguments: success read from the exit status, the password
// kept out of argv and the log, the check that the interface is really on
// the camera's network, the radio switched back only when we switched it
// on, and tools that cannot run or never answer.

#include "hollowkit/wireless/camera_wifi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "hollowkit/testing/fake_interface_addresses.h"
#include "hollowkit/testing/fake_nmcli.h"
#include "tests/wireless/wireless_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSsid = "OsmoPocket3-4A1F";
constexpr const char* kPassword = "x7Qp2mW9";

CameraWiFiTimings quickTimings() {
    CameraWiFiTimings timings;
    timings.joinRetryPause = 1ms;
    timings.powerOnPause = 1ms;
    timings.addressPolls = 3;
    timings.pollPause = 1ms;
    timings.activationTimeout = 5s;
    timings.toolTimeout = 5s;
    return timings;
}

// Options with one change (designated initialisers warn about the
// fields left out).
template <typename Change>
FakeNmcliOptions nmcliWith(Change change) {
    FakeNmcliOptions options;
    change(options);
    return options;
}

class CameraWiFiTest : public ::testing::Test {
protected:
    void makeNmcli(FakeNmcliOptions options = {}) {
        options.expectedPassword = kPassword;
        auto made = FakeNmcli::create(options);
        ASSERT_TRUE(made.has_value()) << made.error();
        nmcli_ = std::move(made.value());
    }

    std::unique_ptr<CameraWiFi> makeWiFi(CameraWiFiTimings timings = quickTimings(),
                                         std::optional<std::string> device = std::string("lo")) {
        CameraWiFiOptions options;
        options.nmcliPath = nmcli_ ? nmcli_->path() : "/nonexistent/nmcli";
        options.device = std::move(device);
        options.cameraAddressPrefix = "127.0.0.";
        options.addresses = addresses_;
        options.timings = timings;
        options.passwordDirectory = passwordDir_.path().string();
        return std::make_unique<CameraWiFi>(options);
    }

    testsupport::TempDir passwordDir_;
    testsupport::LogCapture log_;
    std::shared_ptr<FakeInterfaceAddresses> addresses_ = std::make_shared<FakeInterfaceAddresses>(
        std::vector{FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")});
    std::unique_ptr<FakeNmcli> nmcli_;
};

TEST(CameraWiFiParseTest, TerseOutputOfNmcli) {
    EXPECT_EQ(CameraWiFi::parseWifiDevice("lo:loopback\neth0:ethernet\np2p-dev-wlp2s0:wifi-p2p\nwlp2s0:wifi\n"),
              "wlp2s0");
    EXPECT_EQ(CameraWiFi::parseWifiDevice("wlan1:wifi\nwlan0:wifi\n"), "wlan1");
    EXPECT_EQ(CameraWiFi::parseWifiDevice("lo:loopback\neth0:ethernet\n"), std::nullopt);
    EXPECT_EQ(CameraWiFi::parseWifiDevice(""), std::nullopt);

    EXPECT_EQ(CameraWiFi::parseActiveSsid("no:Home\nyes:OsmoPocket3-4A1F\n"), "OsmoPocket3-4A1F");
    // Escaped separators inside the SSID, as terse mode writes them.
    EXPECT_EQ(CameraWiFi::parseActiveSsid("no:x\nyes:Cafe\\: upstairs \\\\ 2\n"), "Cafe: upstairs \\ 2");
    EXPECT_EQ(CameraWiFi::parseActiveSsid("no:Home\nno:Other\n"), std::nullopt);
}

// Made without running the tool; the lookup runs once, when asked.
TEST_F(CameraWiFiTest, DeviceIsTheFirstWiFiDeviceOrTheFallback) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> devices;
        std::string expected;
    };
    const Case cases[] = {
        {{{"lo", "loopback"}, {"p2p-dev-wlp2s0", "wifi-p2p"}, {"wlp2s0", "wifi"}}, "wlp2s0"},
        // The usual Linux name, never the macOS one.
        {{{"lo", "loopback"}, {"eth0", "ethernet"}}, "wlan0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        makeNmcli(nmcliWith([&](auto& o) { o.devices = c.devices; }));
        auto wifi = makeWiFi(quickTimings(), std::nullopt);
        EXPECT_TRUE(nmcli_->calls().empty());
        EXPECT_EQ(wifi->device(), "");
        wifi->findDevice();
        wifi->findDevice();
        EXPECT_EQ(wifi->device(), c.expected);
        EXPECT_EQ(nmcli_->calls().size(), 1u);
    }
}

// A password file left behind by a crash while nmcli ran is gone once the
// next CameraWiFi is made, before any join.
TEST_F(CameraWiFiTest, StalePasswordFileIsRemovedWhenMade) {
    const std::string stale = passwordDir_.file("hollowkit-wifi-Qx81Lm");
    std::ofstream(stale) << "802-11-wireless-security.psk:" << kPassword << "\n";
    ASSERT_TRUE(std::filesystem::exists(stale));
    makeNmcli();
    auto wifi = makeWiFi();
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(nmcli_->calls().empty());
    EXPECT_TRUE(log_.contains("Removed 1 stale Wi-Fi password file(s) from " + passwordDir_.path().string()));
}

TEST_F(CameraWiFiTest, JoinsWithThePasswordOnlyInAPrivateFile) {
    makeNmcli();
    auto wifi = makeWiFi();
    const WiFiJoinResult result = wifi->join(kSsid, kPassword);
    ASSERT_TRUE(result.joined()) << result.failureMessage();
    EXPECT_FALSE(wifi->poweredOnByUs());
    EXPECT_TRUE(log_.contains("Wi-Fi joined, lo = 127.0.0.10"));

    // One activation, whose password file had mode 0600 and the right line
    // and is gone again.
    auto checks = nmcli_->passwordFileChecks();
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_TRUE(checks[0].starts_with("ok " + passwordDir_.path().string() + "/hollowkit-wifi-")) << checks[0];
    EXPECT_FALSE(std::filesystem::exists(checks[0].substr(3)));
    EXPECT_EQ(nmcli_->count("--wait 20 connection up id Lumenhollow OsmoPocket3-4A1F ifname lo passwd-file "), 1);
    EXPECT_EQ(nmcli_->count("connection add save no type wifi con-name Lumenhollow OsmoPocket3-4A1F ifname lo ssid "
                            "OsmoPocket3-4A1F"),
              1);

    // The password appears in no argument and no log line.
    EXPECT_EQ(nmcli_->record().find(kPassword), std::string::npos);
    for (const auto& line : log_.lines()) {
        EXPECT_EQ(line.find(kPassword), std::string::npos) << line;
    }

    wifi->forget(kSsid);
    EXPECT_EQ(nmcli_->count("connection delete id Lumenhollow OsmoPocket3-4A1F"), 2);  // stale check + forget
    EXPECT_TRUE(log_.contains("Forget OsmoPocket3-4A1F: Connection 'Lumenhollow OsmoPocket3-4A1F'"));
    EXPECT_EQ(nmcli_->activeSsid(), std::nullopt);
    wifi->powerOff();
    EXPECT_EQ(nmcli_->count("radio wifi off"), 0);  // it was on before: left on
}

// Names and passwords from a hostile camera or a careless hand: what nmcli
// can be given whole reaches it exactly, the name as one argument and the
// password as the file's one line; what it cannot is refused before any
// tool runs, and nothing is left to forget.
TEST_F(CameraWiFiTest, HostileNamesAndPasswordsReachNmcliWholeOrNotAtAll) {
    using namespace std::string_literals;
    const std::string marker = passwordDir_.file("ran");
    struct Case {
        const char* name;
        std::string ssid;
        std::string password;
        std::string refusal;  // empty: joins
    };
    const Case cases[] = {
        {"quotes", R"(Osmo "Pocket" 'three')", R"(pa"ss'wo"rd\)", ""},
        {"leading dashes", "--help", "-x7Qp2mW9", ""},
        {"options as the name", "-t -f ALL", "--ask", ""},
        {"shell characters", "$(touch " + marker + "); `touch " + marker + "` | * & ;",
         "$(touch " + marker + ")|`x`&<>*?;", ""},
        {"spaces, colons and backslashes", " Osmo:  Pocket \\ 3", " pass word ", ""},
        {"an open network", "Osmo; open", "", ""},
        {"a line break in the name", "Osmo\nPocket", kPassword, "the network name holds a line break"},
        {"a carriage return in the name", "Osmo\rPocket", kPassword, "the network name holds a line break"},
        {"a NUL in the name", "Osmo\0Pocket"s, kPassword, "the network name holds a NUL byte"},
        {"a line break in the password", kSsid, "x7Qp\n2mW9", "the password holds a line break"},
        {"a NUL in the password", kSsid, "x7Qp\0"s + "2mW9", "the password holds a NUL byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNmcliOptions options;
        options.expectedPassword = c.password;
        auto made = FakeNmcli::create(options);
        ASSERT_TRUE(made.has_value()) << made.error();
        nmcli_ = std::move(made.value());
        log_.clear();

        auto wifi = makeWiFi();
        const WiFiJoinResult result = wifi->join(c.ssid, c.password);
        if (c.refusal.empty()) {
            ASSERT_TRUE(result.joined()) << result.failureMessage();
            EXPECT_EQ(nmcli_->activeSsid(), c.ssid);
            const auto checks = nmcli_->passwordFileChecks();
            EXPECT_EQ(checks.size(), c.password.empty() ? 0u : 1u);
            for (const std::string& check : checks) EXPECT_TRUE(check.starts_with("ok ")) << check;
            if (!c.password.empty()) {
                EXPECT_EQ(nmcli_->record().find(c.password), std::string::npos);
            }
            wifi->forget(c.ssid);
            EXPECT_EQ(nmcli_->activeSsid(), std::nullopt);
            EXPECT_EQ(nmcli_->count("connection delete id Lumenhollow "), 2);
        } else {
            EXPECT_EQ(result.outcome, WiFiJoinOutcome::refused);
            EXPECT_EQ(result.failureMessage(), "Could not join the camera Wi-Fi: " + c.refusal);
            EXPECT_TRUE(log_.contains("Camera Wi-Fi: " + c.refusal + "; not joining"));
            EXPECT_TRUE(nmcli_->calls().empty()) << nmcli_->record();
            // A name cut short at its NUL could be someone else's.
            wifi->forget(c.ssid);
            EXPECT_EQ(nmcli_->calls().empty(), c.refusal.starts_with("the network name")) << nmcli_->record();
        }
        EXPECT_FALSE(std::filesystem::exists(marker));
        // No password file is left, and the shell ran nothing.
        EXPECT_TRUE(std::filesystem::is_empty(passwordDir_.path()));
        for (const auto& line : log_.lines()) {
            EXPECT_TRUE(c.password.empty() || line.find(c.password) == std::string::npos) << line;
        }
    }
}

TEST_F(CameraWiFiTest, RadioSwitchedOnIsSwitchedOffAgainOnlyOnce) {
    makeNmcli(nmcliWith([](auto& o) { o.radioOn = false; }));
    auto wifi = makeWiFi();
    ASSERT_TRUE(wifi->join(kSsid, kPassword).joined());
    EXPECT_TRUE(wifi->poweredOnByUs());
    EXPECT_TRUE(nmcli_->radioOn());
    wifi->powerOff();
    EXPECT_FALSE(wifi->poweredOnByUs());
    EXPECT_FALSE(nmcli_->radioOn());
    wifi->powerOff();
    EXPECT_EQ(nmcli_->count("radio wifi off"), 1);
}

TEST_F(CameraWiFiTest, FailedActivationsAreRetriedWithTheirTextLogged) {
    makeNmcli(nmcliWith([](auto& o) { o.failingActivations = 2; }));
    auto wifi = makeWiFi();
    EXPECT_TRUE(wifi->join(kSsid, kPassword).joined());
    EXPECT_EQ(nmcli_->count("--wait 20 connection up"), 3);
    EXPECT_TRUE(log_.contains("nmcli (attempt 1): Error: Connection activation failed"));
    EXPECT_TRUE(log_.contains("nmcli (attempt 2): Error: Connection activation failed"));
    EXPECT_FALSE(log_.contains("nmcli (attempt 3)"));
}

// The join ends false when the machine is not really on the camera's
// network, whatever the tool said.
TEST_F(CameraWiFiTest, AnAddressInTheRangeIsNotEnoughWithoutTheCameraNetwork) {
    struct Case {
        const char* name;
        FakeNmcliOptions nmcli;
        std::vector<InterfaceAddress> addresses;
        const char* lastLine;
    };
    const std::vector<Case> cases{
        // A home router on the same range, all activations failing.
        {"router on the camera range",
         nmcliWith([](auto& o) {
             o.failingActivations = 4;
             o.associatedSsid = "HomeRouter";
         }),
         {FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")},
         "Wi-Fi did not get a camera address (current: 127.0.0.10)"},
        // Activation succeeded, but the interface ended up elsewhere.
        {"associated elsewhere",
         nmcliWith([](auto& o) { o.associatedSsid = "HomeRouter"; }),
         {FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")},
         "Wi-Fi did not get a camera address (current: 127.0.0.10)"},
        {"address outside the range",
         FakeNmcliOptions{},
         {FakeInterfaceAddresses::entry("lo", "127.0.1.10", "255.255.255.0")},
         "Wi-Fi did not get a camera address (current: 127.0.1.10)"},
        {"no address", FakeNmcliOptions{}, {}, "Wi-Fi did not get a camera address (current: none)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeNmcli(c.nmcli);
        addresses_->set(c.addresses);
        const WiFiJoinResult result = makeWiFi()->join(kSsid, kPassword);
        EXPECT_EQ(result.outcome, WiFiJoinOutcome::notJoined);
        EXPECT_EQ(result.failureMessage(), "Could not join the camera Wi-Fi");
        EXPECT_TRUE(log_.contains(c.lastLine));
    }
    EXPECT_TRUE(log_.contains("Wi-Fi has address 127.0.0.10 but is on \"HomeRouter\", not the camera's"));
}

TEST_F(CameraWiFiTest, ToolThatCannotRunOrHangsEndsTheJoinAtOnce) {
    // No tool at all.
    auto missing = makeWiFi();
    WiFiJoinResult result = missing->join(kSsid, kPassword);
    EXPECT_EQ(result.outcome, WiFiJoinOutcome::toolUnavailable);
    EXPECT_TRUE(result.failureMessage().starts_with("Could not run the Wi-Fi tool nmcli: ")) << result.failureMessage();

    // The activation never returns: killed after the time-out, no more calls.
    makeNmcli(nmcliWith([](auto& o) { o.hangOn = "connection up"; }));
    CameraWiFiTimings timings = quickTimings();
    timings.activationTimeout = 300ms;
    result = makeWiFi(timings)->join(kSsid, kPassword);
    EXPECT_EQ(result.outcome, WiFiJoinOutcome::toolTimedOut);
    EXPECT_EQ(result.failureMessage(), "The Wi-Fi tool nmcli did not answer in time");
    EXPECT_EQ(nmcli_->count("--wait 20 connection up"), 1);
    EXPECT_EQ(nmcli_->count("-t -f ACTIVE,SSID"), 0);
}

TEST_F(CameraWiFiTest, StopDuringThePollsEndsTheJoin) {
    makeNmcli(nmcliWith([](auto& o) { o.associatedSsid = "HomeRouter"; }));
    CameraWiFiTimings timings = quickTimings();
    timings.addressPolls = 1000;
    CameraWiFiOptions options;
    options.nmcliPath = nmcli_->path();
    options.device = "lo";
    options.cameraAddressPrefix = "127.0.0.";
    options.addresses = addresses_;
    options.timings = timings;
    int pauses = 0;
    options.pause = [&pauses](Duration) { return ++pauses < 3; };
    CameraWiFi wifi(options);
    EXPECT_EQ(wifi.join(kSsid, kPassword).outcome, WiFiJoinOutcome::stopped);
    EXPECT_EQ(pauses, 3);
}

// The owner's stop ends a tool call of the join at once (before its own
// time-out) and the lookup likewise; the clean-up after it still runs.
TEST_F(CameraWiFiTest, StopEndsTheToolOfTheJoinButNotTheCleanUp) {
    struct Case {
        const char* name;
        const char* hangOn;
        std::optional<std::string> device;
    };
    const Case cases[] = {
        {"activation", "connection up", std::string("lo")},
        {"device lookup", "DEVICE,TYPE", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeNmcli(nmcliWith([&](auto& o) { o.hangOn = c.hangOn; }));
        StopFlag stop;
        CameraWiFiOptions options;
        options.nmcliPath = nmcli_->path();
        options.device = c.device;
        options.addresses = addresses_;
        options.timings = quickTimings();
        // Only the stop can end the hanging call (a failing stop hangs the test).
        options.timings.activationTimeout = std::chrono::hours(1);
        options.timings.toolTimeout = std::chrono::hours(1);
        options.stop = &stop;
        CameraWiFi wifi(options);
        std::thread stopper([&] {
            const TimePoint deadline = SteadyClock::now() + 10s;
            while (nmcli_->count(c.hangOn == std::string("DEVICE,TYPE") ? "-t -f DEVICE,TYPE" : "--wait") == 0 &&
                   SteadyClock::now() < deadline) {
                std::this_thread::yield();
            }
            stop.set();
        });
        std::optional<WiFiJoinOutcome> outcome;
        if (c.device) {
            outcome = wifi.join(kSsid, kPassword).outcome;
        } else {
            wifi.findDevice();
        }
        stopper.join();
        if (outcome) {
            EXPECT_EQ(*outcome, WiFiJoinOutcome::stopped);
            EXPECT_EQ(nmcli_->count("-t -f ACTIVE,SSID"), 0);
            wifi.forget(kSsid);
            EXPECT_EQ(nmcli_->count("connection delete"), 2);  // the stale profile's, then the clean-up's
        } else {
            EXPECT_EQ(wifi.device(), CameraWiFi::kFallbackDevice);
        }
    }
}

}  // namespace
}  // namespace hollowkit
