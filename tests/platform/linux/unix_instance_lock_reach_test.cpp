#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/platform/linux/unix_instance_lock.h"

// A later start reaches the running holder of its settings folder's lock
// wherever that one listens: from a session with another runtime folder or
// none, through a link, once its socket file was removed or replaced, or
// when something already sat at the socket's place; it names a process only
// once the lock says it is the holder, calls a holder ending only when it
// said so, and a relaunch waits only for the process holding the lock. The
// holders are child processes, as another start would meet them, or, where
// the test needs to time the holder's steps, locks of this process.

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using hollowkit::UniqueFd;
using hollowkit::testsupport::TempDir;

// Long enough for any holder that runs to be reached, or to listen again
// and be reached; only a failing test waits it out.
constexpr auto kReachLimit = 20s;
// A holder that cannot be reached or ends: how long a start gives it here.
constexpr auto kShortAnswer = 300ms;
constexpr uid_t kNobody = 65534;

UnixInstanceLock::Options inRuntimeFolders(std::vector<fs::path> folders) {
    UnixInstanceLock::Options options;
    options.runtimeFolders = std::move(folders);
    return options;
}

// A folder of this user's alone, as a runtime folder is.
fs::path ownFolder(const fs::path& where) {
    fs::create_directories(where);
    fs::permissions(where, fs::perms::owner_all, fs::perm_options::replace);
    return where;
}

// The name a holder's socket has in a runtime folder, after its lock file.
std::string socketNameOf(const fs::path& lockFile) {
    struct stat status {};
    if (::stat(lockFile.c_str(), &status) != 0) return {};
    char name[64];
    std::snprintf(name, sizeof name, "lumenhollow-%llx-%llx.socket", static_cast<unsigned long long>(status.st_dev),
                  static_cast<unsigned long long>(status.st_ino));
    return name;
}

// Whether `fd` becomes readable within the bound.
bool readableWithin(int fd, std::chrono::milliseconds bound) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(bound.count())) == 1;
}

// A child process, ended (SIGKILL) with the test; `body` runs in it and
// may tell the test a line through `tell`, after which the child waits to
// be ended.
class Child {
public:
    explicit Child(const std::function<std::string()>& body) {
        int told[2];
        if (::pipe2(told, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(told[0]);
            const std::string text = body() + "\n";
            [[maybe_unused]] const ssize_t written = ::write(told[1], text.data(), text.size());
            for (;;) ::pause();
        }
        ::close(told[1]);
        const UniqueFd reading(told[0]);
        char buffer[4096];
        while (readableWithin(reading.get(), kReachLimit)) {
            const ssize_t n = ::read(reading.get(), buffer, sizeof buffer);
            if (n <= 0) break;
            said_.append(buffer, static_cast<size_t>(n));
            if (said_.ends_with('\n')) break;
        }
        if (said_.ends_with('\n')) said_.pop_back();
    }
    ~Child() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& said() const { return said_; }

private:
    pid_t pid_ = -1;
    std::string said_;
};

// A program holding the lock in a child process with the runtime folders
// of its session; says where it listens ("" when it took no lock).
std::function<std::string()> holding(const fs::path& folder, std::vector<fs::path> runtime) {
    return [folder, runtime] {
        static std::optional<UnixInstanceLock> holder;
        holder.emplace(folder, inRuntimeFolders(runtime));
        if (!holder->tryTake()) return std::string();
        holder->serve([] {});
        return holder->socketPath().value_or(fs::path()).string();
    };
}

// A process that holds the lock's flock itself, writes `written` into the
// lock file and listens nowhere (or, run as another user, answers "ok" to
// anything on a socket beside the lock).
std::function<std::string()> holdingByHand(const fs::path& folder, std::string written, bool asNobody) {
    return [folder, written, asNobody] {
        if (asNobody && (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)) {
            return std::string("no setuid");
        }
        const int lock = ::open((folder / "instance.lock").c_str(), O_RDWR | O_CREAT, 0666);
        if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(lock, 0) != 0 ||
            ::write(lock, written.data(), written.size()) != static_cast<ssize_t>(written.size())) {
            return std::string("no lock");
        }
        if (!asNobody) return std::string("holding");
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (folder / "instance.socket").c_str());
        if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 4) != 0) {
            return std::string("no socket");
        }
        std::thread([listener] {
            for (;;) {
                const int connection = ::accept(listener, nullptr, nullptr);
                if (connection < 0) continue;
                [[maybe_unused]] const ssize_t sent = ::send(connection, "ok\n", 3, MSG_NOSIGNAL);
                ::close(connection);
            }
        }).detach();
        return std::string("holding");
    };
}

TEST(UnixInstanceLockReachTest, AStartReachesARunningHolderWhereverItListens) {
    enum class Before { nothing, folderAtSocket, fileAtSocket, fileBesideLock };
    enum class After { nothing, socketRemoved, socketReplacedByFolder };
    struct Case {
        const char* name;
        // The runtime folders of the holder's session and the start's:
        // 'h' the holder's $XDG_RUNTIME_DIR, 'o' another one, 's' the
        // system's; a session without the variable has only 's'.
        std::string holderSession;
        std::string startSession;
        bool throughLink;
        Before before;
        After after;
    };
    const Case cases[] = {
        {"the holder with the variable, the start without", "hs", "s", false, Before::nothing, After::nothing},
        {"two different runtime folders", "hs", "os", false, Before::nothing, After::nothing},
        {"through a link, the start without the variable", "hs", "s", true, Before::nothing, After::nothing},
        {"the holder without the variable, the start with it", "s", "hs", false, Before::nothing, After::nothing},
        {"its socket removed while it runs", "hs", "hs", false, Before::nothing, After::socketRemoved},
        {"its socket beside the lock removed", "", "", false, Before::nothing, After::socketRemoved},
        {"its socket replaced by a folder", "h", "h", false, Before::nothing, After::socketReplacedByFolder},
        {"a folder at the socket's place", "hs", "hs", false, Before::folderAtSocket, After::nothing},
        {"a file at the socket's place", "h", "s", false, Before::fileAtSocket, After::nothing},
        {"a file at the socket's place beside the lock", "", "", false, Before::fileBesideLock, After::nothing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path folder = dir.path() / "config" / "lumenhollow";
        const fs::path link = dir.path() / "link";
        fs::create_directories(folder);
        fs::create_directory_symlink(folder, link);
        const auto session = [&dir](const std::string& letters) {
            std::vector<fs::path> folders;
            for (const char letter : letters) folders.push_back(ownFolder(dir.path() / std::string(1, letter)));
            return folders;
        };
        const std::vector<fs::path> holderSession = session(c.holderSession);
        // The socket's usual place, taken before the holder starts.
        std::ofstream(folder / "instance.lock").flush();
        const fs::path usual = (holderSession.empty() ? folder / "instance.socket"
                                                      : holderSession.front() / socketNameOf(folder / "instance.lock"));
        if (c.before == Before::folderAtSocket) fs::create_directory(usual);
        if (c.before == Before::fileAtSocket || c.before == Before::fileBesideLock) std::ofstream(usual) << "kept";

        Child holder(holding(folder, holderSession));
        const fs::path listening = holder.said();
        ASSERT_FALSE(listening.empty()) << "the holder took no lock";
        switch (c.after) {
        case After::nothing:
            break;
        case After::socketRemoved:
            fs::remove(listening);
            break;
        case After::socketReplacedByFolder:
            fs::remove(listening);
            fs::create_directory(listening);
            break;
        }

        UnixInstanceLock start(c.throughLink ? link : folder, inRuntimeFolders(session(c.startSession)));
        EXPECT_EQ(claimInstance(start, hollowkit::Clock::system(), std::nullopt, InstanceWaits{kReachLimit, 0s}),
                  InstanceClaim::handedOver);
        EXPECT_EQ(start.holderPid(), std::optional<int>(holder.pid()));
        if (c.before != Before::nothing) {
            EXPECT_TRUE(fs::exists(usual)) << "what sat at the socket's place stays";
        }
    }
}

// The process a start names is the one the lock says holds it, whatever the
// lock file says; one that cannot be reached is told as not answering, and
// only one that said it ends as ending.
TEST(UnixInstanceLockReachTest, AStartNamesOnlyTheLocksHolderAndCallsEndingOnlyAHolderThatSaidSo) {
    enum class Holder { listensNowhere, anotherUsersAnsweringAll, stoppedServing };
    struct Case {
        const char* name;
        Holder holder;
        InstanceClaim expected;
    };
    const Case cases[] = {
        {"a holder that listens nowhere, '1' in its lock file", Holder::listensNowhere, InstanceClaim::silent},
        {"another user's process, '1' in its lock file, answering anyone", Holder::anotherUsersAnsweringAll,
         InstanceClaim::silent},
        {"a holder that stopped serving", Holder::stoppedServing, InstanceClaim::ending},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.holder == Holder::anotherUsersAnsweringAll && ::geteuid() != 0) continue;  // only root can setuid
        TempDir dir;
        const fs::path folder = dir.path() / "lumenhollow";
        fs::create_directories(folder);
        std::optional<Child> child;
        std::optional<UnixInstanceLock> ending;
        int holderPid = ::getpid();
        if (c.holder == Holder::stoppedServing) {
            ending.emplace(folder, inRuntimeFolders({}));
            ASSERT_TRUE(ending->tryTake());
            ending->serve([] {});
            ending->stopServing();
        } else {
            const bool nobody = c.holder == Holder::anotherUsersAnsweringAll;
            if (nobody) {
                fs::permissions(dir.path(), fs::perms(0755));
                fs::permissions(folder, fs::perms::all);
                std::ofstream(folder / "instance.lock").flush();
                fs::permissions(folder / "instance.lock", fs::perms(0666));
            }
            child.emplace(holdingByHand(folder, "1\n", nobody));
            ASSERT_EQ(child->said(), "holding");
            holderPid = child->pid();
        }
        UnixInstanceLock start(folder, inRuntimeFolders({}));
        EXPECT_EQ(claimInstance(start, hollowkit::Clock::system(), std::nullopt, InstanceWaits{kShortAnswer, 0s}),
                  c.expected);
        EXPECT_EQ(start.holderPid(), std::optional<int>(holderPid));
    }
}

// A relaunched start waits for the program that relaunched it only while
// that one holds the lock; another holder is asked at once.
TEST(UnixInstanceLockReachTest, ARelaunchWaitsOnlyForTheProcessHoldingTheLock) {
    TempDir dir;
    const fs::path folder = dir.path() / "lumenhollow";
    Child holder(holding(folder, {}));
    ASSERT_FALSE(holder.said().empty());
    UnixInstanceLock start(folder, inRuntimeFolders({}));
    EXPECT_FALSE(start.tryTake());
    EXPECT_TRUE(start.heldBy(holder.pid()));
    EXPECT_FALSE(start.heldBy(::getpid())) << "a process that runs, but does not hold the lock";

    EXPECT_EQ(claimInstance(start, hollowkit::Clock::system(), ::getpid(), InstanceWaits{kReachLimit, kReachLimit}),
              InstanceClaim::handedOver);
    // The holder itself relaunched this start: never asked, it is ending.
    EXPECT_EQ(claimInstance(start, hollowkit::Clock::system(), holder.pid(), InstanceWaits{kReachLimit, kShortAnswer}),
              InstanceClaim::ending);
}

// The settings folder's parent moved just after a start opened the lock
// file: the holder makes its lock again at the path and lets the moved one
// go, which the start must not take then.
TEST(UnixInstanceLockReachTest, AStartNeverTakesALockFileMovedAwayFromItsPath) {
    TempDir dir;
    const fs::path folder = dir.path() / "config" / "lumenhollow";
    std::promise<bool> remade;
    UnixInstanceLock::Options options = inRuntimeFolders({});
    // Moving a parent is seen only by the look on an interval.
    options.lockCheck = 10ms;
    options.lockRemade = [&remade](bool held) { remade.set_value(held); };
    UnixInstanceLock holder(folder, options);
    ASSERT_TRUE(holder.tryTake());
    std::atomic<int> broughtForward{0};
    holder.serve([&broughtForward] { ++broughtForward; });
    UnixInstanceLock start(folder, inRuntimeFolders({}));
    EXPECT_FALSE(start.tryTake());

    fs::rename(dir.path() / "config", dir.path() / "moved");
    auto held = remade.get_future();
    ASSERT_EQ(held.wait_for(kReachLimit), std::future_status::ready) << "the holder did not notice";
    ASSERT_TRUE(held.get());
    EXPECT_FALSE(start.tryTake()) << "two programs on one settings folder";
    EXPECT_EQ(start.askHolderToComeForward(kReachLimit), HolderReply::cameForward);
    EXPECT_EQ(broughtForward.load(), 1);
}

// A client of another user that reaches the holder's socket (its folder
// and mode opened up here, as a careless setup would) is never answered,
// and nothing comes forward for it.
TEST(UnixInstanceLockReachTest, TheHolderNeverAnswersAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can connect as another user";
    TempDir dir;
    const fs::path folder = dir.path() / "lumenhollow";
    UnixInstanceLock holder(folder, inRuntimeFolders({}));
    ASSERT_TRUE(holder.tryTake());
    std::atomic<int> broughtForward{0};
    holder.serve([&broughtForward] { ++broughtForward; });
    const fs::path socket = *holder.socketPath();
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(folder, fs::perms::all);
    fs::permissions(socket, fs::perms(0666));

    Child client([&socket] {
        if (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0) {
            return std::string("no setuid");
        }
        const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return std::string("not connected");
        }
        // A holder that closes at once may close before the request is sent.
        [[maybe_unused]] const ssize_t sent = ::send(fd.get(), "forward\n", 8, MSG_NOSIGNAL);
        if (!readableWithin(fd.get(), kReachLimit)) return std::string("no answer in time");
        char answer[8] = {};
        return ::read(fd.get(), answer, sizeof answer - 1) > 0 ? std::string("answered ") + answer
                                                                 : std::string("closed unanswered");
    });
    EXPECT_EQ(client.said(), "closed unanswered");
    EXPECT_EQ(broughtForward.load(), 0);
}

}  // namespace
}  // namespace lumenhollow
