#include "hollowkit/testing/private_dbus_daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "hollowkit/base/unique_fd.h"

extern char** environ;

namespace hollowkit {
namespace {

// The daemon prints its address or ends: both are waited for as long as
// they take on a loaded machine; only a daemon that hangs meets this bound.
constexpr auto kDaemonStartTimeout = std::chrono::seconds(120);
constexpr auto kDaemonStopTimeout = std::chrono::seconds(5);

bool isExecutable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

std::string configText(const std::string& socketPath, const std::vector<std::string>& refused) {
    std::string denials;
    for (const auto& name : refused) denials += "    <deny send_destination=\"" + name + "\"/>\n";
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path=" +
           socketPath +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_type=\"method_call\"/>\n"
           "    <allow send_type=\"signal\"/>\n"
           "    <allow send_type=\"method_return\"/>\n"
           "    <allow send_type=\"error\"/>\n"
           "    <allow receive_type=\"method_call\"/>\n"
           "    <allow receive_type=\"signal\"/>\n"
           "    <allow receive_type=\"method_return\"/>\n"
           "    <allow receive_type=\"error\"/>\n" +
           denials +
           "  </policy>\n"
           "</busconfig>\n";
}

}  // namespace

PrivateDbusDaemon::~PrivateDbusDaemon() {
    stop();
}

std::optional<std::string> PrivateDbusDaemon::program() {
    if (isExecutable("/usr/bin/dbus-daemon")) return std::string("/usr/bin/dbus-daemon");
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string candidate = folders.substr(start, end - start) + "/dbus-daemon";
        if (end > start && isExecutable(candidate)) return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

Result<void, std::string> PrivateDbusDaemon::start(const std::vector<std::string>& refusedDestinations) {
    if (pid_ > 0) return {};
    auto binary = program();
    if (!binary) return unexpected(std::string("no dbus-daemon on this machine"));

    char pattern[] = "/tmp/hollowkit-dbus-XXXXXX";
    if (!::mkdtemp(pattern)) return unexpected("mkdtemp: " + std::string(std::strerror(errno)));
    folder_ = pattern;
    const std::string configPath = folder_ + "/bus.conf";
    {
        std::ofstream config(configPath);
        config << configText(folder_ + "/bus.socket", refusedDestinations);
        if (!config) return unexpected(std::string("cannot write the bus configuration"));
    }

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return unexpected("pipe: " + std::string(std::strerror(errno)));
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string configArgument = "--config-file=" + configPath;
    std::vector<char*> argv{binary->data(), configArgument.data(), const_cast<char*>("--nofork"),
                            const_cast<char*>("--print-address"), nullptr};
    pid_t pid = -1;
    int spawned = ::posix_spawn(&pid, binary->c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (spawned != 0) return unexpected("posix_spawn: " + std::string(std::strerror(spawned)));
    pid_ = pid;

    // The daemon prints its address once it listens.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + kDaemonStartTimeout;
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return unexpected(std::string("dbus-daemon did not print its address"));
        pollfd fd{readEnd.get(), POLLIN, 0};
        int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[256];
        ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return unexpected(std::string("dbus-daemon exited before printing its address"));
        line.append(buffer, static_cast<size_t>(n));
    }
    address_ = line.substr(0, line.find('\n'));
    return {};
}

void PrivateDbusDaemon::stop() {
    if (pid_ > 0) {
        // Wait for the exit through a pidfd, so the wait has a bound without
        // polling waitpid; a daemon that ignores SIGTERM gets SIGKILL.
        UniqueFd exitFd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
        ::kill(pid_, SIGTERM);
        bool exited = false;
        if (exitFd) {
            pollfd fd{exitFd.get(), POLLIN, 0};
            auto timeoutMs = std::chrono::duration_cast<std::chrono::milliseconds>(kDaemonStopTimeout).count();
            exited = ::poll(&fd, 1, static_cast<int>(timeoutMs)) > 0;
        }
        if (!exited && exitFd) ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (!folder_.empty()) {
        ::unlink((folder_ + "/bus.socket").c_str());
        ::unlink((folder_ + "/bus.conf").c_str());
        ::rmdir(folder_.c_str());
        folder_.clear();
    }
    address_.clear();
}

}  // namespace hollowkit
