#include "hollowkit/base/new_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;

std::string newFileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> newFileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string copyName(int n) {
    return n == 1 ? "copy" : "copy-" + std::to_string(n);
}

using Write = Result<fs::path, std::error_code> (*)(const fs::path&, std::string_view, fs::perms,
                                                     const std::function<std::string(int)>&, int);

// A new file takes the first free name and never an existing file's place;
// whatever fails, nothing of the write is left behind. Written unnamed (the
// way taken wherever the file system allows), nothing of it has a name in
// the folder before it is whole: the names it is offered see only the
// earlier files.
TEST(NewFileTest, TakesTheFirstFreeNameAndNeverReplacesAFile) {
    struct Way {
        const char* name;
        Write write;
        bool unnamedUntilWhole;
    };
    for (const Way& way : {Way{"unnamed, then linked", &writeNewFile, true},
                           Way{"a hidden temporary, then renamed", &detail::writeNewFileByRename, false}}) {
        SCOPED_TRACE(way.name);
        struct Case {
            const char* name;
            std::vector<std::string> taken;
            std::optional<std::string> written;  // nothing: fails
            int error = 0;
        };
        const std::vector<Case> cases{
            {"a free name", {}, "copy"},
            {"the first name taken", {"copy"}, "copy-2"},
            {"a gap is taken first", {"copy", "copy-3"}, "copy-2"},
            {"every name taken", {"copy", "copy-2", "copy-3"}, std::nullopt, EEXIST},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            testsupport::TempDir dir;
            for (const std::string& name : c.taken) std::ofstream(dir.path() / name) << "earlier";
            std::vector<std::vector<std::string>> seenWhenNamed;
            const auto named = [&](int n) {
                seenWhenNamed.push_back(newFileNames(dir.path()));
                return copyName(n);
            };
            const auto written = way.write(dir.path(), "new", fs::perms::owner_read | fs::perms::owner_write, named, 3);
            if (way.unnamedUntilWhole) {
                std::vector<std::string> before = c.taken;
                std::sort(before.begin(), before.end());
                for (const auto& seen : seenWhenNamed) EXPECT_EQ(seen, before) << "a name for the write's data";
            }
            std::vector<std::string> expected = c.taken;
            if (c.written) {
                ASSERT_TRUE(written.has_value()) << written.error().message();
                EXPECT_EQ(*written, dir.path() / *c.written);
                EXPECT_EQ(newFileText(*written), "new");
                EXPECT_EQ(fs::status(*written).permissions(), fs::perms::owner_read | fs::perms::owner_write);
                expected.push_back(*c.written);
            } else {
                ASSERT_FALSE(written.has_value());
                EXPECT_EQ(written.error().value(), c.error);
            }
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(newFileNames(dir.path()), expected) << "no temporary left";
            for (const std::string& name : c.taken) EXPECT_EQ(newFileText(dir.path() / name), "earlier");
        }
    }
}

TEST(NewFileTest, AFolderThatIsNotThereFailsWithItsReason) {
    testsupport::TempDir dir;
    const auto written = writeNewFile(dir.path() / "gone", "new", fs::perms::owner_read, copyName, 3);
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().value(), ENOENT);
    EXPECT_TRUE(newFileNames(dir.path()).empty());
}

TEST(NewFileTest, ARenameOntoATakenNameMovesNothing) {
    testsupport::TempDir dir;
    std::ofstream(dir.path() / "from") << "moving";
    std::ofstream(dir.path() / "to") << "staying";
    EXPECT_EQ(renameWithoutReplacing(dir.path() / "from", dir.path() / "to").value(), EEXIST);
    EXPECT_EQ(newFileText(dir.path() / "to"), "staying");
    EXPECT_EQ(newFileText(dir.path() / "from"), "moving");
    EXPECT_FALSE(renameWithoutReplacing(dir.path() / "from", dir.path() / "free"));
    EXPECT_EQ(newFileNames(dir.path()), (std::vector<std::string>{"free", "to"}));
    EXPECT_EQ(newFileText(dir.path() / "free"), "moving");
}

}  // namespace
}  // namespace hollowkit
