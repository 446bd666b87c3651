#pragma once

// A second client of a test's X server that sees the desktop as a user
// does: it reads the screen back from the root window (what is really
// shown, a compositor's work included), keeps a plain window of its own
// that counts the clicks reaching it, and tells whether a compositing
// manager runs. Also starts and ends such a manager (xcompmgr) for a test.
// One owner thread.

#include <sys/types.h>

#include <QRect>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xcb_connection_t;

namespace lumenhollow::test {

class DesktopProbe {
public:
    // Darker than this in every channel counts as black: the island's fill,
    // not its anti-aliased rim or its soft shadow over a white window.
    static constexpr int kBlackLevel = 16;

    ~DesktopProbe();
    DesktopProbe(const DesktopProbe&) = delete;
    DesktopProbe& operator=(const DesktopProbe&) = delete;

    // Connects to `display`; nothing when it cannot.
    static std::unique_ptr<DesktopProbe> connect(const std::string& display);

    // The bounding box of the black pixels shown within `area` (global
    // coordinates); an empty rectangle when there are none.
    QRect blackBounds(const QRect& area);

    // Maps a white window covering `frame`, stacked right beneath `above`
    // (a sibling top-level window), that counts the button presses it gets.
    bool openWindowBeneath(const QRect& frame, uint32_t above);
    // The presses the window has got so far.
    int presses();

    // Waits up to `limit` for a compositing manager to own the screen.
    bool waitForCompositor(std::chrono::milliseconds limit);

private:
    explicit DesktopProbe(xcb_connection_t* connection);
    bool compositorRuns();

    xcb_connection_t* connection_;
    uint32_t root_ = 0;
    uint32_t window_ = 0;
    uint32_t compositorAtom_ = 0;
    int presses_ = 0;
};

// xcompmgr on `display` while this lives; ended (SIGTERM, reaped) with it.
class CompositorProcess {
public:
    static std::optional<std::string> program();
    CompositorProcess() = default;
    ~CompositorProcess();
    CompositorProcess(const CompositorProcess&) = delete;
    CompositorProcess& operator=(const CompositorProcess&) = delete;

    // An empty string, or why it did not start.
    std::string start(const std::string& display);
    // Ends it (SIGTERM) and waits for it; it gives up the screen on its way out.
    void stop();

private:
    pid_t pid_ = -1;
};

}  // namespace lumenhollow::test
