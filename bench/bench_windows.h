#pragma once

// The benchmarks' windows on a test X server: this process's own (marked
// with its process id, as the app's are) and other programs' (marked with
// another), redrawn on a thread of their own, and the X server's CPU time.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "../tests/recording/x11_test_windows.h"

namespace benchsupport {

// CPU seconds of this process's child named `name` (the test X server).
inline double childCpuSeconds(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream children(task.path() / "children");
        for (long pid = 0; children >> pid;) {
            std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
            std::string command;
            std::getline(comm, command);
            if (command != name) continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            // Fields 14 and 15 (user and system ticks) follow the command's ")".
            std::istringstream fields(line.substr(line.rfind(')') + 2));
            std::string field;
            double ticks = 0;
            for (int i = 3; i <= 15 && fields >> field; ++i) {
                if (i >= 14) ticks += std::strtod(field.c_str(), nullptr);
            }
            return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
        }
    }
    return 0;
}

// Windows on the bench's display: `others` windows of another program and,
// when `ours`, this process's main window and island over part of them.
// Redrawn on a thread of their own until destroyed: our main window 30 times
// a second, the first other window 10 times.
class BenchWindows {
public:
    BenchWindows(const std::string& display, int others, bool ours)
        : others_(display, static_cast<uint32_t>(::getpid()) + 1), ours_(display, static_cast<uint32_t>(::getpid())) {
        using Look = hollowkit::testsupport::X11TestWindows::Look;
        std::mt19937 random(11);
        const auto color = [&] {
            return hollowkit::RgbColor{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                                       static_cast<uint8_t>(random())};
        };
        const auto openOther = [&](int i) {
            const uint32_t w = others_.open({100 + (i % 5) * 340, 120 + (i / 5 % 2) * 420, 480, 320}, Look{color()});
            if (i == 0) busyOther_ = w;
        };
        // Most under ours, the last one above.
        for (int i = 0; i < others - 1; ++i) openOther(i);
        if (ours) {
            main_ = ours_.open({384, 216, 1152, 648}, Look{color()});
            ours_.open({780, 40, 360, 64}, Look{color(), 255, true});
        }
        if (others > 0) openOther(others - 1);
        redraw_ = std::thread([this] {
            for (int tick = 0; !stop_.load(); ++tick) {
                const hollowkit::RgbColor shade{static_cast<uint8_t>(tick * 7), 90,
                                                static_cast<uint8_t>(255 - tick * 3)};
                if (main_ != 0) ours_.recolor(main_, shade);
                if (busyOther_ != 0 && tick % 3 == 0) others_.recolor(busyOther_, shade);
                std::this_thread::sleep_for(std::chrono::microseconds(33'333));
            }
        });
    }
    ~BenchWindows() {
        stop_.store(true);
        redraw_.join();
    }
    BenchWindows(const BenchWindows&) = delete;
    BenchWindows& operator=(const BenchWindows&) = delete;

private:
    hollowkit::testsupport::X11TestWindows others_;
    hollowkit::testsupport::X11TestWindows ours_;
    uint32_t main_ = 0;
    uint32_t busyOther_ = 0;
    std::atomic<bool> stop_{false};
    std::thread redraw_;
};

}  // namespace benchsupport
