// The libsecret backend against a real Secret Service: GNOME Keyring on a
// private session bus, with a keyring of its own in a temporary home. The
// lookups run in a child process, because GLib keeps one session-bus
// connection per process and ends the process when that bus goes away.

#include "lumenhollow/platform/linux/libsecret_store.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/private_dbus_daemon.h"
#include "hollowkit/testing/test_support.h"

extern char** environ;

namespace lumenhollow {
namespace {

using hollowkit::UniqueFd;
using namespace std::chrono_literals;

constexpr const char* kService = "com.tarvenc.lumenhollow.home-wifi";
constexpr auto kBound = 20s;

bool executable(const char* path) {
    return ::access(path, X_OK) == 0;
}

// Single quotes for sh.
std::string shellQuoted(std::string_view text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Waits for `pid` to end, at most `bound`, then kills it.
void reap(pid_t pid, std::chrono::milliseconds bound) {
    UniqueFd exitFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    pollfd fd{exitFd.get(), POLLIN, 0};
    if (!exitFd || ::poll(&fd, 1, static_cast<int>(bound.count())) <= 0) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Runs `body` in a child process and returns what it returned.
std::string inChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return "pipe failed";
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string result = body();
        size_t done = 0;
        while (done < result.size()) {
            const ssize_t n = ::write(writeEnd.get(), result.data() + done, result.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    writeEnd.reset();
    std::string result;
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fd{readEnd.get(), POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (::poll(&fd, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n <= 0) break;
        result.append(buffer, static_cast<size_t>(n));
    }
    ::kill(pid, SIGKILL);
    reap(pid, 5000ms);
    return result;
}

// One lookup's outcome as a line: the password or "none", then the log lines.
std::string lookupLine(SecretStore& store, std::string_view service, std::string_view account) {
    hollowkit::testsupport::LogCapture log;
    const std::optional<std::string> password = store.password(service, account);
    std::string line = password ? "password=" + *password : "none";
    for (const std::string& logged : log.lines()) line += " | " + logged;
    return line + "\n";
}

// gnome-keyring-daemon serving the Secret Service on `busAddress`, with a
// new login keyring unlocked by a password given on its standard input.
class KeyringDaemon {
public:
    static constexpr const char* kProgram = "/usr/bin/gnome-keyring-daemon";

    KeyringDaemon(const std::string& busAddress, const std::string& home) {
        const std::string runtime = home + "/run";
        ::mkdir(runtime.c_str(), 0700);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        UniqueFd readEnd(fds[0]);
        UniqueFd writeEnd(fds[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, readEnd.get(), 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        // No DISPLAY: an unlock prompt must fail at once, not wait for a user.
        std::vector<std::string> environment = {"HOME=" + home, "XDG_RUNTIME_DIR=" + runtime,
                                                "XDG_DATA_HOME=" + home + "/data", "PATH=/usr/bin:/bin",
                                                "DBUS_SESSION_BUS_ADDRESS=" + busAddress};
        std::vector<std::string> arguments = {kProgram, "--foreground", "--unlock", "--components=secrets"};
        std::vector<char*> argv;
        std::vector<char*> envp;
        for (auto& a : arguments) argv.push_back(a.data());
        for (auto& e : environment) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const int spawned = ::posix_spawn(&pid_, kProgram, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return;
        }
        const std::string unlock = "keyring-password";
        [[maybe_unused]] const ssize_t written = ::write(writeEnd.get(), unlock.data(), unlock.size());
    }
    ~KeyringDaemon() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        reap(pid_, 5000ms);
    }
    KeyringDaemon(const KeyringDaemon&) = delete;
    KeyringDaemon& operator=(const KeyringDaemon&) = delete;

    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// Runs `command` through sh with the private bus as the session bus.
hollowkit::CommandResult onBus(const std::string& busAddress, const std::string& command) {
    return hollowkit::CommandRunner::run("/bin/sh", {"-c", "DBUS_SESSION_BUS_ADDRESS=" + shellQuoted(busAddress) +
                                                               " exec " + command},
                                         {}, false, std::chrono::duration_cast<hollowkit::Duration>(10s));
}

std::string storeCommand(std::string_view account, std::string_view password) {
    return "sh -c " + shellQuoted("printf %s " + shellQuoted(password) + " | secret-tool store --label=Test service " +
                             kService + " account " + shellQuoted(account));
}

TEST(LibsecretStoreTest, ReadsAnItemStoredWithSecretToolAndNothingElse) {
    if (!executable(KeyringDaemon::kProgram) || !executable("/usr/bin/secret-tool") ||
        !hollowkit::PrivateDbusDaemon::program()) {
        GTEST_SKIP() << "needs gnome-keyring, libsecret-tools and dbus (tools/install-deps)";
    }
    hollowkit::testsupport::TempDir home;
    hollowkit::PrivateDbusDaemon bus;
    auto started = bus.start();
    ASSERT_TRUE(started.has_value()) << started.error();
    KeyringDaemon keyring(bus.address(), home.path().string());
    ASSERT_TRUE(keyring.started());

    // The first store that succeeds shows the keyring is serving.
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    hollowkit::CommandResult stored;
    do {
        stored = onBus(bus.address(), storeCommand("Home Net", "p\xc3\xa4ss w\xc3\xb6rd"));
        if (stored.status == 0) break;
        std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < deadline);
    ASSERT_EQ(stored.status, 0) << stored.output;
    ASSERT_EQ(onBus(bus.address(), storeCommand("", "for the empty name")).status, 0);

    const std::string address = bus.address();
    const std::string lines = inChild([&] {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        LibsecretStore store;
        std::string out;
        out += lookupLine(store, kService, "Home Net");
        out += lookupLine(store, kService, "");
        out += lookupLine(store, kService, "home net");
        out += lookupLine(store, "com.tarvenc.lumenhollow.other", "Home Net");
        const auto locked = hollowkit::CommandRunner::run(
            "/usr/bin/dbus-send",
            {"--session", "--print-reply", "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
             "org.freedesktop.Secret.Service.Lock", "array:objpath:/org/freedesktop/secrets/collection/login"},
            {}, false);
        out += locked.status == 0 ? lookupLine(store, kService, "Home Net") : "lock failed: " + locked.output + "\n";
        return out;
    });
    std::vector<std::string> got;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) got.push_back(line);
    const std::vector<std::string> expected = {
        "password=p\xc3\xa4ss w\xc3\xb6rd",
        "password=for the empty name",
        "none | Keyring: no password stored for com.tarvenc.lumenhollow.home-wifi, account \"home net\"",
        "none | Keyring: no password stored for com.tarvenc.lumenhollow.other, account \"Home Net\"",
        "none | Keyring: the password for com.tarvenc.lumenhollow.home-wifi is in a locked keyring or is not "
        "text; not used",
    };
    EXPECT_EQ(got, expected);
}

TEST(LibsecretStoreTest, NoSecretServiceReadsAsNoPasswordWithOneLine) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "needs dbus-daemon (tools/install-deps)";
    hollowkit::PrivateDbusDaemon bus;
    auto started = bus.start();
    ASSERT_TRUE(started.has_value()) << started.error();
    // A bus where nobody serves secrets, and no bus at all.
    for (const std::string& address : {bus.address(), std::string("unix:path=/nonexistent/lumenhollow-bus")}) {
        const std::string line = inChild([&] {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
            LibsecretStore store;
            return lookupLine(store, kService, "Home Net");
        });
        EXPECT_TRUE(line.starts_with("none | Keyring: no password for com.tarvenc.lumenhollow.home-wifi ("))
            << address << ": " << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 1) << line;
    }
}

}  // namespace
}  // namespace lumenhollow
