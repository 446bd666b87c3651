#include "lumenhollow/platform/linux/unix_instance_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/file_test_support.h"

// The settings folder's lock between programs, played by two locks of one
// process (flock locks belong to an opened file, not to a process), and by
// a holder in a child process that the test stops: one holder per folder,
// answering later starts from the moment it holds the lock, refused at once
// once it stops serving; a holder that does not run is told apart from one
// that ends; the socket where only its user can make it, named after the
// lock file; a folder where no lock can be had runs unguarded; and a
// program the holder starts never holds the lock for it.

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using hollowkit::UniqueFd;
using hollowkit::testsupport::LogCapture;
using hollowkit::testsupport::TempDir;

// Long enough for any answer of a holder that runs; only a failing test
// waits it out.
constexpr auto kAnswerLimit = 30s;
// A request to a holder that does not run: the answer it cannot give.
constexpr auto kUnanswered = 200ms;
// How long a test waits for what must happen at once, before it says it did not.
constexpr auto kAtOnceBound = 20s;

std::set<std::string> instanceNamesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

UnixInstanceLock::Options withRuntime(const fs::path& runtime) {
    UnixInstanceLock::Options options;
    options.runtimeFolders = std::vector<fs::path>{runtime};
    return options;
}

// A runtime folder of this user's alone.
fs::path makeRuntimeFolder(const fs::path& where) {
    fs::create_directories(where);
    fs::permissions(where, fs::perms::owner_all, fs::perm_options::replace);
    return where;
}

// A client that connects to `path` and says nothing.
UniqueFd connectSilently(const fs::path& path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return UniqueFd();
    return fd;
}

TEST(UnixInstanceLockTest, OneHolderPerFolderAnswersFromTheMomentItHoldsTheLockUntilItStops) {
    TempDir dir;
    const fs::path folder = dir.path() / "config" / "lumenhollow";
    auto first = std::make_unique<UnixInstanceLock>(folder, withRuntime(""));
    UnixInstanceLock second(folder, withRuntime(""));
    UnixInstanceLock elsewhere(dir.path() / "other", withRuntime(""));

    ASSERT_TRUE(first->tryTake());
    EXPECT_TRUE(first->tryTake()) << "held already";
    EXPECT_EQ(instanceNamesIn(folder), (std::set<std::string>{"instance.lock", "instance.socket"}));
    EXPECT_FALSE(second.tryTake());
    EXPECT_TRUE(elsewhere.tryTake()) << "another folder has a lock of its own";
    EXPECT_NE(first->socketPath(), elsewhere.socketPath());

    // Still starting: its window does not exist yet, but it answers, and
    // the window comes forward once it is served.
    std::atomic<int> broughtForward{0};
    EXPECT_EQ(second.askHolderToComeForward(kAnswerLimit), HolderReply::cameForward);
    EXPECT_EQ(second.holderPid(), std::optional<int>(::getpid()));
    EXPECT_EQ(broughtForward.load(), 0);
    first->serve([&broughtForward] { ++broughtForward; });
    EXPECT_EQ(broughtForward.load(), 1) << "the request that came before";
    EXPECT_EQ(second.askHolderToComeForward(kAnswerLimit), HolderReply::cameForward);
    EXPECT_EQ(broughtForward.load(), 2);
    EXPECT_FALSE(second.tryTake());

    // Ending: later starts are refused at once, never left to wait for an
    // answer, and wait for the lock.
    first->stopServing();
    EXPECT_EQ(second.askHolderToComeForward(kUnanswered), HolderReply::refused);
    EXPECT_EQ(broughtForward.load(), 2);
    EXPECT_EQ(instanceNamesIn(folder), std::set<std::string>{"instance.lock"});
    EXPECT_FALSE(second.tryTake());
    first.reset();
    EXPECT_TRUE(second.tryTake());
}

// The socket goes where only this user can make names: a runtime folder
// that is the user's own, else beside the lock; named there after the lock
// file's device and inode, and open to this user alone.
TEST(UnixInstanceLockTest, TheSocketLivesWhereOnlyItsUserCanMakeIt) {
    struct Case {
        const char* name;
        // What the runtime folder is; nothing: none.
        std::optional<fs::perms> mode;
        bool ownedByAnother;
        bool inRuntime;
    };
    const Case cases[] = {
        {"the user's own runtime folder", fs::perms::owner_all, false, true},
        {"a runtime folder others may enter", fs::perms(0755), false, false},
        {"a runtime folder of another user", fs::perms::owner_all, true, false},
        {"no runtime folder", std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.ownedByAnother && ::geteuid() != 0) continue;  // only root can give a folder away
        TempDir dir;
        const fs::path folder = dir.path() / "lumenhollow";
        fs::path runtime;
        if (c.mode) {
            runtime = dir.path() / "run";
            fs::create_directories(runtime);
            fs::permissions(runtime, *c.mode, fs::perm_options::replace);
            if (c.ownedByAnother) {
                ASSERT_EQ(::chown(runtime.c_str(), 65534, 65534), 0);
            }
        }
        UnixInstanceLock holder(folder, withRuntime(runtime));
        ASSERT_TRUE(holder.tryTake());
        const std::optional<fs::path> socket = holder.socketPath();
        ASSERT_TRUE(socket);
        struct stat lock {};
        ASSERT_EQ(::stat((folder / "instance.lock").c_str(), &lock), 0);
        char named[64];
        std::snprintf(named, sizeof named, "lumenhollow-%llx-%llx.socket", static_cast<unsigned long long>(lock.st_dev),
                      static_cast<unsigned long long>(lock.st_ino));
        EXPECT_EQ(*socket, c.inRuntime ? runtime / named : folder / "instance.socket");
        struct stat status {};
        ASSERT_EQ(::lstat(socket->c_str(), &status), 0);
        EXPECT_TRUE(S_ISSOCK(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        EXPECT_EQ(status.st_uid, ::geteuid());
        UnixInstanceLock later(folder, withRuntime(runtime));
        EXPECT_FALSE(later.tryTake());
        EXPECT_EQ(later.askHolderToComeForward(kAnswerLimit), HolderReply::cameForward);
    }
}

// Two paths to one settings folder (a link, as a bind mount would be) are
// one lock and reach one holder, wherever its socket lives, also from a
// session without the runtime folder's variable; and a folder
// deep enough that its socket's path does not fit an address still works.
TEST(UnixInstanceLockTest, TwoPathsToOneFolderMeetAndDeepFoldersAreReached) {
    struct Case {
        const char* name;
        bool runtime;
        bool deep;
    };
    for (const Case& c : {Case{"in the runtime folder", true, false}, Case{"beside the lock", false, false},
                          Case{"beside the lock, deep", false, true}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::path real = dir.path() / "real";
        if (c.deep) real /= std::string(60, 'd') + "/" + std::string(60, 'e');
        fs::create_directories(real);
        const fs::path link = dir.path() / "link";
        fs::create_directory_symlink(real, link);
        const fs::path runtime = c.runtime ? makeRuntimeFolder(dir.path() / "run") : fs::path();
        UnixInstanceLock holder(real, withRuntime(runtime));
        // A start from a session without the runtime variable looks in the
        // system's runtime folder as well.
        UnixInstanceLock::Options withoutVariable;
        withoutVariable.runtimeFolders = std::vector<fs::path>{fs::path(), runtime};
        UnixInstanceLock throughLink(link, c.runtime ? withoutVariable : withRuntime(runtime));
        ASSERT_TRUE(holder.tryTake());
        std::atomic<int> broughtForward{0};
        holder.serve([&broughtForward] { ++broughtForward; });
        EXPECT_FALSE(throughLink.tryTake());
        if (c.runtime) {
            EXPECT_EQ(throughLink.socketPath(), holder.socketPath());
        }
        EXPECT_EQ(throughLink.askHolderToComeForward(kAnswerLimit), HolderReply::cameForward);
        EXPECT_EQ(broughtForward.load(), 1);
    }
}

// The program's end never waits for a client of the same user that
// connected and said nothing: the holder's wait for its request is held
// open (a limit of an hour) when the end comes.
TEST(UnixInstanceLockTest, StopServingNeverWaitsOnASilentClient) {
    TempDir dir;
    std::promise<void> waiting;
    UnixInstanceLock::Options options = withRuntime(makeRuntimeFolder(dir.path() / "run"));
    options.requestLimit = std::chrono::hours(1);
    options.waitingForRequest = [&waiting] { waiting.set_value(); };
    UnixInstanceLock holder(dir.path() / "lumenhollow", options);
    ASSERT_TRUE(holder.tryTake());
    holder.serve([] {});
    UniqueFd client = connectSilently(*holder.socketPath());
    ASSERT_TRUE(client);
    ASSERT_EQ(waiting.get_future().wait_for(kAtOnceBound), std::future_status::ready) << "the holder took the client";
    auto stopped = std::async(std::launch::async, [&holder] { holder.stopServing(); });
    const bool promptly = stopped.wait_for(kAtOnceBound) == std::future_status::ready;
    client.reset();  // a stop that waited on the client ends now, and the test with it
    stopped.wait();
    EXPECT_TRUE(promptly) << "stopServing waited for the silent client";
}

// A holder in a child process, stopped (SIGSTOP) once it holds the lock:
// the holder runs but answers nothing.
class StoppedHolder {
public:
    explicit StoppedHolder(const fs::path& folder, const fs::path& runtime) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            UnixInstanceLock holder(folder, withRuntime(runtime));
            const char byte = holder.tryTake() ? 1 : 0;
            holder.serve([] {});
            [[maybe_unused]] const ssize_t written = ::write(ready[1], &byte, 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        const bool took = ::read(ready[0], &byte, 1) == 1 && byte == 1;
        ::close(ready[0]);
        int status = 0;
        stopped_ = took && ::kill(pid_, SIGSTOP) == 0 && ::waitpid(pid_, &status, WUNTRACED) == pid_ &&
                   WIFSTOPPED(status);
    }
    ~StoppedHolder() { end(); }
    void end() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    StoppedHolder(const StoppedHolder&) = delete;
    StoppedHolder& operator=(const StoppedHolder&) = delete;

    bool stopped() const { return stopped_; }
    pid_t pid() const { return pid_; }
    void goOn() { ::kill(pid_, SIGCONT); }

private:
    pid_t pid_ = -1;
    bool stopped_ = false;
};

TEST(UnixInstanceLockTest, AHolderThatDoesNotRunIsSilentAndNamedAndAStartsWaitForItEndsOnASignal) {
    TempDir dir;
    const fs::path folder = dir.path() / "lumenhollow";
    const fs::path runtime = makeRuntimeFolder(dir.path() / "run");
    StoppedHolder holder(folder, runtime);
    ASSERT_TRUE(holder.stopped());
    int interrupt[2];
    ASSERT_EQ(::pipe2(interrupt, O_CLOEXEC | O_NONBLOCK), 0);
    const UniqueFd interruptRead(interrupt[0]);
    const UniqueFd interruptWrite(interrupt[1]);
    UnixInstanceLock::Options options = withRuntime(runtime);
    options.interruptFd = interruptRead.get();
    UnixInstanceLock start(folder, options);

    EXPECT_FALSE(start.tryTake());
    EXPECT_EQ(start.askHolderToComeForward(kUnanswered), HolderReply::silent);
    EXPECT_EQ(start.holderPid(), std::optional<int>(holder.pid()));
    EXPECT_TRUE(start.processRunning(holder.pid()));
    EXPECT_TRUE(start.processStopped(holder.pid()));
    EXPECT_FALSE(start.processStopped(::getpid()));

    // A signal ends the wait for an answer that would take an hour.
    ASSERT_EQ(::write(interruptWrite.get(), "x", 1), 1);
    auto asked = std::async(std::launch::async, [&start] { return start.askHolderToComeForward(std::chrono::hours(1)); });
    const bool ended = asked.wait_for(kAtOnceBound) == std::future_status::ready;
    // An ask the signal did not end ends as its holder goes, and the test with it.
    if (!ended) holder.end();
    ASSERT_TRUE(ended) << "the signal did not end the wait";
    EXPECT_EQ(asked.get(), HolderReply::interrupted);
    EXPECT_FALSE(start.pause()) << "nor does a pause outlast it";
    char drained = 0;
    ASSERT_EQ(::read(interruptRead.get(), &drained, 1), 1);
    EXPECT_TRUE(start.pause());

    // Its queue full of requests it never took: refused at once, still
    // silent, and still named (from the lock file).
    std::vector<UniqueFd> queued;
    for (int i = 0; i < 64; ++i) {
        UniqueFd client = connectSilently(*start.socketPath());
        if (!client) break;
        queued.push_back(std::move(client));
    }
    ASSERT_LT(queued.size(), 64u) << "the queue never filled";
    UnixInstanceLock another(folder, withRuntime(runtime));
    EXPECT_FALSE(another.tryTake());
    EXPECT_EQ(another.askHolderToComeForward(std::chrono::hours(1)), HolderReply::silent);
    EXPECT_EQ(another.holderPid(), std::optional<int>(holder.pid()));

    // Let go on, it answers again once it has passed over the dead
    // requests, which a start's rounds wait out.
    queued.clear();
    holder.goOn();
    EXPECT_FALSE(start.processStopped(holder.pid()));
    EXPECT_EQ(claimInstance(start, hollowkit::Clock::system(), std::nullopt, InstanceWaits{kAnswerLimit, 0s}),
              InstanceClaim::handedOver);
}

// A program the holder starts (its relaunch) inherits none of the lock's
// descriptors: once the holder ends, the lock is free although the program
// it started still runs.
TEST(UnixInstanceLockTest, AProgramTheHolderStartsNeverHoldsTheLock) {
    TempDir dir;
    auto holder = std::make_unique<UnixInstanceLock>(dir.path(), withRuntime(""));
    ASSERT_TRUE(holder->tryTake());
    holder->serve([] {});
    pid_t child = -1;
    char sleep[] = "/bin/sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&child, sleep, nullptr, nullptr, argv, environ), 0);
    holder.reset();
    UnixInstanceLock next(dir.path(), withRuntime(""));
    EXPECT_TRUE(next.tryTake());
    EXPECT_TRUE(next.processRunning(child));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(next.processRunning(child)) << "a process that ended";
    EXPECT_TRUE(next.processRunning(::getpid()));
}

// A folder this user cannot write: a lock file left there by an earlier
// start still guards it; without one, the program runs unguarded and says
// so, leaving the folder as it was.
TEST(UnixInstanceLockTest, AFolderThatCannotBeWrittenUsesALockFileThereOrRunsUnguarded) {
    struct Case {
        const char* name;
        bool lockFileThere;
    };
    for (const Case& c : {Case{"a lock file from before", true}, Case{"no lock file", false}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path folder = dir.path() / "lumenhollow";
        fs::create_directories(folder);
        if (c.lockFileThere) std::ofstream(folder / "instance.lock").flush();
        fs::permissions(dir.path(), fs::perms(0755));
        fs::permissions(folder, fs::perms(0555));
        const std::set<std::string> before = instanceNamesIn(folder);
        LogCapture log;
        {
            test::FilesAsNobody nobody;
            UnixInstanceLock first(folder, withRuntime(""));
            UnixInstanceLock second(folder, withRuntime(""));
            EXPECT_TRUE(first.tryTake());
            EXPECT_EQ(second.tryTake(), !c.lockFileThere);
        }
        EXPECT_EQ(log.count("it is not checked"), c.lockFileThere ? 0 : 2) << ::testing::PrintToString(log.lines());
        fs::permissions(folder, fs::perms(0755));
        EXPECT_EQ(instanceNamesIn(folder), before);
    }
}


// The settings folder removed or moved, or its lock file removed, while the
// program runs: the holder makes its lock file at the path again (found by
// the folder's inotify events; the look on an interval is put off for the
// test), so a later start meets it instead of taking a new lock; a folder
// moved away is let go.
TEST(UnixInstanceLockTest, AHolderWhoseLockFileGoesMakesItAgainAndLaterStartsStillMeetIt) {
    enum class Change { folderRemoved, lockFileRemoved, folderMoved };
    struct Case {
        const char* name;
        Change change;
        bool runtime;
    };
    const Case cases[] = {
        {"the folder removed, socket in the runtime folder", Change::folderRemoved, true},
        {"the folder removed, socket beside the lock", Change::folderRemoved, false},
        {"the lock file removed", Change::lockFileRemoved, true},
        {"the folder moved away", Change::folderMoved, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        LogCapture log;
        const fs::path folder = dir.path() / "config" / "lumenhollow";
        const fs::path runtime = c.runtime ? makeRuntimeFolder(dir.path() / "run") : fs::path();
        std::promise<bool> remade;
        UnixInstanceLock::Options options = withRuntime(runtime);
        options.lockCheck = std::chrono::hours(24);
        options.lockRemade = [&remade](bool held) { remade.set_value(held); };
        UnixInstanceLock holder(folder, options);
        ASSERT_TRUE(holder.tryTake());
        std::atomic<int> broughtForward{0};
        holder.serve([&broughtForward] { ++broughtForward; });

        const fs::path moved = dir.path() / "moved";
        switch (c.change) {
        case Change::folderRemoved:
            fs::remove_all(dir.path() / "config");
            break;
        case Change::lockFileRemoved:
            fs::remove(folder / "instance.lock");
            break;
        case Change::folderMoved:
            fs::rename(folder, moved);
            break;
        }
        auto held = remade.get_future();
        ASSERT_EQ(held.wait_for(kAtOnceBound), std::future_status::ready) << "the holder did not notice";
        EXPECT_TRUE(held.get());
        EXPECT_TRUE(log.contains("its lock was made again there"));

        UnixInstanceLock later(folder, withRuntime(runtime));
        EXPECT_FALSE(later.tryTake()) << "two programs on one settings folder";
        EXPECT_EQ(later.askHolderToComeForward(kAnswerLimit), HolderReply::cameForward);
        EXPECT_EQ(broughtForward.load(), 1);
        if (c.change == Change::folderMoved) {
            UnixInstanceLock atMoved(moved, withRuntime(runtime));
            EXPECT_TRUE(atMoved.tryTake()) << "the moved folder's lock was let go";
        }
    }
}

// Another start takes the path first, between the holder finding its lock
// file gone and making it again: the holder says so and goes on, and
// later starts meet the one that holds the lock now, before and after the
// first one ends (its end removes no socket but its own).
TEST(UnixInstanceLockTest, AStartThatTakesTheReplacedFolderFirstKeepsIt) {
    TempDir dir;
    LogCapture log;
    const fs::path folder = dir.path() / "lumenhollow";
    UnixInstanceLock intruder(folder, withRuntime(""));
    std::promise<bool> remade;
    UnixInstanceLock::Options options = withRuntime("");
    options.lockCheck = std::chrono::hours(24);
    options.lockGone = [&intruder] { EXPECT_TRUE(intruder.tryTake()); };
    options.lockRemade = [&remade](bool held) { remade.set_value(held); };
    auto holder = std::make_unique<UnixInstanceLock>(folder, options);
    ASSERT_TRUE(holder->tryTake());
    std::atomic<int> holderForward{0};
    holder->serve([&holderForward] { ++holderForward; });
    std::atomic<int> intruderForward{0};

    fs::remove_all(folder);
    auto held = remade.get_future();
    ASSERT_EQ(held.wait_for(kAtOnceBound), std::future_status::ready) << "the holder did not notice";
    EXPECT_FALSE(held.get());
    EXPECT_TRUE(log.contains("was replaced while Lumenhollow was running"));
    intruder.serve([&intruderForward] { ++intruderForward; });

    UnixInstanceLock later(folder, withRuntime(""));
    EXPECT_FALSE(later.tryTake());
    EXPECT_EQ(later.askHolderToComeForward(kAnswerLimit), HolderReply::cameForward);
    holder.reset();
    EXPECT_EQ(later.askHolderToComeForward(kAnswerLimit), HolderReply::cameForward);
    EXPECT_EQ(intruderForward.load(), 2);
    EXPECT_EQ(holderForward.load(), 0);
}

}  // namespace
}  // namespace lumenhollow
