#include "lumenhollow/platform/linux/unix_instance_lock.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/file_test_support.h"

// The settings folder's lock between programs, played by two locks of one
// process (flock locks belong to an opened file, not to a process): one
// holder per folder, reached by a later start while it serves and refused
// once it stops; a folder where no lock can be had runs unguarded; and a
// program the holder starts never holds the lock for it.

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using hollowkit::testsupport::LogCapture;
using hollowkit::testsupport::TempDir;

std::set<std::string> instanceNamesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

TEST(UnixInstanceLockTest, OneHolderPerFolderAnswersLaterStartsWhileItServes) {
    TempDir dir;
    const fs::path folder = dir.path() / "config" / "lumenhollow";
    auto first = std::make_unique<UnixInstanceLock>(folder);
    UnixInstanceLock second(folder);
    UnixInstanceLock elsewhere(dir.path() / "other");
    EXPECT_NE(first->socketName(), elsewhere.socketName());
    EXPECT_EQ(first->socketName(), UnixInstanceLock(dir.path() / "config" / "." / "lumenhollow").socketName())
        << "one folder, however written, is one name";

    ASSERT_TRUE(first->tryTake());
    EXPECT_TRUE(first->tryTake()) << "held already";
    EXPECT_EQ(instanceNamesIn(folder), std::set<std::string>{"instance.lock"});
    EXPECT_FALSE(second.tryTake());
    EXPECT_TRUE(elsewhere.tryTake()) << "another folder has a lock of its own";

    std::atomic<int> broughtForward{0};
    first->serve([&broughtForward] { ++broughtForward; });
    EXPECT_TRUE(second.askHolderToComeForward());
    EXPECT_TRUE(second.askHolderToComeForward());
    EXPECT_EQ(broughtForward.load(), 2);
    EXPECT_FALSE(second.tryTake());

    // Ending: later starts are refused at once and wait for the lock.
    first->stopServing();
    EXPECT_FALSE(second.askHolderToComeForward());
    EXPECT_EQ(broughtForward.load(), 2);
    EXPECT_FALSE(second.tryTake());
    first.reset();
    EXPECT_TRUE(second.tryTake());
}

// A program the holder starts (its relaunch) inherits none of the lock's
// descriptors: once the holder ends, the lock is free although the program
// it started still runs.
TEST(UnixInstanceLockTest, AProgramTheHolderStartsNeverHoldsTheLock) {
    TempDir dir;
    auto holder = std::make_unique<UnixInstanceLock>(dir.path());
    ASSERT_TRUE(holder->tryTake());
    holder->serve([] {});
    pid_t child = -1;
    char sleep[] = "/bin/sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&child, sleep, nullptr, nullptr, argv, environ), 0);
    holder.reset();
    UnixInstanceLock next(dir.path());
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
            UnixInstanceLock first(folder);
            UnixInstanceLock second(folder);
            EXPECT_TRUE(first.tryTake());
            EXPECT_EQ(second.tryTake(), !c.lockFileThere);
        }
        EXPECT_EQ(log.count("it is not checked"), c.lockFileThere ? 0 : 2) << ::testing::PrintToString(log.lines());
        fs::permissions(folder, fs::perms(0755));
        EXPECT_EQ(instanceNamesIn(folder), before);
    }
}

}  // namespace
}  // namespace lumenhollow
