#include "lumenhollow/platform/linux/unix_instance_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/base/unique_fd.h"

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using hollowkit::PocketLog;
using hollowkit::UniqueFd;
using Deadline = std::chrono::steady_clock::time_point;

constexpr std::string_view kRequest = "forward\n";
constexpr std::string_view kAnswer = "ok\n";
constexpr const char* kLockName = "instance.lock";
// The socket's name beside the lock; in the runtime folder it carries the
// lock file's device and inode instead.
constexpr const char* kSocketBesideLock = "instance.socket";
constexpr int kBacklog = 16;
// How long the settings folder must be quiet before the holder makes its
// lock file again: a removal of the folder (rm -r) is done by then, and the
// new file never keeps it from removing the folder.
constexpr auto kSettle = std::chrono::milliseconds(50);

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A folder only this user can make names in.
bool usersOwnFolder(const fs::path& folder) {
    struct stat status {};
    return !folder.empty() && folder.is_absolute() && ::stat(folder.c_str(), &status) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

// A socket's address, short enough for sun_path however deep its folder:
// a long path goes through the folder held open (/proc/self/fd/N/name).
struct SocketAddress {
    UniqueFd folder;
    sockaddr_un address{};
    socklen_t length = 0;
    bool valid = false;

    explicit SocketAddress(const fs::path& path) {
        address.sun_family = AF_UNIX;
        std::string text = path.string();
        if (text.size() >= sizeof address.sun_path) {
            folder.reset(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!folder) return;
            text = "/proc/self/fd/" + std::to_string(folder.get()) + "/" + path.filename().string();
            if (text.size() >= sizeof address.sun_path) return;
        }
        std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + text.size() + 1);
        valid = true;
    }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

// The process at the other end of `fd`, when it runs as this user.
std::optional<int> peerOfThisUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || credentials.uid != ::geteuid()) {
        return std::nullopt;
    }
    return credentials.pid;
}

int millisecondsUntil(Deadline deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

Deadline deadlineIn(std::chrono::nanoseconds limit) {
    const auto now = std::chrono::steady_clock::now();
    // Far enough for any wait, without overflowing.
    return limit > std::chrono::hours(24 * 365) ? now + std::chrono::hours(24 * 365) : now + limit;
}

enum class Wait { ready, other, timedOut };

// Waits until `fd` is readable, `other` (when not -1) is readable, or the deadline.
Wait waitReadable(int fd, int other, Deadline deadline) {
    for (;;) {
        pollfd entries[2] = {{other, POLLIN, 0}, {fd, POLLIN, 0}};
        const int ready = ::poll(entries, 2, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Wait::timedOut;
        if (other >= 0 && entries[0].revents != 0) return Wait::other;
        if (entries[1].revents != 0) return Wait::ready;
        if (ready == 0) return Wait::timedOut;
    }
}

enum class Read { expected, other, timedOut, failed };

// Reads `expected` from `fd` by the deadline, `other` ending the wait.
Read readExactly(int fd, std::string_view expected, int other, Deadline deadline) {
    std::string got;
    while (got.size() < expected.size()) {
        switch (waitReadable(fd, other, deadline)) {
        case Wait::ready:
            break;
        case Wait::other:
            return Read::other;
        case Wait::timedOut:
            return Read::timedOut;
        }
        char buffer[16];
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, expected.size() - got.size()));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return Read::failed;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got == expected ? Read::expected : Read::failed;
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<int> parsePid(std::string_view text) {
    const std::string value(text.substr(0, text.find('\n')));
    char* end = nullptr;
    const long pid = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || pid <= 0 || pid > INT32_MAX) return std::nullopt;
    return static_cast<int>(pid);
}

}  // namespace

struct UnixInstanceLock::State {
    fs::path folder;
    Options options;
    // The runtime folders a holder may listen in, the first usable one
    // its own: $XDG_RUNTIME_DIR, and where the system makes it, for a start
    // from a session without the variable.
    std::vector<fs::path> runtimeFolders;
    UniqueFd lock;
    bool held = false;
    // Where a holder listens, in the order a start looks (the first is
    // where this one listens once it holds the lock).
    std::vector<fs::path> places;
    fs::path bound;
    // The socket file this holder made, to remove only that one.
    struct stat boundFile {};
    UniqueFd listener;
    UniqueFd stop;
    // The settings folder's inotify watch, while the holder serves and
    // keeps its lock file at its path.
    UniqueFd watch;
    int watched = -1;
    bool watching = false;
    std::thread server;
    std::optional<int> holder;

    hollowkit::Mutex mutex;
    std::function<void()> comeForward HK_GUARDED_BY(mutex);
    bool pending HK_GUARDED_BY(mutex) = false;

    // Runs the program without a lock: said once.
    bool unguarded(const std::string& why) {
        PocketLog::logf("Only one Lumenhollow should run on %s, but %s; it is not checked", folder.c_str(),
                        why.c_str());
        held = true;
        return true;
    }

    // The lock file's open; names the socket's places after it.
    bool open() {
        if (lock) return true;
        std::error_code ignored;
        fs::create_directories(folder, ignored);
        const fs::path file = folder / kLockName;
        lock.reset(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        // A read-only folder may still hold the file from an earlier start.
        if (!lock) lock.reset(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!lock) return false;
        std::vector<fs::path> named = placesFor(lock.get());
        hollowkit::MutexLock locked(mutex);
        places = std::move(named);
        return true;
    }

    std::vector<fs::path> placesFor(int lockFd) const {
        std::vector<fs::path> named;
        struct stat status {};
        if (::fstat(lockFd, &status) == 0) {
            char name[64];
            std::snprintf(name, sizeof name, "lumenhollow-%llx-%llx.socket",
                          static_cast<unsigned long long>(status.st_dev),
                          static_cast<unsigned long long>(status.st_ino));
            for (const fs::path& runtime : runtimeFolders) {
                if (usersOwnFolder(runtime)) named.push_back(runtime / name);
            }
        }
        named.push_back(folder / kSocketBesideLock);
        return named;
    }

    // Whoever holds the lock is named in it.
    void writePid() const {
        const std::string text = std::to_string(::getpid()) + "\n";
        if (::ftruncate(lock.get(), 0) == 0) {
            [[maybe_unused]] const ssize_t written = ::pwrite(lock.get(), text.data(), text.size(), 0);
        }
    }

    std::optional<int> pidInLock() const {
        char buffer[32] = {};
        const ssize_t n = lock ? ::pread(lock.get(), buffer, sizeof buffer - 1, 0) : -1;
        return n > 0 ? parsePid(std::string_view(buffer, static_cast<size_t>(n))) : std::nullopt;
    }

    // Listens on the first place; false (said in the log) when it cannot.
    bool bindSocket() {
        const fs::path path = places.front();
        // A socket a killed holder left; this one holds the lock now.
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) ::unlink(path.c_str());
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        const SocketAddress address(path);
        // The socket file takes the socket's mode: nobody else may connect.
        if (!fd || !address.valid || ::fchmod(fd.get(), 0600) != 0 ||
            ::bind(fd.get(), address.get(), address.length) != 0 || ::listen(fd.get(), kBacklog) != 0) {
            PocketLog::logf("Another start of Lumenhollow on %s cannot reach this one (%s: %s); it waits for this "
                            "one to end",
                            folder.c_str(), path.c_str(), std::strerror(errno));
            return false;
        }
        bound = path;
        boundFile = {};
        ::lstat(bound.c_str(), &boundFile);
        listener = std::move(fd);
        return true;
    }

    // Removes the socket file this holder made, and never one another
    // program made at that path since (its settings folder replaced).
    void unlinkOwnSocket() {
        if (bound.empty()) return;
        struct stat status {};
        if (::lstat(bound.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) && sameFile(status, boundFile)) {
            ::unlink(bound.c_str());
        }
        bound.clear();
    }

    void listen() {
        if (!bindSocket()) return;
        stop.reset(::eventfd(0, EFD_CLOEXEC));
        if (!stop) {
            PocketLog::logf("Another start of Lumenhollow cannot reach this one (%s)", std::strerror(errno));
            listener.reset();
            unlinkOwnSocket();
            return;
        }
        watching = true;
        watchFolder();
        server = std::thread([this] { run(); });
    }

    // Watches the settings folder at its path for its lock file leaving;
    // without inotify the look every `lockCheck` still finds it.
    void watchFolder() {
        if (!watch) watch.reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!watch) return;
        if (watched >= 0) ::inotify_rm_watch(watch.get(), watched);
        watched = ::inotify_add_watch(watch.get(), folder.c_str(),
                                      IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF | IN_DELETE | IN_MOVED_FROM |
                                          IN_MOVED_TO);
    }

    // Reads the watch's events; true when one may concern the lock file
    // (the folder itself, the lock file's name, or events lost).
    bool drainWatch() {
        bool concerns = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(watch.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return concerns;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) != 0 ||
                    (event->len > 0 && std::strcmp(event->name, kLockName) == 0)) {
                    concerns = true;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    // Waits until the folder is quiet for a moment; false when the holder
    // stops serving meanwhile.
    bool settle() {
        for (int round = 0; round < 20; ++round) {
            switch (waitReadable(watch.get(), stop.get(), deadlineIn(kSettle))) {
            case Wait::other:
                return false;
            case Wait::timedOut:
                return true;
            case Wait::ready:
                drainWatch();
                break;
            }
        }
        return true;
    }

    bool lockAtPath() const {
        struct stat atPath {};
        struct stat opened {};
        return ::stat((folder / kLockName).c_str(), &atPath) == 0 && ::fstat(lock.get(), &opened) == 0 &&
               sameFile(atPath, opened);
    }

    // The lock file went from its path while this program runs on the
    // folder: a later start would make another and never meet this one.
    void retake() {
        if (options.lockGone) options.lockGone();
        std::error_code ignored;
        fs::create_directories(folder, ignored);
        const fs::path file = folder / kLockName;
        UniqueFd fresh(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        const bool taken = fresh && ::flock(fresh.get(), LOCK_EX | LOCK_NB) == 0;
        if (!taken) {
            if (fresh && (errno == EWOULDBLOCK || errno == EINTR)) {
                PocketLog::logf("The settings folder %s was replaced while Lumenhollow was running, and another "
                                "Lumenhollow runs on it now; this one goes on, and its settings and the other's "
                                "are written over each other",
                                folder.c_str());
            } else {
                PocketLog::logf("The settings folder %s was removed while Lumenhollow was running, and its lock "
                                "cannot be made again (%s); another start on it is not kept from running",
                                folder.c_str(), std::strerror(errno));
            }
            // Nothing at the path is this program's to guard any more.
            watching = false;
            watch.reset();
            watched = -1;
            if (options.lockRemade) options.lockRemade(false);
            return;
        }
        // The old lock file guards nothing this program writes: let it go.
        lock = std::move(fresh);
        writePid();
        listener.reset();
        unlinkOwnSocket();
        std::vector<fs::path> named = placesFor(lock.get());
        {
            hollowkit::MutexLock locked(mutex);
            places = std::move(named);
        }
        bindSocket();
        watchFolder();
        PocketLog::logf("The settings folder %s was removed or moved while Lumenhollow was running; its lock was "
                        "made again there, so another start still comes to this one",
                        folder.c_str());
        if (options.lockRemade) options.lockRemade(true);
    }

    void answer(int connection) {
        if (!peerOfThisUser(connection)) return;
        if (options.waitingForRequest) options.waitingForRequest();
        // The stop ends this wait too: a client that says nothing never
        // holds up the program's end.
        if (readExactly(connection, kRequest, stop.get(), deadlineIn(options.requestLimit)) != Read::expected) return;
        std::function<void()> handler;
        {
            hollowkit::MutexLock locked(mutex);
            handler = comeForward;
            // Before serve(): the window does not exist yet; it comes
            // forward once it does.
            if (!handler) pending = true;
        }
        if (handler) handler();
        writeAll(connection, kAnswer);
    }

    void run() {
        hollowkit::enterLibraryThread("Lumenhollow.Instance");
        for (;;) {
            pollfd entries[3] = {{stop.get(), POLLIN, 0}, {listener.get(), POLLIN, 0}, {watch.get(), POLLIN, 0}};
            const int every =
                static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(options.lockCheck.count(), 0, INT_MAX));
            const int ready = ::poll(entries, 3, watching ? every : -1);
            if (ready < 0 && errno == EINTR) continue;
            if (entries[0].revents != 0) return;
            bool check = watching && ready == 0;
            if (entries[2].revents != 0 && drainWatch() && watching) {
                if (!settle()) return;
                check = true;
            }
            if (check && !lockAtPath()) retake();
            if (entries[1].revents != 0 && listener) {
                UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
                if (connection) answer(connection.get());
            }
        }
    }
};

UnixInstanceLock::UnixInstanceLock(fs::path folder, Options options) : state_(std::make_unique<State>()) {
    state_->folder = std::move(folder);
    if (options.runtimeFolders) {
        state_->runtimeFolders = *options.runtimeFolders;
    } else {
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) state_->runtimeFolders.emplace_back(runtime);
        const fs::path system = "/run/user/" + std::to_string(::geteuid());
        if (state_->runtimeFolders.empty() || state_->runtimeFolders.front() != system) {
            state_->runtimeFolders.push_back(system);
        }
    }
    state_->options = std::move(options);
}

UnixInstanceLock::~UnixInstanceLock() {
    stopServing();
}

std::optional<fs::path> UnixInstanceLock::socketPath() const {
    hollowkit::MutexLock locked(state_->mutex);
    if (state_->places.empty()) return std::nullopt;
    return state_->places.front();
}

bool UnixInstanceLock::tryTake() {
    State& s = *state_;
    if (s.held) return true;
    if (!s.open()) {
        return s.unguarded((s.folder / kLockName).string() + " cannot be opened (" + std::strerror(errno) + ")");
    }
    if (::flock(s.lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK || errno == EINTR) return false;
        return s.unguarded("its lock cannot be taken (" + std::string(std::strerror(errno)) + ")");
    }
    s.held = true;
    s.holder = ::getpid();
    s.writePid();
    s.listen();
    return true;
}

HolderReply UnixInstanceLock::askHolderToComeForward(hollowkit::Duration limit) {
    State& s = *state_;
    const Deadline deadline = deadlineIn(limit);
    if (!s.open()) return HolderReply::refused;
    s.holder = s.pidInLock();
    for (const fs::path& place : s.places) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        const SocketAddress address(place);
        if (!fd || !address.valid) continue;
        // On a Unix socket a connect is done or refused at once.
        if (::connect(fd.get(), address.get(), address.length) != 0) {
            // The holder's queue is full: it takes no requests.
            if (errno == EAGAIN) return HolderReply::silent;
            continue;  // nothing listens there
        }
        const std::optional<int> peer = peerOfThisUser(fd.get());
        if (!peer) continue;
        s.holder = peer;
        if (!writeAll(fd.get(), kRequest)) return HolderReply::refused;
        switch (readExactly(fd.get(), kAnswer, s.options.interruptFd, deadline)) {
        case Read::expected:
            return HolderReply::cameForward;
        case Read::other:
            return HolderReply::interrupted;
        case Read::timedOut:
            return HolderReply::silent;
        case Read::failed:
            return HolderReply::refused;  // it closed the request unanswered: it stops serving
        }
    }
    return HolderReply::refused;
}

std::optional<int> UnixInstanceLock::holderPid() const {
    return state_->holder;
}

bool UnixInstanceLock::processRunning(int pid) const {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool UnixInstanceLock::processStopped(int pid) const {
    if (!processRunning(pid)) return false;
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(file, line);
    // "pid (name) state ...": the name may hold spaces and parentheses.
    const size_t end = line.rfind(')');
    if (end == std::string::npos || end + 2 >= line.size()) return false;
    const char state = line[end + 2];
    return state == 'T' || state == 't';
}

bool UnixInstanceLock::pause() {
    const int interrupt = state_->options.interruptFd;
    const Deadline deadline = deadlineIn(state_->options.pause);
    for (;;) {
        pollfd entry{interrupt, POLLIN, 0};
        const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        return !(ready > 0 && entry.revents != 0);
    }
}

void UnixInstanceLock::serve(std::function<void()> comeForward) {
    State& s = *state_;
    if (!s.server.joinable()) return;
    bool came = false;
    {
        hollowkit::MutexLock locked(s.mutex);
        if (s.comeForward) return;
        s.comeForward = comeForward;
        came = std::exchange(s.pending, false);
    }
    if (came) comeForward();
}

void UnixInstanceLock::stopServing() {
    State& s = *state_;
    if (s.server.joinable()) {
        const uint64_t one = 1;
        while (::write(s.stop.get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
        s.server.join();
    }
    // Later starts are refused at once from here on, and wait for the lock.
    s.listener.reset();
    s.watch.reset();
    s.unlinkOwnSocket();
    hollowkit::MutexLock locked(s.mutex);
    s.comeForward = nullptr;
}

}  // namespace lumenhollow
