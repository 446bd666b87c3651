#include "lumenhollow/platform/linux/freedesktop_desktop.h"

#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/serial_queue.h"
#include "lumenhollow/platform/file_uri.h"

namespace lumenhollow {

namespace {

constexpr const char* kFileManagerName = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";
// Starting xdg-open is quick; the shell leaves it running.
constexpr auto kStartTimeout = std::chrono::seconds(10);

std::filesystem::path absolutePath(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute;
}

}  // namespace

struct FreedesktopDesktop::Worker {
    explicit Worker(Options opts) : options(std::move(opts)) {
        if (options.searchPath.empty()) {
            const char* path = std::getenv("PATH");
            options.searchPath = path ? path : "/usr/local/bin:/usr/bin:/bin";
        }
    }

    // Queue only.
    void show(const char* method, const std::filesystem::path& target, const std::filesystem::path& folder) {
        try {
            if (!session) {
                session = options.sessionBusAddress.empty()
                              ? sdbus::createSessionBusConnection()
                              : sdbus::createSessionBusConnectionWithAddress(options.sessionBusAddress);
            }
            auto proxy = sdbus::createProxy(*session, kFileManagerName, kFileManagerPath);
            proxy->callMethod(method)
                .onInterface(kFileManagerName)
                .withTimeout(options.callTimeout)
                .withArguments(std::vector<std::string>{fileUri(target)}, std::string());
            return;
        } catch (const std::exception& error) {
            // No bus, no file manager on it, or one that failed: the folder
            // through xdg-open instead. Never let sdbus::Error leave the queue.
            session.reset();
            hollowkit::PocketLog::logf("No file manager answered on the session bus (%s); using xdg-open",
                                       error.what());
        }
        xdgOpen(folder);
    }

    void xdgOpen(const std::filesystem::path& folder) {
        const std::optional<std::string> program = hollowkit::findProgram(options.searchPath, "xdg-open");
        if (!program) {
            hollowkit::PocketLog::logf("Cannot show %s: xdg-open is not installed", folder.c_str());
            return;
        }
        // "$0" and "$1" are the program and the folder, never parsed by the shell.
        const hollowkit::CommandResult result = hollowkit::CommandRunner::run(
            "/bin/sh", {"-c", "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &", *program, folder.string()}, {},
            false, kStartTimeout);
        if (result.status != 0) {
            hollowkit::PocketLog::logf("Cannot start xdg-open for %s: %s", folder.c_str(), result.output.c_str());
        }
    }

    Options options;
    std::unique_ptr<sdbus::IConnection> session;  // queue only
    hollowkit::SerialQueue queue{"Lumenhollow.Desktop"};  // last: joined first
};

FreedesktopDesktop::FreedesktopDesktop(Options options) : worker_(std::make_unique<Worker>(std::move(options))) {}

FreedesktopDesktop::~FreedesktopDesktop() {
    // Requests already made still run; the queue would drop them.
    worker_->queue.sync([] {});
}

void FreedesktopDesktop::openFolder(const std::filesystem::path& folder) {
    worker_->queue.post([worker = worker_.get(), folder = absolutePath(folder)] {
        worker->show("ShowFolders", folder, folder);
    });
}

void FreedesktopDesktop::revealFile(const std::filesystem::path& file) {
    worker_->queue.post([worker = worker_.get(), file = absolutePath(file)] {
        worker->show("ShowItems", file, file.parent_path());
    });
}

}  // namespace lumenhollow
