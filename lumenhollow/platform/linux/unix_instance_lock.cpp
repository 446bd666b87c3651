#include "lumenhollow/platform/linux/unix_instance_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/base/unique_fd.h"

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using hollowkit::PocketLog;
using hollowkit::UniqueFd;

constexpr std::string_view kRequest = "forward\n";
constexpr std::string_view kAnswer = "ok\n";
// How long the holder waits for a request's bytes once connected: a client
// that connects and says nothing must not keep later ones waiting.
constexpr int kRequestLimitMs = 2000;

// FNV-1a, 64 bits: the folder in a name of fixed length.
uint64_t fnv1a(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

sockaddr_un abstractAddress(const std::string& name, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A leading NUL puts the name in the abstract namespace.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

// Whether the process at the other end of `fd` runs as this user.
bool peerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == ::geteuid();
}

// Waits up to `limitMs` for `fd` to be readable; false on time-out or error.
bool readable(int fd, int limitMs) {
    pollfd entry{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, limitMs);
        if (ready < 0 && errno == EINTR) continue;
        return ready == 1;
    }
}

// Reads `expected` from `fd` within `limitMs`; false on anything else.
bool readExactly(int fd, std::string_view expected, int limitMs) {
    std::string got;
    while (got.size() < expected.size()) {
        if (!readable(fd, limitMs)) return false;
        char buffer[16];
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, expected.size() - got.size()));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got == expected;
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

}  // namespace

struct UnixInstanceLock::State {
    fs::path folder;
    Options options;
    std::string name;
    UniqueFd lock;
    bool held = false;
    UniqueFd listener;
    UniqueFd stop;
    std::thread server;

    // Runs the program without a lock: said once.
    bool unguarded(const std::string& why) {
        PocketLog::logf("Only one Lumenhollow should run on %s, but %s; it is not checked", folder.c_str(),
                        why.c_str());
        held = true;
        return true;
    }

    void listen() {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        socklen_t length = 0;
        const sockaddr_un address = abstractAddress(name, length);
        if (!fd || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
            ::listen(fd.get(), 8) != 0) {
            PocketLog::logf("Another start of Lumenhollow on %s cannot reach this one (%s); it waits for this one "
                            "to end",
                            folder.c_str(), std::strerror(errno));
            return;
        }
        listener = std::move(fd);
    }

    void answer(int connection, const std::function<void()>& comeForward) const {
        if (!peerIsThisUser(connection) || !readExactly(connection, kRequest, kRequestLimitMs)) return;
        comeForward();
        writeAll(connection, kAnswer);
    }

    void run(const std::function<void()>& comeForward) const {
        hollowkit::enterLibraryThread("Lumenhollow.Instance");
        for (;;) {
            pollfd entries[2] = {{stop.get(), POLLIN, 0}, {listener.get(), POLLIN, 0}};
            if (::poll(entries, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (entries[0].revents != 0) return;
            UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (connection) answer(connection.get(), comeForward);
        }
    }
};

UnixInstanceLock::UnixInstanceLock(fs::path folder, Options options) : state_(std::make_unique<State>()) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(folder, error);
    state_->name = "lumenhollow/" + std::to_string(::geteuid()) + "/";
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(fnv1a((error ? folder : canonical).string())));
    state_->name += hash;
    state_->folder = std::move(folder);
    state_->options = options;
}

UnixInstanceLock::~UnixInstanceLock() {
    stopServing();
}

const std::string& UnixInstanceLock::socketName() const {
    return state_->name;
}

bool UnixInstanceLock::tryTake() {
    State& s = *state_;
    if (s.held) return true;
    if (!s.lock) {
        std::error_code ignored;
        fs::create_directories(s.folder, ignored);
        const fs::path file = s.folder / "instance.lock";
        s.lock.reset(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        // A read-only folder may still hold the file from an earlier start.
        if (!s.lock) s.lock.reset(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!s.lock) return s.unguarded(file.string() + " cannot be opened (" + std::strerror(errno) + ")");
    }
    if (::flock(s.lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK || errno == EINTR) return false;
        return s.unguarded("its lock cannot be taken (" + std::string(std::strerror(errno)) + ")");
    }
    s.held = true;
    s.listen();
    return true;
}

bool UnixInstanceLock::askHolderToComeForward() {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    socklen_t length = 0;
    const sockaddr_un address = abstractAddress(state_->name, length);
    // On a Unix socket a connect is done or refused at once (EAGAIN: the
    // holder's queue is full).
    if (!fd || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) return false;
    if (!peerIsThisUser(fd.get()) || !writeAll(fd.get(), kRequest)) return false;
    return readExactly(fd.get(), kAnswer, static_cast<int>(state_->options.answerLimit.count()));
}

bool UnixInstanceLock::processRunning(int pid) const {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

void UnixInstanceLock::pause() {
    std::this_thread::sleep_for(state_->options.pause);
}

void UnixInstanceLock::serve(std::function<void()> comeForward) {
    State& s = *state_;
    if (!s.listener || s.server.joinable()) return;
    s.stop.reset(::eventfd(0, EFD_CLOEXEC));
    if (!s.stop) {
        PocketLog::logf("Another start of Lumenhollow cannot reach this one (%s)", std::strerror(errno));
        s.listener.reset();
        return;
    }
    s.server = std::thread([&s, comeForward = std::move(comeForward)] { s.run(comeForward); });
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
}

}  // namespace lumenhollow
