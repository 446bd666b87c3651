#include "lumenhollow/platform/linux/statvfs_disk_space.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "hollowkit/testing/test_support.h"

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;

// Other programs write to the same disks while the test runs.
constexpr uint64_t kDrift = 256ull * 1024 * 1024;

// The file system's identity, to tell which one was measured.
std::optional<unsigned long> fileSystemOf(const fs::path& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return info.f_fsid;
}

TEST(StatvfsDiskSpaceTest, AMissingFolderIsMeasuredOnItsNearestExistingParent) {
    hollowkit::testsupport::TempDir dir;
    std::ofstream(dir.path() / "file") << "x";
    // /dev/shm is a memory file system on its own, so a walk that went past
    // the nearest parent to "/" would give another figure there.
    const fs::path shm = "/dev/shm";
    const bool haveShm = fs::is_directory(shm) && fileSystemOf(shm) != fileSystemOf(dir.path());

    struct Case {
        fs::path folder;
        fs::path measuredLike;
    };
    std::vector<Case> cases = {
        {dir.path(), dir.path()},
        {dir.path() / "Videos" / "Lumenhollow", dir.path()},
        {"lumenhollow-missing-folder/Lumenhollow", "."},
        {dir.path() / "file" / "Lumenhollow", dir.path()},
    };
    if (haveShm) cases.push_back({shm / ("lumenhollow-missing-" + std::to_string(::getpid())) / "x", shm});

    const StatvfsDiskSpace space;
    for (const Case& c : cases) {
        const std::optional<uint64_t> bytes = space.availableBytes(c.folder);
        ASSERT_TRUE(bytes.has_value()) << c.folder;
        const uint64_t expected = fs::space(c.measuredLike).available;
        EXPECT_LE(*bytes, expected + kDrift) << c.folder;
        EXPECT_GE(*bytes + kDrift, expected) << c.folder;
    }
}

}  // namespace
}  // namespace lumenhollow
