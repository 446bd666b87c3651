#pragma once

// FakeSessionServices: stand-ins for the desktop services the platform
// backends call, served on a private D-Bus bus (PrivateDbusDaemon): the
// screen saver (org.freedesktop.ScreenSaver: Inhibit → cookie, UnInhibit),
// logind's manager (org.freedesktop.login1.Manager.Inhibit → the write end of
// a pipe, whose closing the fake sees as the release) and the file manager
// (org.freedesktop.FileManager1: ShowFolders, ShowItems). Only the services
// chosen in Options own their names; calls to the others fail as on a
// desktop without them.
//
// Every call is recorded as one line: "Inhibit Lumenhollow|Recording video
// -> 1", "UnInhibit 1", "login1.Inhibit idle|Lumenhollow|Recording video|block",
// "ShowItems file:///tmp/a%20b.mov|". A screen saver may be told to hold
// its Inhibit answers until releaseScreenSaver(), like a hung service.
//
// Threads: one D-Bus thread of sdbus-c++ serves the calls; the rest is any
// thread. Waits are bounded.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "hollowkit/base/result.h"

namespace lumenhollow {

class FakeSessionServices {
public:
    struct Options {
        bool screenSaver = false;
        // Inhibit answers org.freedesktop.DBus.Error.NotSupported.
        bool screenSaverRefuses = false;
        // Inhibit waits for releaseScreenSaver() before it answers.
        bool holdScreenSaver = false;
        bool logind = false;
        bool fileManager = false;
    };

    explicit FakeSessionServices(Options options);
    ~FakeSessionServices();
    FakeSessionServices(const FakeSessionServices&) = delete;
    FakeSessionServices& operator=(const FakeSessionServices&) = delete;

    // Connects to the bus at `address` and takes the chosen names.
    hollowkit::Result<void, std::string> start(const std::string& address);

    std::vector<std::string> calls() const;
    // Waits (up to `bound`) until some call line equals `line`.
    bool waitForCall(const std::string& line, std::chrono::milliseconds bound = std::chrono::seconds(20)) const;
    // Waits (up to `bound`) until `count` logind inhibitors are still held.
    bool waitForLogindHeld(int count, std::chrono::milliseconds bound = std::chrono::seconds(20)) const;
    // Cookies handed out and not given back.
    int screenSaverHeld() const;
    // Lets held Inhibit calls answer.
    void releaseScreenSaver();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumenhollow
