#include "lumenhollow/platform/linux/freedesktop_desktop.h"

#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/base/unique_fd.h"
#include "lumenhollow/platform/linux/bounded_bus.h"
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
        std::string failure;
        if (!session) {
            const std::string address =
                options.sessionBusAddress.empty() ? BoundedBus::sessionAddress() : options.sessionBusAddress;
            auto opened = BoundedBus::open(address, options.connectTimeout, stop.get());
            if (opened) {
                session = std::move(*opened);
            } else {
                failure = opened.error().text;
            }
        }
        if (session) {
            const std::string uri = fileUri(target);
            auto answered = session->call(
                kFileManagerName, kFileManagerPath, kFileManagerName, method,
                [&uri](sd_bus_message* call) { return sd_bus_message_append(call, "ass", 1, uri.c_str(), ""); },
                options.callTimeout, stop.get());
            if (answered) return;
            failure = answered.error().text;
        }
        // No bus, no file manager on it, or one that failed or did not
        // answer: the folder through xdg-open instead.
        session.reset();
        hollowkit::PocketLog::logf("No file manager answered on the session bus (%s); using xdg-open",
                                   failure.c_str());
        if (!xdgOpen(folder) && notShown) notShown(folder);
    }

    // False when xdg-open could not be started.
    bool xdgOpen(const std::filesystem::path& folder) {
        const std::optional<std::string> program = hollowkit::findProgram(options.searchPath, "xdg-open");
        if (!program) {
            hollowkit::PocketLog::logf("Cannot show %s: xdg-open is not installed", folder.c_str());
            return false;
        }
        // "$0" and "$1" are the program and the folder, never parsed by the shell.
        const hollowkit::CommandResult result = hollowkit::CommandRunner::run(
            "/bin/sh", {"-c", "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &", *program, folder.string()}, {},
            false, kStartTimeout);
        if (result.status != 0) {
            hollowkit::PocketLog::logf("Cannot start xdg-open for %s: %s", folder.c_str(), result.output.c_str());
            return false;
        }
        return true;
    }

    Options options;
    // Readable once the owner ends: a greeting or call under way stops.
    const hollowkit::UniqueFd stop{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    NotShownHandler notShown;  // queue only
    std::unique_ptr<BoundedBus> session;  // queue only
    hollowkit::SerialQueue queue{"Lumenhollow.Desktop"};  // last: joined first
};

FreedesktopDesktop::FreedesktopDesktop(Options options) : worker_(std::make_unique<Worker>(std::move(options))) {}

FreedesktopDesktop::~FreedesktopDesktop() {
    // Requests already made still run (the queue would drop them); one
    // still waiting on the bus after `endTimeout` waits no more.
    auto reached = std::make_shared<std::promise<void>>();
    std::future<void> caughtUp = reached->get_future();
    worker_->queue.post([reached] { reached->set_value(); });
    if (caughtUp.wait_for(worker_->options.endTimeout) != std::future_status::ready) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(worker_->stop.get(), &one, sizeof one);
    }
    worker_->queue.sync([] {});
}

void FreedesktopDesktop::setNotShownHandler(NotShownHandler handler) {
    // Through the queue: every request made after it sees it.
    worker_->queue.post([worker = worker_.get(), handler = std::move(handler)]() mutable {
        worker->notShown = std::move(handler);
    });
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
