#include "tests/journeys/journey_desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "hollowkit/base/command_runner.h"
#include "tests/journeys/journey_screen.h"

extern char** environ;

namespace lumenhollow::journey {

using Clock = std::chrono::steady_clock;

bool waitWhileProgressing(const std::function<bool()>& done, const std::function<std::string()>& progress,
                          std::chrono::milliseconds stall) {
    std::string last = progress();
    auto moved = Clock::now();
    while (!done()) {
        if (std::string now = progress(); now != last) {
            last = std::move(now);
            moved = Clock::now();
        } else if (Clock::now() - moved >= stall) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string sizesUnder(const std::filesystem::path& folder) {
    std::string sizes;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::error_code sizeError;
        const uintmax_t size = it->is_regular_file(sizeError) ? it->file_size(sizeError) : 0;
        sizes += it->path().filename().string() + "=" + std::to_string(sizeError ? 0 : size) + ";";
    }
    return sizes;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void storeWelcomed(const JourneyDesktop& desktop) {
    const std::filesystem::path settings = desktop.configHome() / "lumenhollow" / "settings.json";
    std::filesystem::create_directories(settings.parent_path());
    std::ofstream(settings) << R"({"welcomed": true})" << '\n';
}

void ReturningUserJourney::SetUp() {
    if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
    desktop_.start();
    storeWelcomed(desktop_);
}

JourneyDesktop::~JourneyDesktop() {
    std::error_code error;
    if (!home_.empty()) std::filesystem::remove_all(home_, error);
}

std::optional<std::string> JourneyDesktop::missingTool() {
    if (!hollowkit::XvfbServer::program()) return "Xvfb is not installed";
    if (!hollowkit::XvfbServer::xdotoolProgram()) return "xdotool is not installed";
    if (!hollowkit::PrivatePulseServer::program()) return "pulseaudio is not installed";
    return std::nullopt;
}

void JourneyDesktop::start(int width, int height) {
    char pattern[] = "/tmp/lumenhollow-journey-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    home_ = pattern;
    std::filesystem::create_directories(configHome());
    auto shown = xvfb_.start(width, height);
    ASSERT_TRUE(shown.has_value()) << shown.error();
    auto heard = pulse_.start();
    ASSERT_TRUE(heard.has_value()) << heard.error();
}

std::vector<std::string> JourneyDesktop::environment() const {
    std::vector<std::string> entries;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        // The test's own platform, session bus and scratch settings must not
        // reach the program; a journey that wants a bus passes its own.
        for (const char* dropped : {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY=", "HOME=", "XDG_CONFIG_HOME=",
                                    "XDG_DATA_HOME=", "XDG_CACHE_HOME=", "PULSE_", "LUMENHOLLOW_",
                                    "DBUS_SESSION_BUS_ADDRESS="}) {
            if (entry.rfind(dropped, 0) == 0) goto skipped;
        }
        entries.push_back(entry);
    skipped:;
    }
    entries.push_back("DISPLAY=" + xvfb_.displayName());
    entries.push_back("HOME=" + home_.string());
    entries.push_back("XDG_CONFIG_HOME=" + configHome().string());
    entries.push_back("XDG_DATA_HOME=" + (home_ / "data").string());
    entries.push_back("XDG_CACHE_HOME=" + (home_ / "cache").string());
    entries.push_back("PULSE_SERVER=" + pulse_.address());
    return entries;
}

JourneyApp::JourneyApp(JourneyDesktop& desktop, std::string name, const std::string& program,
                       const std::vector<std::string>& extra, const std::vector<std::string>& arguments,
                       const std::vector<JourneyLimit>& limits, std::optional<int> piped,
                       const std::vector<int>& closed)
    : desktop_(desktop), stateFile_(desktop.home() / (name + ".state")), logFile_(desktop.home() / (name + ".log")) {
    std::vector<std::string> environment = desktop.environment();
    environment.push_back("LUMENHOLLOW_DEMO_STATE_FILE=" + stateFile_.string());
    // An extra entry replaces the desktop's of its name: the first one found wins.
    for (const auto& entry : extra) {
        const std::string key = entry.substr(0, entry.find('=') + 1);
        std::erase_if(environment, [&key](const std::string& had) { return had.rfind(key, 0) == 0; });
        environment.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argumentTexts) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string log = logFile_.string();
    int pipeEnds[2] = {-1, -1};
    if (piped) {
        EXPECT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
        pipedOutput_ = hollowkit::UniqueFd(pipeEnds[0]);
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        if (piped) ::dup2(pipeEnds[1], *piped);
        for (const int stream : closed) ::close(stream);
        // An ignored disposition survives exec: a write past a size limit
        // then fails instead of killing the program.
        ::signal(SIGXFSZ, SIG_IGN);
        for (const JourneyLimit& limit : limits) {
            rlimit value{};
            ::getrlimit(limit.resource, &value);
            value.rlim_cur = limit.soft;
            if (::setrlimit(limit.resource, &value) != 0) ::_exit(126);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
}

bool JourneyApp::limit(const JourneyLimit& limit) {
    rlimit value{};
    if (::prlimit(pid_, static_cast<__rlimit_resource>(limit.resource), nullptr, &value) != 0) return false;
    value.rlim_cur = limit.soft;
    return ::prlimit(pid_, static_cast<__rlimit_resource>(limit.resource), &value, nullptr) == 0;
}

JourneyApp::~JourneyApp() {
    if (pid_ > 0 && !exitStatus_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string JourneyApp::log() const { return readText(logFile_); }

nlohmann::json JourneyApp::state() const {
    const std::string text = readText(stateFile_);
    if (text.empty()) return nullptr;
    return nlohmann::json::parse(text, nullptr, false);
}

bool JourneyApp::waitForState(const std::function<bool(const nlohmann::json&)>& done,
                              std::chrono::milliseconds limit) {
    return waitFor(
        [&] {
            const nlohmann::json report = state();
            return report.is_object() && done(report);
        },
        limit);
}

bool JourneyApp::waitForStateWithinReports(const std::function<bool(const nlohmann::json&)>& done,
                                           uint64_t reports) {
    std::optional<uint64_t> first;
    uint64_t latest = 0;
    auto heard = Clock::now();
    for (;;) {
        const nlohmann::json report = state();
        if (report.is_object() && report["sample"].is_number_unsigned()) {
            const uint64_t sample = report["sample"].get<uint64_t>();
            if (done(report)) return true;
            if (!first) first = sample;
            if (sample != latest) heard = Clock::now();
            latest = sample;
            if (sample >= *first + reports) return false;
        }
        if (Clock::now() - heard > 60s) return false;
        std::this_thread::sleep_for(20ms);
    }
}

bool JourneyApp::waitForRecording(uint64_t reports, std::chrono::milliseconds limit,
                                  const std::function<bool()>& also) {
    uint64_t started = 0;
    return waitForState(
        [&](const nlohmann::json& s) {
            if (s["recording"] != true) return false;
            if (started == 0) started = s["sample"].get<uint64_t>();
            return s["sample"].get<uint64_t>() >= started + reports && (!also || also());
        },
        limit);
}

namespace {

// A frame's function without its template and call arguments.
std::string bareFunction(const std::string& frame) {
    std::string bare;
    int depth = 0;
    for (const char c : frame) {
        if (c == '<' || c == '(') {
            ++depth;
        } else if (c == '>' || c == ')') {
            depth = std::max(0, depth - 1);
        } else if (depth == 0) {
            bare += c;
        }
    }
    bare.erase(0, bare.find_first_not_of(' '));
    bare.erase(bare.find_last_not_of(' ') + 1);
    return bare;
}

// What each thread of a program that still runs is doing, one line for
// threads that stand alike (their innermost functions of this program's or
// its libraries', the C library's and the standard library's left out): a
// start or a quit that never comes says where it stands. Nothing when the
// debugger is missing.
std::string threadsOf(pid_t pid) {
    char stat[64];
    std::snprintf(stat, sizeof stat, "/proc/%d/stat", static_cast<int>(pid));
    const std::string status = readText(stat);
    const size_t close = status.rfind(')');
    if (close == std::string::npos || close + 2 >= status.size() || status[close + 2] == 'Z') return {};
    const hollowkit::CommandResult traced = hollowkit::CommandRunner::run(
        "/usr/bin/gdb",
        {"-nx", "-batch", "-p", std::to_string(pid), "-ex", "set print frame-arguments none", "-ex",
         "thread apply all bt 24"},
        {}, /*logged=*/false, std::chrono::seconds(60));
    std::vector<std::string> threads;
    size_t kept = 0;
    std::istringstream lines(traced.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Thread ", 0) == 0) {
            const size_t quote = line.find('"');
            const size_t end = quote == std::string::npos ? std::string::npos : line.find('"', quote + 1);
            threads.push_back((end == std::string::npos ? "?" : line.substr(quote + 1, end - quote - 1)) + ":");
            kept = 0;
        } else if (line.rfind("#", 0) == 0 && !threads.empty() && kept < 8) {
            // "#3  0x... in name (...) at file:line" or "#0  name (...) at ...".
            const size_t in = line.find(" in ");
            const size_t from = in != std::string::npos ? in + 4 : line.find_first_not_of(' ', line.find(' '));
            if (from == std::string::npos) continue;
            const size_t at = line.find(" at ", from);
            const std::string name =
                bareFunction(line.substr(from, at == std::string::npos ? std::string::npos : at - from));
            if (name.empty() || name.starts_with("_") || name.starts_with("std::") || name.starts_with("operator") ||
                name.starts_with("wait") || name == "start_thread" || name == "clone3" || name == "syscall") {
                continue;
            }
            threads.back() += " " + name;
            ++kept;
        }
    }
    std::map<std::string, int> alike;
    for (const std::string& thread : threads) ++alike[thread];
    std::string summary;
    for (const auto& [thread, count] : alike) {
        summary += "\n  " + (count > 1 ? std::to_string(count) + "x " : std::string()) + thread;
    }
    return summary;
}

}  // namespace

std::string JourneyApp::describe() const {
    std::string text = "last report: " + state().dump() + "\nlog:\n" + log();
    if (pid_ <= 0 || exitStatus_) return text;
    // Whether it still runs, asked without reaping it.
    siginfo_t ended{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == pid_) {
        text += ended.si_code == CLD_EXITED ? "\nit ended with status " + std::to_string(ended.si_status) + "\n"
                                            : "\nit was ended by signal " + std::to_string(ended.si_status) + "\n";
        return text;
    }
    const std::string threads = threadsOf(pid_);
    if (!threads.empty()) text += "\nits threads:" + threads + "\n";
    return text;
}

std::optional<std::string> JourneyApp::window() {
    if (window_.empty()) {
        // The main window is the program's mapped window named after it
        // alone: the island's window is "Lumenhollow Island".
        waitFor(
            [&] {
                const hollowkit::CommandResult found = desktop_.x().xdotool(
                    {"search", "--onlyvisible", "--pid", std::to_string(pid_), "--name", "^Lumenhollow$"});
                if (found.status != 0 || found.output.empty()) return false;
                window_ = found.output.substr(0, found.output.find('\n'));
                return true;
            },
            30s);
    }
    if (window_.empty()) return std::nullopt;
    desktop_.x().xdotool({"windowactivate", "--sync", window_});
    desktop_.x().xdotool({"windowfocus", "--sync", window_});
    return window_;
}

std::optional<std::pair<int, int>> JourneyApp::windowOrigin() {
    const std::optional<std::string> id = window();
    if (!id) return std::nullopt;
    const std::optional<ScreenRect> rect = windowGeometry(desktop_, *id);
    if (!rect) return std::nullopt;
    return std::make_pair(rect->x, rect->y);
}

bool JourneyApp::key(const std::string& keys) {
    if (!window()) return false;
    return desktop_.x().xdotool({"key", "--clearmodifiers", keys}).status == 0;
}

bool JourneyApp::clickInWindow(int x, int y) {
    const auto origin = windowOrigin();
    return origin && clickOnScreen(origin->first + x, origin->second + y);
}

bool JourneyApp::clickOnScreen(int x, int y) {
    return desktop_.x().xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"}).status ==
           0;
}

bool JourneyApp::dragOnScreen(int fromX, int fromY, int toX, int toY) {
    std::vector<std::string> arguments{"mousemove", "--sync", std::to_string(fromX), std::to_string(fromY),
                                       "mousedown", "1"};
    constexpr int kSteps = 6;
    for (int i = 1; i <= kSteps; ++i) {
        for (const std::string& word : {std::string("sleep"), std::string("0.1"), std::string("mousemove"),
                                        std::to_string(fromX + (toX - fromX) * i / kSteps),
                                        std::to_string(fromY + (toY - fromY) * i / kSteps)}) {
            arguments.push_back(word);
        }
    }
    for (const char* word : {"sleep", "0.3", "mouseup", "1"}) arguments.emplace_back(word);
    return desktop_.x().xdotool(arguments).status == 0;
}

bool JourneyApp::moveOnScreen(int x, int y) {
    return desktop_.x().xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)}).status == 0;
}

bool JourneyApp::closeWindow() {
    const std::optional<std::string> id = window();
    if (!id) return false;
    // No window manager runs: send what its close button sends, WM_DELETE_WINDOW.
    xcb_connection_t* connection = xcb_connect(desktop_.x().displayName().c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const auto atom = [connection](const char* name) -> xcb_atom_t {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return found;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(std::stoul(*id));
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    // A round trip: the server has handled the message before this client
    // goes; a busy server may drop what a departed client left unread.
    xcb_get_input_focus_reply_t* focus =
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    const bool sent = focus != nullptr;
    std::free(focus);
    xcb_disconnect(connection);
    return sent;
}

void JourneyApp::signal(int number) {
    if (pid_ > 0 && !exitStatus_) ::kill(pid_, number);
}

std::optional<int> JourneyApp::waitForExit(std::chrono::milliseconds limit) {
    if (exitStatus_) return exitStatus_;
    int status = 0;
    if (!waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) return std::nullopt;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitStatus_;
}

bool JourneyApp::running() {
    if (exitStatus_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

}  // namespace lumenhollow::journey
