#pragma once

// A compositing manager (xcompmgr) for tests on a private X server.
//
// Thread: the owner's.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/x11/xcb_connection.h"

extern char** environ;

namespace hollowkit::testsupport {

// xcompmgr on a display, killed with its owner; not started when the
// machine has none.
class TestCompositor {
public:
    static std::optional<std::string> program() {
        for (const char* path : {"/usr/bin/xcompmgr", "/usr/local/bin/xcompmgr"}) {
            if (::access(path, X_OK) == 0) return std::string(path);
        }
        return std::nullopt;
    }

    TestCompositor() = default;
    ~TestCompositor() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    TestCompositor(const TestCompositor&) = delete;
    TestCompositor& operator=(const TestCompositor&) = delete;

    bool start(const std::string& display) {
        const auto path = program();
        if (!path) return false;
        std::string env = "/usr/bin/env";
        std::string displayArgument = "DISPLAY=" + display;
        std::string xcompmgr = *path;
        std::vector<char*> argv{env.data(), displayArgument.data(), xcompmgr.data(), nullptr};
        if (::posix_spawn(&pid_, env.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
        display_ = display;
        return pid_ > 0;
    }

    // Waits (bounded) until it owns the screen, as a compositing manager
    // does once it draws it.
    bool waitUntilDrawing(std::chrono::milliseconds limit) const {
        auto connection = x11::openConnection(display_);
        if (pid_ <= 0 || !connection) return false;
        const uint32_t selection =
            x11::internAtom(connection->get(), x11::compositorSelectionName(connection->screenNumber));
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (x11::selectionOwned(connection->get(), selection)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Ends it and waits (bounded) until the server knows it gone: its
    // selection has no owner.
    bool stop(std::chrono::milliseconds limit) {
        if (pid_ <= 0) return false;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        auto connection = x11::openConnection(display_);
        if (!connection) return false;
        const uint32_t selection =
            x11::internAtom(connection->get(), x11::compositorSelectionName(connection->screenNumber));
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (!x11::selectionOwned(connection->get(), selection)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Stopped, it draws no frame until resumed: the screen keeps its last.
    bool pause() { return pid_ > 0 && ::kill(pid_, SIGSTOP) == 0; }
    bool resume() { return pid_ > 0 && ::kill(pid_, SIGCONT) == 0; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace hollowkit::testsupport
