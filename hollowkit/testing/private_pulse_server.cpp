#include "hollowkit/testing/private_pulse_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "hollowkit/base/unique_fd.h"

extern char** environ;

namespace hollowkit {
namespace {

// The server says it is ready or ends (its log pipe closing): both are
// waited for as long as they take on a loaded machine; only a server that
// hangs meets this bound.
constexpr auto kPulseStartTimeout = std::chrono::seconds(120);
constexpr auto kPulseStopTimeout = std::chrono::seconds(5);
constexpr std::string_view kReadyLine = "Daemon startup complete";

std::optional<std::string> findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        if (end > start) {
            std::string candidate = folders.substr(start, end - start) + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

// The environment of the test, without anything that would lead the server
// to the user's own session, plus folders of its own.
std::vector<std::string> serverEnvironment(const std::string& folder) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        if (text.starts_with("PULSE_") || text.starts_with("HOME=") || text.starts_with("XDG_RUNTIME_DIR=") ||
            text.starts_with("XDG_CONFIG_HOME=") || text.starts_with("DBUS_SESSION_BUS_ADDRESS=") ||
            text.starts_with("DISPLAY=")) {
            continue;
        }
        result.emplace_back(text);
    }
    result.push_back("HOME=" + folder);
    result.push_back("XDG_RUNTIME_DIR=" + folder + "/runtime");
    result.push_back("XDG_CONFIG_HOME=" + folder + "/config");
    result.push_back("PULSE_RUNTIME_PATH=" + folder + "/runtime/pulse");
    result.push_back("PULSE_STATE_PATH=" + folder + "/state");
    return result;
}

}  // namespace

PrivatePulseServer::~PrivatePulseServer() {
    stop();
}

std::optional<std::string> PrivatePulseServer::program() {
    return findOnPath("pulseaudio");
}

Result<void, std::string> PrivatePulseServer::start(Options options) {
    if (pid_ > 0) return {};
    const std::optional<std::string> binary = program();
    if (!binary) return unexpected(std::string("no pulseaudio on this machine"));

    char pattern[] = "/tmp/hollowkit-pulse-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return unexpected("mkdtemp: " + std::string(std::strerror(errno)));
    folder_ = pattern;
    for (const char* sub : {"/runtime", "/runtime/pulse", "/config", "/state"}) {
        ::mkdir((folder_ + sub).c_str(), 0700);
    }
    const std::string socket = folder_ + "/native";
    const std::string script = folder_ + "/server.pa";
    {
        std::ofstream out(script);
        // The tone's source carries a desktop microphone's name, as the
        // pictures taken of the running program show it.
        out << "load-module module-null-sink sink_name=" << kNullSink << " rate=" << options.sampleRate
            << " channels=1\n"
            << "load-module module-sine sink=" << kNullSink << " frequency=" << options.sineFrequencyHz
            << " rate=" << options.sampleRate << "\n"
            << "load-module module-remap-source source_name=" << kToneSource << " master=" << kNullSinkMonitor
            << " channels=1 source_properties='device.description=\"Built-in Microphone\"'\n"
            << "load-module module-sine-source source_name=" << kSineSource
            << " frequency=" << options.sineFrequencyHz << " rate=" << options.sampleRate << "\n"
            << "set-default-source " << kToneSource << "\n"
            << "set-default-sink " << kNullSink << "\n"
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket << "\n";
        if (!out) return unexpected(std::string("cannot write the server script"));
    }

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return unexpected("pipe: " + std::string(std::strerror(errno)));
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);

    std::vector<std::string> arguments{*binary,
                                       "--daemonize=no",
                                       "--system=no",
                                       "--exit-idle-time=-1",
                                       "--use-pid-file=no",
                                       "--disable-shm=yes",
                                       "--realtime=no",
                                       "--high-priority=no",
                                       "--log-target=stderr",
                                       "--log-level=info",
                                       "-n",
                                       "-F",
                                       script};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = serverEnvironment(folder_);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    // fork rather than posix_spawn: the child asks to be ended with the
    // test process, so a test that crashes leaves no server behind. Only
    // system calls run between fork and exec.
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) return unexpected("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(writeEnd.get(), 2) < 0) {
            ::_exit(127);
        }
        ::execve(binary->c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    writeEnd.reset();
    pid_ = pid;

    // The server says so on its log once every module is loaded and the
    // socket listens.
    std::string log;
    const auto deadline = std::chrono::steady_clock::now() + kPulseStartTimeout;
    while (log.find(kReadyLine) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return unexpected("pulseaudio did not become ready: " + log);
        pollfd fd{readEnd.get(), POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready <= 0) continue;
        char buffer[1024];
        const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            return unexpected("pulseaudio exited: " + log.substr(log.size() > 2000 ? log.size() - 2000 : 0));
        }
        log.append(buffer, static_cast<size_t>(n));
    }
    // The server ignores SIGPIPE, so closing the log pipe now only makes its
    // later lines go nowhere; nobody has to keep reading them.
    address_ = "unix:" + socket;
    return {};
}

CommandResult PrivatePulseServer::pactl(const std::vector<std::string>& arguments) const {
    const std::optional<std::string> binary = findOnPath("pactl");
    if (!binary) return CommandResult{-1, "no pactl on this machine", false};
    std::vector<std::string> all{"--server=" + address_};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return CommandRunner::run(*binary, all, {}, false, std::chrono::seconds(10));
}

void PrivatePulseServer::stop() {
    if (pid_ > 0) {
        // Wait for the exit through a pidfd, so the wait has a bound without
        // polling waitpid; a server that ignores SIGTERM gets SIGKILL.
        UniqueFd exitFd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
        ::kill(pid_, SIGTERM);
        bool exited = false;
        if (exitFd) {
            pollfd fd{exitFd.get(), POLLIN, 0};
            const auto timeoutMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(kPulseStopTimeout).count();
            exited = ::poll(&fd, 1, static_cast<int>(timeoutMs)) > 0;
        }
        if (!exited) ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
    address_.clear();
}

}  // namespace hollowkit
