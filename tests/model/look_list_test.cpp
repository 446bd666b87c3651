#include "lumenhollow/model/look_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/test_support.h"

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
namespace hk = hollowkit;

std::string cubeText(int size) {
    std::string text = "LUT_3D_SIZE " + std::to_string(size) + "\n";
    for (int i = 0; i < size * size * size; ++i) text += "0.5 0.25 0.125\n";
    return text;
}

class LookListTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& text) {
        const fs::path path = dir_.path() / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::vector<std::string> ids(const std::vector<hk::ColorLUT>& looks) {
        std::vector<std::string> result;
        for (const auto& look : looks) result.push_back(look.id);
        return result;
    }

    hk::testsupport::TempDir dir_;
};

TEST_F(LookListTest, SpellingsOfOneFileLoadOneLook) {
    const std::string a = write("a.cube", cubeText(2));
    write("sub/keep", "");
    fs::create_symlink(a, dir_.path() / "link.cube");
    const std::string root = dir_.path().string();
    const std::vector<std::string> spellings = {
        a, root + "/./a.cube", root + "//a.cube", root + "/sub/../a.cube", root + "/link.cube",
    };
    const auto outcome = loadLooks(spellings, {});
    EXPECT_EQ(ids(outcome.added), std::vector<std::string>{a});
    EXPECT_TRUE(outcome.failures.empty());

    // Against looks already held: a new spelling of one of them adds nothing.
    const auto again = loadLooks({root + "/./a.cube"}, outcome.added);
    EXPECT_TRUE(again.added.empty());
    EXPECT_TRUE(again.failures.empty());
}

TEST_F(LookListTest, IdentityOfPaths) {
    const std::string a = write("a.cube", "");
    const std::string root = dir_.path().string();
    struct Case {
        std::string path;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {a, fs::canonical(a).string()},
        {root + "/x/../a.cube", fs::canonical(a).string()},
        // Gone files are compared by their plain spelling.
        {root + "/gone/./b.cube", fs::canonical(root).string() + "/gone/b.cube"},
        {"", std::nullopt},
        {a + std::string(1, '\0') + "x", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(lookIdentity(c.path), c.expected) << c.path;
}

TEST_F(LookListTest, EachFailureStaysWithItsLook) {
    const std::string good = write("good.cube", cubeText(2));
    const std::string other = write("other.cube", cubeText(3));
    const std::string bad = write("bad.cube", "LUT_3D_SIZE 2\n");
    const std::string nul = good + std::string(1, '\0') + ".png";  // cut, it would name good.cube
    const auto outcome = loadLooks({bad, nul, good, dir_.path().string() + "/missing.cube", other}, {});
    EXPECT_EQ(ids(outcome.added), (std::vector<std::string>{good, other}));
    ASSERT_EQ(outcome.failures.size(), 3u);
    EXPECT_EQ(outcome.failures[0], (LookLoadFailure{bad, "Expected 8 LUT entries, found 0"}));
    EXPECT_EQ(outcome.failures[1], (LookLoadFailure{nul, "The LUT file has a NUL character in its path"}));
    EXPECT_EQ(outcome.failures[2].message, "The LUT file could not be read");
}

TEST_F(LookListTest, CountAndMemoryAreBounded) {
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i) paths.push_back(write("l" + std::to_string(i) + ".cube", cubeText(2 + i)));
    struct Case {
        const char* label;
        LookListLimits limits;
        size_t existing;  // looks of `paths` held before
        size_t added;
    };
    const int64_t tableOf2 = 8 * 16;
    const int64_t tableOf3 = 27 * 16;
    const std::vector<Case> cases = {
        {"no bound reached", {}, 0, 5},
        {"three looks at most", {.maxLooks = 3}, 0, 3},
        {"three at most, two held", {.maxLooks = 3}, 2, 1},
        {"memory for the first two", {.maxTableBytes = tableOf2 + tableOf3}, 0, 2},
        {"memory for nothing more", {.maxTableBytes = tableOf2}, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto held = loadLooks({paths.begin(), paths.begin() + static_cast<long>(c.existing)}, {});
        const auto outcome = loadLooks(paths, held.added, c.limits);
        EXPECT_EQ(outcome.added.size(), c.added);
        EXPECT_EQ(outcome.failures.size(), paths.size() - c.existing - c.added);
        for (const auto& failure : outcome.failures) EXPECT_NE(failure.message.find("remove one"), std::string::npos);
    }
}

// The list's memory is judged at a table's size line: a file asking for
// more than is left is refused there, with the list's reason, whatever
// follows; a release gives the room back.
TEST_F(LookListTest, ALedgerRefusesATableOverTheMemoryLeftAtItsSizeLine) {
    const std::string held = write("held.cube", cubeText(2));
    const std::string large = write("large.cube", "LUT_3D_SIZE 3\nLUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    const std::string fits = write("fits.cube", cubeText(3));
    LookLedger ledger({.maxTableBytes = 8 * 16 + 27 * 16 - 1});
    ASSERT_TRUE(ledger.tryLoad(held).look);

    const LookAttempt refused = ledger.tryLoad(large);
    ASSERT_TRUE(refused.failure);
    EXPECT_EQ(refused.failure->message,
              "The imported looks would take more than 0 MB of memory: remove one to import this one");
    EXPECT_TRUE(ledger.tryLoad(fits).failure);

    ledger.release(held);
    const LookAttempt loaded = ledger.tryLoad(fits);
    ASSERT_TRUE(loaded.look);
    EXPECT_FALSE(loaded.failure);
    EXPECT_FALSE(ledger.tryLoad(fits).look) << "held now";
}

// Sixteen spellings of a 4096 × 4096 16-bit picture look once ended the
// process when memory ran out; now one look is loaded, in bounded memory.
TEST_F(LookListTest, ManySpellingsOfTheLargestPictureLoadItOnce) {
    const std::string path = (dir_.path() / "hald.png").string();
    ASSERT_TRUE(cv::imwrite(path, cv::Mat(4096, 4096, CV_16UC4, cv::Scalar(0, 0, 0, 65535))));
    std::vector<std::string> spellings;
    std::string prefix = dir_.path().string();
    for (int i = 0; i < 16; ++i) {
        spellings.push_back(prefix + "/hald.png");
        prefix += "/.";
    }
    const auto outcome = hk::testsupport::runInChild(
        [&] {
            const auto loaded = loadLooks(spellings, {});
            return loaded.added.size() == 1 && loaded.failures.empty() ? 0 : 1;
        },
        std::chrono::seconds(180));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
    ::testing::Test::RecordProperty("peakGrowthBytes", std::to_string(outcome.peakGrowthBytes));
    if (hk::testsupport::kPlainMemoryPeaks) {
        EXPECT_LT(outcome.peakGrowthBytes, hk::ColorLUT::kMaxLoadCostBytes + (int64_t{128} << 20));
    }
}

}  // namespace
}  // namespace lumenhollow
