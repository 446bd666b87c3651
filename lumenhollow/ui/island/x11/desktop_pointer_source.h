#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "hollowkit/base/executor.h"
#include "lumenhollow/ui/island/island_platform.h"

namespace lumenhollow::ui {

struct QtEventWatch;

// Only while watched, asks the X server where the pointer is when the
// server says the pointer moved or a button changed (XInput 2 raw events on
// the root window, over a connection of its own) and when our own windows
// hear of it (an application event filter: a pointer moved by a program
// sends no raw event), at most once every ~16 ms, and at once for a press
// or release over our windows. A still pointer costs nothing. Without raw
// events (an X server without XInput 2.1, or away from X11, where Qt's
// cursor and the buttons it knows of stand in) it also asks every ~16 ms.
// Unwatched, it holds no connection, runs no timer and filters nothing. A
// raw-event connection that breaks says so in the log, and the timer takes
// over. GUI thread only.
class DesktopPointerSource final : public PointerSource {
    Q_OBJECT
public:
    static constexpr auto kPollInterval = std::chrono::milliseconds(16);

    DesktopPointerSource(hollowkit::MainExecutor& main, QObject* parent = nullptr);
    ~DesktopPointerSource() override;
    PointerSample sample() const override { return last_; }
    void setWatching(bool watching) override;

    // How often the pointer has been asked for, and whether moves are heard
    // as the server's events (rather than asked for on a timer).
    uint64_t queries() const { return queries_; }
    bool hearsRawEvents() const { return raw_ != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void poll();
    void activity();
    void holdBack();
    void readRawEvents();
    bool drainRawEvents();
    void stopRawEvents();
    PointerSample query() const;

    hollowkit::MainExecutor& main_;
    bool watching_ = false;
    hollowkit::TaskId pollTask_ = 0;     // the timer, without raw events
    hollowkit::TaskId holding_ = 0;  // the end of an interval after a query
    bool heldBack_ = false;          // activity heard while holding

    std::unique_ptr<QtEventWatch> raw_;
    PointerSample last_;
    uint64_t queries_ = 0;
};

}  // namespace lumenhollow::ui
