#pragma once

// FreedesktopDesktop: Desktop through the file manager's D-Bus service
// (org.freedesktop.FileManager1: ShowFolders to open a folder, ShowItems to
// reveal a file) on the session bus. Where no file manager answers there,
// `xdg-open` opens the folder (for a file, the folder holding it), found on
// the search path given or, by default, on $PATH as it was at construction.
//
// Where neither is there (or xdg-open cannot be started), the not-shown
// handler is told, on the queue.
//
// xdg-open is started through CommandRunner by a shell that leaves it
// running in the background and returns at once: without a desktop
// environment xdg-open waits for the program it opened, and CommandRunner's
// time-out would end the user's file manager with it.
//
// Threads: the work runs on a queue of its own ("Lumenhollow.Desktop"), so a
// hung bus or a slow file manager never holds up the caller; requests run in
// order; the bus's greeting and every call are bounded (BoundedBus). Any
// thread. Destruction waits for requests already made; after `endTimeout`
// they no longer wait on the bus.

#include <chrono>
#include <memory>
#include <string>

#include "hollowkit/base/clock.h"
#include "lumenhollow/platform/desktop.h"

namespace lumenhollow {

class FreedesktopDesktop final : public Desktop {
public:
    struct Options {
        // Empty: the user's session bus.
        std::string sessionBusAddress;
        // Folders searched for xdg-open, separated by ':'; empty: $PATH.
        std::string searchPath;
        // The bus's answer to the greeting, and the file manager's to a call.
        hollowkit::Duration connectTimeout = std::chrono::seconds(8);
        hollowkit::Duration callTimeout = std::chrono::seconds(5);
        // At the end, how long a request still waits on the bus.
        hollowkit::Duration endTimeout = std::chrono::milliseconds(500);
    };

    FreedesktopDesktop() : FreedesktopDesktop(Options{}) {}
    explicit FreedesktopDesktop(Options options);
    ~FreedesktopDesktop() override;
    FreedesktopDesktop(const FreedesktopDesktop&) = delete;
    FreedesktopDesktop& operator=(const FreedesktopDesktop&) = delete;

    void setNotShownHandler(NotShownHandler handler) override;
    void openFolder(const std::filesystem::path& folder) override;
    void revealFile(const std::filesystem::path& file) override;

private:
    struct Worker;
    std::unique_ptr<Worker> worker_;
};

}  // namespace lumenhollow
