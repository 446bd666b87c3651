#include "lumenhollow/platform/linux/unix_instance_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
#include "lumenhollow/platform/linux/instance_lock_record.h"
#include "lumenhollow/platform/linux/instance_socket_io.h"

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using hollowkit::PocketLog;
using hollowkit::UniqueFd;
using instance_io::Connect;
using instance_io::Deadline;
using instance_io::deadlineIn;
using instance_io::Read;
using instance_io::Wait;

constexpr std::string_view kRequest = "forward\n";
constexpr std::string_view kAnswer = "ok\n";
constexpr const char* kLockName = "instance.lock";
// The socket's name beside the lock; in the runtime folder it carries the
// lock file's device and inode instead.
constexpr const char* kSocketBesideLock = "instance.socket";
constexpr const char* kSocketSuffix = ".socket";
constexpr int kBacklog = 16;
// How long the settings folder must be quiet before the holder makes its
// lock file again: a removal of the folder (rm -r) is done by then, and the
// new file never keeps it from removing the folder.
constexpr auto kSettle = std::chrono::milliseconds(50);
// A lock file replaced between its opening and its lock, again and again:
// the start leaves it to the next round.
constexpr int kTakeAttempts = 3;

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A folder only this user can make names in.
bool usersOwnFolder(const fs::path& folder) {
    struct stat status {};
    return !folder.empty() && folder.is_absolute() && ::stat(folder.c_str(), &status) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

// `place` with this process's id in its name: where a holder listens when
// something it must not remove sits at the usual name.
fs::path placeOfThisProcess(const fs::path& place) {
    std::string name = place.filename().string();
    if (name.ends_with(kSocketSuffix)) name.resize(name.size() - std::strlen(kSocketSuffix));
    return place.parent_path() / (name + "-" + std::to_string(::getpid()) + kSocketSuffix);
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
    // The flock is this process's (not a folder run unguarded).
    bool owns = false;
    // Where a holder listens, in the order a start looks besides the place
    // the lock file names (the holder tries them in this order).
    std::vector<fs::path> places HK_GUARDED_BY(mutex);
    // Where this holder listens; empty: nowhere.
    fs::path bound HK_GUARDED_BY(mutex);
    // The socket file this holder made, to remove only that one.
    struct stat boundFile {};
    // A holder that listens nowhere says so once, not at every look.
    bool unreachableSaid = false;
    UniqueFd listener;
    UniqueFd stop;
    // The inotify watches of the settings folder and of the socket's
    // folder, while the holder serves and keeps its lock file at its path.
    UniqueFd watch;
    int watchedFolder = -1;
    int watchedSocketFolder = -1;
    bool watching = false;
    Deadline nextCheck{};
    std::thread server;
    // The holder's process as last learnt from its socket, where the lock
    // cannot tell.
    std::optional<int> peer;

    mutable hollowkit::Mutex mutex;
    std::function<void()> comeForward HK_GUARDED_BY(mutex);
    bool pending HK_GUARDED_BY(mutex) = false;

    // Runs the program without a lock: said once.
    bool unguarded(const std::string& why) {
        PocketLog::logf("Only one Lumenhollow should run on %s, but %s; it is not checked", folder.c_str(),
                        why.c_str());
        held = true;
        return true;
    }

    fs::path listening() const {
        hollowkit::MutexLock locked(mutex);
        return bound;
    }
    std::vector<fs::path> placesNow() const {
        hollowkit::MutexLock locked(mutex);
        return places;
    }

    // The lock file's open, the one at its path now (one moved or removed
    // since it was opened guards nothing there); names the socket's places
    // after it.
    bool open() {
        if (lock && (held || lockAtPath())) return true;
        lock.reset();
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
            std::snprintf(name, sizeof name, "lumenhollow-%llx-%llx%s", static_cast<unsigned long long>(status.st_dev),
                          static_cast<unsigned long long>(status.st_ino), kSocketSuffix);
            for (const fs::path& runtime : runtimeFolders) {
                if (usersOwnFolder(runtime) && std::find(named.begin(), named.end(), runtime / name) == named.end()) {
                    named.push_back(runtime / name);
                }
            }
        }
        named.push_back(folder / kSocketBesideLock);
        return named;
    }

    // Whoever holds the lock names itself in it, and where it listens.
    void writeRecord(bool ending) {
        if (!owns) return;
        LockRecord record;
        record.pid = ::getpid();
        if (!ending) record.socket = listening();
        record.ending = ending;
        writeLockRecord(lock.get(), record);
    }

    bool bindAt(const fs::path& path) {
        if (!instance_io::freeForSocket(path)) {
            errno = EEXIST;
            return false;
        }
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        const instance_io::SocketAddress address(path);
        // The socket file takes the socket's mode: nobody else may connect.
        if (!fd || !address.valid || ::fchmod(fd.get(), 0600) != 0 ||
            ::bind(fd.get(), address.get(), address.length) != 0 || ::listen(fd.get(), kBacklog) != 0) {
            return false;
        }
        boundFile = {};
        ::lstat(path.c_str(), &boundFile);
        listener = std::move(fd);
        hollowkit::MutexLock locked(mutex);
        bound = path;
        return true;
    }

    // Listens at the first of its places it can, else at one named after
    // this process, and names it in the lock file for every later start,
    // whatever runtime folder it knows; false (said in the log once) when
    // it can listen nowhere.
    bool bindSocket() {
        const std::vector<fs::path> usual = placesNow();
        std::vector<fs::path> candidates = usual;
        for (const fs::path& place : usual) candidates.push_back(placeOfThisProcess(place));
        int error = 0;
        fs::path tried;
        for (const fs::path& path : candidates) {
            if (bindAt(path)) break;
            if (tried.empty()) {
                error = errno;
                tried = path;
            }
        }
        const fs::path at = listening();
        writeRecord(false);
        if (at.empty() && !unreachableSaid) {
            PocketLog::logf("Another start of Lumenhollow on %s cannot reach this one (%s: %s); it waits for this "
                            "one to end",
                            folder.c_str(), tried.c_str(), std::strerror(error));
        } else if (!at.empty() && at != usual.front()) {
            PocketLog::logf("Lumenhollow listens at %s, as %s cannot be used (%s)", at.c_str(), tried.c_str(),
                            std::strerror(error));
        }
        unreachableSaid = at.empty();
        return !at.empty();
    }

    // Removes the socket file this holder made, and never one another
    // program made at that path since (its settings folder replaced).
    void unlinkOwnSocket() {
        listener.reset();
        const fs::path path = listening();
        if (path.empty()) return;
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) && sameFile(status, boundFile)) {
            ::unlink(path.c_str());
        }
        hollowkit::MutexLock locked(mutex);
        bound.clear();
    }

    void listen() {
        bindSocket();
        stop.reset(::eventfd(0, EFD_CLOEXEC));
        if (!stop) {
            PocketLog::logf("Another start of Lumenhollow cannot reach this one (%s)", std::strerror(errno));
            unlinkOwnSocket();
            writeRecord(false);
            return;
        }
        watching = true;
        watchFolders();
        nextCheck = deadlineIn(options.lockCheck);
        server = std::thread([this] { run(); });
    }

    // Watches the settings folder at its path for its lock file leaving,
    // and the socket's folder for the socket leaving; without inotify the
    // look every `lockCheck` still finds either.
    void watchFolders() {
        if (!watch) watch.reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!watch) return;
        for (const int watched : {watchedFolder, watchedSocketFolder}) {
            if (watched >= 0) ::inotify_rm_watch(watch.get(), watched);
        }
        constexpr uint32_t kEvents =
            IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        watchedFolder = ::inotify_add_watch(watch.get(), folder.c_str(), kEvents);
        const fs::path at = listening();
        watchedSocketFolder = at.empty() ? -1 : ::inotify_add_watch(watch.get(), at.parent_path().c_str(), kEvents);
    }

    // Reads the watch's events; true when one may concern the lock file or
    // the socket (a watched folder itself, their names, or events lost).
    bool drainWatch() {
        const std::string socketName = listening().filename().string();
        bool concerns = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(watch.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return concerns;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) != 0 ||
                    (event->len > 0 && (std::strcmp(event->name, kLockName) == 0 || event->name == socketName))) {
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
            switch (instance_io::waitReadable(watch.get(), stop.get(), deadlineIn(kSettle))) {
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

    // Whether this holder's socket is still at its path (a holder that
    // listens nowhere tries again).
    bool socketAtPath() const {
        const fs::path at = listening();
        struct stat status {};
        return !at.empty() && ::lstat(at.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) &&
               sameFile(status, boundFile);
    }

    // The socket went from its path (removed, replaced, its folder gone):
    // later starts would find nothing; listen again, where it can.
    void relisten() {
        const bool was = !listening().empty();
        unlinkOwnSocket();
        const bool now = bindSocket();
        watchFolders();
        if (now || was) {
            PocketLog::logf("The socket on which Lumenhollow on %s listens went; %s", folder.c_str(),
                            now ? "it listens again" : "it cannot listen again for now");
        }
        if (options.relistened) options.relistened(now);
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
            watchedFolder = -1;
            watchedSocketFolder = -1;
            if (options.lockRemade) options.lockRemade(false);
            return;
        }
        // The old lock file guards nothing this program writes: let it go.
        lock = std::move(fresh);
        unlinkOwnSocket();
        std::vector<fs::path> named = placesFor(lock.get());
        {
            hollowkit::MutexLock locked(mutex);
            places = std::move(named);
        }
        bindSocket();
        watchFolders();
        PocketLog::logf("The settings folder %s was removed or moved while Lumenhollow was running; its lock was "
                        "made again there, so another start still comes to this one",
                        folder.c_str());
        if (options.lockRemade) options.lockRemade(true);
    }

    void answer(int connection) {
        if (!instance_io::peerOfThisUser(connection)) return;
        if (options.waitingForRequest) options.waitingForRequest();
        // The stop ends this wait too: a client that says nothing never
        // holds up the program's end.
        const Read request =
            instance_io::readExactly(connection, kRequest, stop.get(), deadlineIn(options.requestLimit));
        if (request != Read::expected) return;
        std::function<void()> handler;
        {
            hollowkit::MutexLock locked(mutex);
            handler = comeForward;
            // Before serve(): the window does not exist yet; it comes
            // forward once it does.
            if (!handler) pending = true;
        }
        if (handler) handler();
        instance_io::writeAll(connection, kAnswer);
    }

    void run() {
        hollowkit::enterLibraryThread("Lumenhollow.Instance");
        for (;;) {
            pollfd entries[3] = {{stop.get(), POLLIN, 0}, {listener.get(), POLLIN, 0}, {watch.get(), POLLIN, 0}};
            const int ready = ::poll(entries, 3, watching ? instance_io::millisecondsUntil(nextCheck) : -1);
            if (ready < 0 && errno == EINTR) continue;
            if (entries[0].revents != 0) return;
            // Due however busy the folders' events keep the poll.
            bool check = watching && std::chrono::steady_clock::now() >= nextCheck;
            if (entries[2].revents != 0 && drainWatch() && watching) {
                if (!settle()) return;
                check = true;
            }
            if (check) {
                nextCheck = deadlineIn(options.lockCheck);
                if (!lockAtPath()) {
                    retake();
                } else if (!socketAtPath()) {
                    relisten();
                }
            }
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
    const State& s = *state_;
    if (fs::path at = s.listening(); !at.empty()) return at;
    const std::vector<fs::path> places = s.placesNow();
    if (places.empty()) return std::nullopt;
    return places.front();
}

bool UnixInstanceLock::tryTake() {
    State& s = *state_;
    if (s.held) return true;
    for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
        if (!s.open()) {
            return s.unguarded((s.folder / kLockName).string() + " cannot be opened (" + std::strerror(errno) + ")");
        }
        if (::flock(s.lock.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK || errno == EINTR) return false;
            return s.unguarded("its lock cannot be taken (" + std::string(std::strerror(errno)) + ")");
        }
        // The file was moved or removed from its path since it was opened
        // (its holder let it go for a new one there): it guards nothing.
        if (s.lockAtPath()) {
            s.held = true;
            s.owns = true;
            s.listen();
            return true;
        }
        s.lock.reset();
    }
    return false;
}

HolderReply UnixInstanceLock::askHolderToComeForward(hollowkit::Duration limit) {
    State& s = *state_;
    const Deadline deadline = deadlineIn(limit);
    if (!s.open()) return HolderReply::refused;
    const LockRecord record = readLockRecord(s.lock.get());
    const std::optional<int> holder = lockHolder(s.lock.get());
    s.peer.reset();
    // Where the holder says it listens, whatever runtime folder it knows,
    // then where any holder of this lock would.
    std::vector<fs::path> looks;
    if (record.socket.filename().string().ends_with(kSocketSuffix)) looks.push_back(record.socket);
    for (const fs::path& place : s.placesNow()) {
        if (std::find(looks.begin(), looks.end(), place) == looks.end()) looks.push_back(place);
    }
    for (const fs::path& place : looks) {
        UniqueFd fd;
        switch (instance_io::connectTo(place, fd)) {
        case Connect::nobody:
            continue;
        case Connect::queueFull:
            return HolderReply::silent;
        case Connect::connected:
            break;
        }
        // Only this user's holder of this lock hears the request.
        const std::optional<int> peer = instance_io::peerOfThisUser(fd.get());
        if (!peer || (holder && *peer != *holder)) continue;
        s.peer = peer;
        if (!instance_io::writeAll(fd.get(), kRequest)) return HolderReply::refused;
        switch (instance_io::readExactly(fd.get(), kAnswer, s.options.interruptFd, deadline)) {
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
    // Ending only when the lock's holder said so.
    if (record.ending && (!holder || record.pid == holder)) return HolderReply::refused;
    return HolderReply::unreachable;
}

std::optional<int> UnixInstanceLock::holderPid() const {
    const State& s = *state_;
    if (s.owns) return ::getpid();
    if (const std::optional<int> holder = lockHolder(s.lock.get())) return holder;
    return s.peer;
}

bool UnixInstanceLock::heldBy(int pid) const {
    const State& s = *state_;
    if (s.owns) return pid == ::getpid();
    return pid > 0 && lockHolder(s.lock.get()) == pid;
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
    // Nothing to read but the interrupt: the pause's end or the signal.
    return instance_io::waitReadable(-1, state_->options.interruptFd, deadlineIn(state_->options.pause)) !=
           Wait::other;
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
    // Later starts are refused at once from here on, told that this one
    // ends, and wait for the lock.
    s.watch.reset();
    s.unlinkOwnSocket();
    s.writeRecord(true);
    hollowkit::MutexLock locked(s.mutex);
    s.comeForward = nullptr;
}

}  // namespace lumenhollow
