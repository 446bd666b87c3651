#include "hollowkit/wireless/wifi_password_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void plant(const std::string& path, const std::string& text = "802-11-wireless-security.psk:old\n") {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), 0600);
}

// What a crash left behind goes; everything else in the folder stays: other
// names, a file in use (locked by a running join), entries that are not
// plain files, and what a link of our prefix points at.
TEST(WiFiPasswordFileTest, RemovesOnlyOurOwnStaleFiles) {
    testsupport::TempDir dir;
    testsupport::TempDir elsewhere;
    const std::string prefix = WiFiPasswordFile::kPrefix;
    struct Entry {
        std::string name;
        bool removed;
    };
    const Entry entries[] = {
        {prefix + "a1B2c3", true},
        {prefix + "Zz9yX8", true},
        {prefix + "in-use", false},
        {prefix + "folder", false},
        {prefix + "fifo", false},
        {prefix + "link", false},
        {"hollowkit-wifi", false},
        {"notes.txt", false},
    };
    plant(dir.file(entries[0].name));
    plant(dir.file(entries[1].name), "");
    plant(dir.file(entries[2].name));
    // Another open file description: flock conflicts with it as with another process.
    UniqueFd holder(::open(dir.file(entries[2].name).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    fs::create_directory(dir.file(entries[3].name));
    ASSERT_EQ(::mkfifo(dir.file(entries[4].name).c_str(), 0600), 0);
    const std::string target = elsewhere.file(prefix + "target");
    plant(target);
    fs::create_symlink(target, dir.file(entries[5].name));
    plant(dir.file(entries[6].name));
    plant(dir.file(entries[7].name));

    testsupport::LogCapture log;
    EXPECT_EQ(WiFiPasswordFile::removeStale(dir.path().string()), 2);
    for (const Entry& entry : entries) {
        EXPECT_EQ(fs::exists(fs::symlink_status(dir.file(entry.name))), !entry.removed) << entry.name;
    }
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Removed 2 stale Wi-Fi password file(s) from " +
                                                    dir.path().string()});

    // Once its holder lets go, the file in use is stale too.
    holder.reset();
    EXPECT_EQ(WiFiPasswordFile::removeStale(dir.path().string()), 1);
    EXPECT_EQ(WiFiPasswordFile::removeStale(dir.path().string()), 0);
    EXPECT_EQ(WiFiPasswordFile::removeStale(dir.file("missing")), 0);
}

TEST(WiFiPasswordFileTest, AnotherUsersFileStays) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    testsupport::TempDir dir;
    const std::string path = dir.file(std::string(WiFiPasswordFile::kPrefix) + "theirs");
    plant(path);
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    EXPECT_EQ(WiFiPasswordFile::removeStale(dir.path().string()), 0);
    EXPECT_TRUE(fs::exists(path));
}

// A live file is private, holds nmcli's line, survives another instance's
// clean-up while in use, and goes with its owner.
TEST(WiFiPasswordFileTest, LiveFileIsPrivateHeldAndRemovedWithItsOwner) {
    testsupport::TempDir dir;
    auto file = WiFiPasswordFile::create(dir.path().string(), "pa ss:word");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fs::path(file->path()).parent_path(), dir.path());
    EXPECT_TRUE(fs::path(file->path()).filename().string().starts_with(WiFiPasswordFile::kPrefix));
    EXPECT_EQ(fs::status(file->path()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(contents(file->path()), "802-11-wireless-security.psk:pa ss:word\n");

    EXPECT_EQ(WiFiPasswordFile::removeStale(dir.path().string()), 0);
    EXPECT_TRUE(fs::exists(file->path()));
    const std::string path = file->path();
    file.reset();
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace hollowkit
