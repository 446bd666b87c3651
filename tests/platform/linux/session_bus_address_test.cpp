#include "lumenhollow/platform/linux/session_bus_address.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "hollowkit/testing/test_support.h"

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;

TEST(SessionBusAddress, TheChoiceGoesByWhatTheEnvironmentHolds) {
    const SessionBusFacts all{"unix:path=/run/user/1000/bus", "/run/user/1000/bus", "/usr/bin/dbus-launch", ":0",
                              "3d1219c7"};
    const auto without = [&](std::string SessionBusFacts::*field) {
        SessionBusFacts facts = all;
        facts.*field = {};
        return facts;
    };
    SessionBusFacts launchOnly = without(&SessionBusFacts::address);
    launchOnly.runtimeBusSocket.clear();
    SessionBusFacts noDisplay = launchOnly;
    noDisplay.display.clear();
    SessionBusFacts noMachineId = launchOnly;
    noMachineId.machineId.clear();
    SessionBusFacts nothing;
    const struct {
        const char* name;
        SessionBusFacts facts;
        SessionBusChoice expected;
    } cases[] = {
        {"an address given is kept", all, SessionBusChoice::asSet},
        {"the runtime folder's bus", without(&SessionBusFacts::address), SessionBusChoice::runtimeSocket},
        {"dbus-launch on a display", launchOnly, SessionBusChoice::autolaunch},
        {"no display: nothing to launch for", noDisplay, SessionBusChoice::none},
        {"no machine id: dbus-launch cannot name the bus", noMachineId, SessionBusChoice::none},
        {"nothing at all", nothing, SessionBusChoice::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chooseSessionBus(c.facts), c.expected);
    }
}

TEST(SessionBusAddress, APathIsEscapedAsTheAddressSyntaxAsks) {
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"/run/user/1000/bus", "unix:path=/run/user/1000/bus"},
        {"/tmp/my bus", "unix:path=/tmp/my%20bus"},
        {"/tmp/a,b=c;d", "unix:path=/tmp/a%2cb%3dc%3bd"},
        {"/tmp/caf\xc3\xa9", "unix:path=/tmp/caf%c3%a9"},
        {"/tmp/x-y_z.*", "unix:path=/tmp/x-y_z.*"},
    };
    for (const auto& c : cases) EXPECT_EQ(unixPathAddress(c.path), c.expected) << c.path;
}

TEST(SessionBusAddress, TheAddressIsReadFromWhatDbusLaunchPrinted) {
    const struct {
        const char* name;
        const char* printed;
        std::optional<std::string> expected;
    } cases[] = {
        {"shell syntax",
         "DBUS_SESSION_BUS_ADDRESS='unix:abstract=/tmp/dbus-Xa1,guid=9f';\nexport DBUS_SESSION_BUS_ADDRESS;\n"
         "DBUS_SESSION_BUS_PID=4242;\n",
         "unix:abstract=/tmp/dbus-Xa1,guid=9f"},
        {"unquoted, no semicolon", "DBUS_SESSION_BUS_ADDRESS=unix:path=/tmp/b\n", "unix:path=/tmp/b"},
        {"a later line", "noise\nDBUS_SESSION_BUS_ADDRESS='unix:path=/tmp/c';\n", "unix:path=/tmp/c"},
        {"only inside another name", "MY_DBUS_SESSION_BUS_ADDRESS='unix:path=/tmp/d';\n", std::nullopt},
        {"empty", "DBUS_SESSION_BUS_ADDRESS='';\n", std::nullopt},
        {"an error", "Autolaunch error: X11 initialization failed.\n", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(addressFromDbusLaunch(c.printed), c.expected);
    }
}

class SessionBusSettleTest : public testing::Test {
protected:
    void SetUp() override {
        if (const char* had = std::getenv("DBUS_SESSION_BUS_ADDRESS")) had_ = had;
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void TearDown() override {
        if (had_) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", had_->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }

    // A dbus-launch that records its arguments and then runs `body`.
    std::string fakeLaunch(const std::string& body) {
        const std::filesystem::path script = folder_.path() / "dbus-launch";
        std::ofstream(script) << "#!/bin/sh\necho \"$@\" > '" << (folder_.path() / "arguments").string() << "'\n"
                              << body << "\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        return script.string();
    }
    std::string arguments() {
        std::ifstream in(folder_.path() / "arguments");
        std::string line;
        std::getline(in, line);
        return line;
    }
    static std::string environment() {
        const char* value = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        return value ? value : "(unset)";
    }

    hollowkit::testsupport::TempDir folder_;
    std::optional<std::string> had_;
};

TEST_F(SessionBusSettleTest, AnAutolaunchSetsTheBusItNamesOrNoneWhenItFailsOrNeverAnswers) {
    const struct {
        const char* name;
        std::string body;
        std::string expected;
    } cases[] = {
        {"named", "echo \"DBUS_SESSION_BUS_ADDRESS='unix:path=/tmp/launched,guid=1';\"; echo 'DBUS_SESSION_BUS_PID=7;'",
         "unix:path=/tmp/launched,guid=1"},
        {"failed", "echo 'Autolaunch error: X11 initialization failed.'; exit 1", kNoSessionBus},
        // A launcher that never answers holds the start up only for the limit.
        {"never answers", "exec sleep 600", kNoSessionBus},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        SessionBusFacts facts;
        facts.dbusLaunch = fakeLaunch(c.body);
        facts.display = ":57";
        facts.machineId = "3d1219c7";
        EXPECT_EQ(settleSessionBusAddress(facts, 500ms), std::optional<std::string>(c.expected));
        EXPECT_EQ(environment(), c.expected);
        EXPECT_EQ(arguments(), "--autolaunch=3d1219c7 --sh-syntax --close-stderr");
    }
}

TEST_F(SessionBusSettleTest, AGivenAddressIsKeptAndTheRuntimeBusOrNoneIsSetOtherwise) {
    // The runtime folder's bus, a socket in a folder whose name needs escaping.
    const std::filesystem::path runtime = folder_.path() / "run time";
    std::filesystem::create_directories(runtime);
    const std::string socketPath = (runtime / "bus").string();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    SessionBusFacts runtimeBus;
    runtimeBus.runtimeBusSocket = socketPath;
    EXPECT_EQ(settleSessionBusAddress(runtimeBus, 500ms), unixPathAddress(socketPath));
    EXPECT_EQ(environment(), "unix:path=" + (runtime.parent_path() / "run%20time/bus").string());

    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    EXPECT_EQ(settleSessionBusAddress(SessionBusFacts{}, 500ms), std::optional<std::string>(kNoSessionBus));
    EXPECT_EQ(environment(), kNoSessionBus);

    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus", 1);
    SessionBusFacts given;
    given.address = "unix:path=/run/user/1000/bus";
    given.runtimeBusSocket = socketPath;
    EXPECT_EQ(settleSessionBusAddress(given, 500ms), std::nullopt);
    EXPECT_EQ(environment(), "unix:path=/run/user/1000/bus");
}

}  // namespace
}  // namespace lumenhollow
