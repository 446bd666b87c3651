#include "hollowkit/base/held_folder.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/atomic_file.h"
#include "hollowkit/base/new_file.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;

std::string heldText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> heldNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What happens to a folder's path while it is held: the folder goes to
// "Moved", and something else may take its place.
struct FolderFate {
    const char* what;
    std::function<void(const fs::path& path, const fs::path& moved)> after;  // after the move; may be empty
};

const std::vector<FolderFate>& folderFates() {
    static const std::vector<FolderFate> fates{
        {"renamed", {}},
        {"replaced by an empty folder", [](const fs::path& path, const fs::path&) { fs::create_directory(path); }},
        {"replaced by a link to another folder",
         [](const fs::path& path, const fs::path& moved) {
             fs::create_directory(moved.parent_path() / "Elsewhere");
             fs::create_directory_symlink(moved.parent_path() / "Elsewhere", path);
         }},
        {"replaced by a file", [](const fs::path& path, const fs::path&) { std::ofstream(path) << "a file"; }},
    };
    return fates;
}

// Every write through a held folder lands in that folder, wherever it was
// moved and whatever took its path; nothing is made at the path.
TEST(HeldFolderTest, WritesGoToTheHeldFolderWhateverTookItsPath) {
    for (const FolderFate& fate : folderFates()) {
        SCOPED_TRACE(fate.what);
        testsupport::TempDir dir;
        const fs::path path = dir.path() / "Lumenhollow";
        const fs::path moved = dir.path() / "Moved";
        fs::create_directory(path);
        std::ofstream(path / "earlier") << "earlier";
        auto held = HeldFolder::open(path);
        ASSERT_TRUE(held.has_value()) << held.error().message();
        fs::rename(path, moved);
        if (fate.after) fate.after(path, moved);
        const auto besidePath = heldNames(dir.path());

        const auto copy = writeNewFile(*held, "new", fs::perms::owner_read | fs::perms::owner_write,
                                       [](int n) { return n == 1 ? std::string("earlier") : "copy-" + std::to_string(n); }, 3);
        ASSERT_TRUE(copy.has_value()) << copy.error().message();
        EXPECT_EQ(copy->filename(), "copy-2");
        ASSERT_TRUE(writeFileAtomically(*held, "settings.json", "one").has_value());
        ASSERT_TRUE(writeFileAtomically(*held, "settings.json", "two").has_value());
        EXPECT_FALSE(renameWithoutReplacing(*held, "copy-2", *held, "renamed"));
        EXPECT_EQ(renameWithoutReplacing(*held, "renamed", *held, "earlier").value(), EEXIST);

        EXPECT_EQ(heldNames(moved), (std::vector<std::string>{"earlier", "renamed", "settings.json"}));
        EXPECT_EQ(heldText(moved / "renamed"), "new");
        EXPECT_EQ(heldText(moved / "settings.json"), "two");
        EXPECT_EQ(heldText(moved / "earlier"), "earlier");
        EXPECT_EQ(heldNames(dir.path()), besidePath) << "nothing beside the folder";
        if (fs::is_directory(path)) {
            EXPECT_TRUE(heldNames(path).empty()) << "nothing at the path";
        }
    }
}

// The path form holds the folder for the one write: a write into a folder
// that is not there, or is a file, fails with its reason and leaves nothing.
TEST(HeldFolderTest, AFolderThatCannotBeHeldFailsWithItsReason) {
    testsupport::TempDir dir;
    std::ofstream(dir.path() / "file") << "x";
    struct Case {
        const char* what;
        fs::path folder;
        std::errc expected;
    };
    for (const Case& c : {Case{"missing", dir.path() / "missing", std::errc::no_such_file_or_directory},
                          Case{"a file", dir.path() / "file", std::errc::not_a_directory}}) {
        SCOPED_TRACE(c.what);
        const auto held = HeldFolder::open(c.folder);
        ASSERT_FALSE(held.has_value());
        EXPECT_EQ(held.error(), std::make_error_code(c.expected));
        const auto atomic = writeFileAtomically(c.folder / "settings.json", "x");
        ASSERT_FALSE(atomic.has_value());
        EXPECT_EQ(atomic.error(), std::make_error_code(c.expected));
    }
    EXPECT_EQ(heldNames(dir.path()), std::vector<std::string>{"file"});
}

// Where a held folder is now: followed wherever it was moved, whatever took
// its old path; its old path while that still names it (as it was spelled,
// a link in it not resolved) and when nothing names it any more.
TEST(HeldFolderTest, ItsCurrentPathIsWhereTheFolderIsNow) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& dir, const fs::path& path)> fate;
        const char* now;  // relative to the test's folder
        bool removed = false;
    };
    const auto moveTo = [](const char* name) {
        return [name](const fs::path& dir, const fs::path& path) { fs::rename(path, dir / name); };
    };
    const std::vector<Case> cases{
        {"left where it is", {}, "Link/Lumenhollow"},
        {"renamed", moveTo("Moved"), "Real/Moved"},
        {"moved into another folder", [](const fs::path& dir, const fs::path& path) {
             fs::create_directory(dir / "Other");
             fs::rename(path, dir / "Other" / "Moved");
         }, "Real/Other/Moved"},
        {"moved aside, an empty folder in its place", [&](const fs::path& dir, const fs::path& path) {
             moveTo("Moved")(dir, path);
             fs::create_directory(path);
         }, "Real/Moved"},
        {"moved aside, a file in its place", [&](const fs::path& dir, const fs::path& path) {
             moveTo("Moved")(dir, path);
             std::ofstream(path) << "a file";
         }, "Real/Moved"},
        {"removed", [](const fs::path&, const fs::path& path) { fs::remove(path); }, "Link/Lumenhollow", true},
        {"moved to another disk: copied, then removed", [](const fs::path& dir, const fs::path& path) {
             fs::copy(path, dir / "Copy");
             fs::remove(path);
         }, "Link/Lumenhollow", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        // Reached through a link, as a videos folder often is.
        fs::create_directory(dir.path() / "Real");
        fs::create_directory_symlink(dir.path() / "Real", dir.path() / "Link");
        const fs::path path = dir.path() / "Link" / "Lumenhollow";
        fs::create_directory(path);
        auto held = HeldFolder::open(path);
        ASSERT_TRUE(held.has_value()) << held.error().message();
        const FileInFolder file{*held, "movie.mov"};
        if (c.fate) c.fate(dir.path() / "Real", dir.path() / "Real" / "Lumenhollow");
        // A folder that moved is told by its real path, links resolved.
        const fs::path expected = (std::string(c.now).starts_with("Link/") ? dir.path() : fs::canonical(dir.path())) / c.now;
        EXPECT_EQ(held->currentPath(), expected);
        EXPECT_EQ(file.currentPath(), expected / "movie.mov");
        EXPECT_EQ(held->path(), path) << "the path it was opened at stays for the logs";
        EXPECT_EQ(held->removed(), c.removed);
    }
    const HeldFolder none = HeldFolder::failed("/nowhere", std::make_error_code(std::errc::not_a_directory));
    EXPECT_EQ(none.currentPath(), fs::path("/nowhere"));
    EXPECT_FALSE(none.removed());
}

}  // namespace
}  // namespace hollowkit
