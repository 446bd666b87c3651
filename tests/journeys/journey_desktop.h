#pragma once

// JourneyDesktop: a desktop of one journey's own, for the real programs in
// child processes: an X server, a private PulseAudio server whose default
// source plays a tone (the computer's microphone), and a scratch home with
// its own configuration and Videos folder. JourneyApp is one program
// running on it: launched with the desktop's environment, read through the
// state report it rewrites every 100 ms (lumenhollow/app/run_report.h),
// driven with xdotool keys and clicks on its window, and ended by a signal
// or by itself. Every wait is bounded and polls; nothing here times the
// program. A wait for the program's answer may count in its own reports
// (its clock, as slow as the machine makes it), and a wait for long work
// (movies finished, composed) lasts as long as the work goes on.
//
// Thread: the test's own; nothing is shared.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/private_pulse_server.h"
#include "hollowkit/testing/xvfb_server.h"

namespace lumenhollow::journey {

using namespace std::chrono_literals;

// Polls `done` every 20 ms for at most `limit`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s);

// Polls `done` every 20 ms for as long as the work it waits for goes on:
// false once `progress` (anything that changes while the work goes on)
// stayed the same for `stall`. A loaded machine makes the work slower, not
// the wait shorter.
bool waitWhileProgressing(const std::function<bool()>& done, const std::function<std::string()>& progress,
                          std::chrono::milliseconds stall = 60s);

// The sizes of every file under `folder`, however deep, hidden ones too: it
// changes while anything there is being written.
std::string sizesUnder(const std::filesystem::path& folder);

std::string readText(const std::filesystem::path& path);

class JourneyDesktop {
public:
    JourneyDesktop() = default;
    ~JourneyDesktop();
    JourneyDesktop(const JourneyDesktop&) = delete;
    JourneyDesktop& operator=(const JourneyDesktop&) = delete;

    // Why the machine cannot run a journey (no Xvfb, xdotool or
    // pulseaudio); nothing when it can.
    static std::optional<std::string> missingTool();

    // Starts the X server (width x height) and the sound server, and makes
    // the scratch home.
    void start(int width = 1920, int height = 1080);

    hollowkit::XvfbServer& x() { return xvfb_; }
    hollowkit::PrivatePulseServer& pulse() { return pulse_; }
    const std::filesystem::path& home() const { return home_; }
    std::filesystem::path configHome() const { return home_ / "config"; }
    // Where the application writes its movies, photos and takes.
    std::filesystem::path outputFolder() const { return home_ / "Videos" / "Lumenhollow"; }
    // The environment every program on this desktop gets: the test's own
    // minus its display, platform and scratch settings, plus this desktop's.
    std::vector<std::string> environment() const;

private:
    hollowkit::XvfbServer xvfb_;
    hollowkit::PrivatePulseServer pulse_;
    std::filesystem::path home_;
};

// A returning user: stores "welcomed" in the desktop's settings, as a first
// launch leaves it, so the welcome sheet does not open over the picture.
void storeWelcomed(const JourneyDesktop& desktop);

// A journey on a desktop of its own, started, with a returning user's
// settings; skipped where the machine lacks the tools.
class ReturningUserJourney : public testing::Test {
protected:
    void SetUp() override;

    JourneyDesktop desktop_;
};

// A resource limit (setrlimit) a program starts under: its soft value.
// RLIMIT_FSIZE makes every write past `soft` bytes fail with EFBIG, as a
// full disk would fail it (the kernel's SIGXFSZ is ignored in the child).
struct JourneyLimit {
    int resource = 0;
    rlim_t soft = RLIM_INFINITY;
};

class JourneyApp {
public:
    // Starts `program` on `desktop` with `extra` environment entries (each
    // replacing the desktop's of its name) and
    // `limits`. Its state report goes to <home>/<name>.state, its output to
    // <home>/<name>.log; but for `piped` (STDOUT_FILENO or STDERR_FILENO),
    // which goes into a pipe the test reads through pipedOutput(). The
    // standard streams in `closed` (0, 1, 2) it starts without, as
    // `program <&- >&- 2>&-` starts it.
    JourneyApp(JourneyDesktop& desktop, std::string name, const std::string& program,
               const std::vector<std::string>& extra = {}, const std::vector<std::string>& arguments = {},
               const std::vector<JourneyLimit>& limits = {}, std::optional<int> piped = std::nullopt,
               const std::vector<int>& closed = {});
    // Kills the program if it still runs.
    ~JourneyApp();
    JourneyApp(const JourneyApp&) = delete;
    JourneyApp& operator=(const JourneyApp&) = delete;

    pid_t pid() const { return pid_; }
    std::string log() const;
    // The read end of the piped stream (-1 when none, or once closed);
    // closing it leaves the program writing into a pipe nobody reads.
    int pipedOutput() const { return pipedOutput_.get(); }
    void closePipedOutput() { pipedOutput_.reset(); }

    // The latest state report; null before the first.
    nlohmann::json state() const;
    // Waits until the report satisfies `done`; the last report read is left
    // in `last` for the failure message.
    bool waitForState(const std::function<bool(const nlohmann::json&)>& done, std::chrono::milliseconds limit = 30s);
    // Waits until the report satisfies `done`, for at most `reports` of the
    // program's reports (a tenth of a second each by its own clock): a wait
    // for the program's answer to a key or a click lasts as long in its
    // time however slowly a loaded machine runs it. False as well when no
    // report came for a minute (the program hangs or ended).
    bool waitForStateWithinReports(const std::function<bool(const nlohmann::json&)>& done, uint64_t reports);
    // The report's value of `key` in words, for failure messages.
    std::string describe() const;
    // Waits until `reports` reports (a tenth of a second each) have come
    // since the first that said it records, the latest saying it still
    // does, and `also` holds.
    bool waitForRecording(uint64_t reports, std::chrono::milliseconds limit,
                          const std::function<bool()>& also = {});

    // The main window (found by the program's pid), raised and focused.
    std::optional<std::string> window();
    // The window's top-left on the screen.
    std::optional<std::pair<int, int>> windowOrigin();
    // Key presses sent to the focused main window (xdotool names: "ctrl+r").
    bool key(const std::string& keys);
    // A left click at (x, y) in the main window.
    bool clickInWindow(int x, int y);
    // A left click at (x, y) on the screen.
    bool clickOnScreen(int x, int y);
    // A left-button drag on the screen from one point to another, paced
    // like a hand (a few steps a tenth of a second apart).
    bool dragOnScreen(int fromX, int fromY, int toX, int toY);
    // Moves the pointer to (x, y) on the screen.
    bool moveOnScreen(int x, int y);
    // Closes the main window as the window manager's close button does.
    bool closeWindow();

    // Sets the running program's soft limit (prlimit), as a disk that
    // fills at this moment would leave it.
    bool limit(const JourneyLimit& limit);

    void signal(int number);
    // The exit status (128 + signal when killed) once it ended within `limit`.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    bool running();

private:
    JourneyDesktop& desktop_;
    std::filesystem::path stateFile_;
    std::filesystem::path logFile_;
    hollowkit::UniqueFd pipedOutput_;
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
    std::string window_;
};

}  // namespace lumenhollow::journey
