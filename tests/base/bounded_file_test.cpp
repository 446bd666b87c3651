#include "hollowkit/base/bounded_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;
using Kind = FileReadError::Kind;
using testsupport::TempDir;

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

struct ReadCase {
    const char* label;
    std::string path;
    uint64_t limit;
    Kind expected;  // none: read whole
};

TEST(BoundedFileTest, ReadsRegularFilesWithinTheirLimitAndRefusesTheRest) {
    TempDir dir;
    writeText(dir.path() / "ten", "0123456789");
    writeText(dir.path() / "empty", "");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir.path() / "zero");
    fs::create_symlink(dir.path() / "ten", dir.path() / "link");
    fs::create_directory(dir.path() / "folder");

    const std::vector<ReadCase> cases = {
        {"within the limit", dir.file("ten"), 64, Kind::none},
        {"exactly the limit", dir.file("ten"), 10, Kind::none},
        {"one byte over", dir.file("ten"), 9, Kind::tooLarge},
        {"empty file", dir.file("empty"), 0, Kind::none},
        {"link to a regular file", dir.file("link"), 64, Kind::none},
        {"FIFO without a writer", dir.file("fifo"), 64, Kind::notRegularFile},
        {"link to /dev/zero", dir.file("zero"), 64, Kind::notRegularFile},
        {"folder", dir.file("folder"), 64, Kind::notRegularFile},
        {"missing", dir.file("nothing"), 64, Kind::cannotOpen},
        {"NUL inside the path", dir.file("ten") + std::string(1, '\0') + "x", 64, Kind::invalidPath},
        {"empty path", "", 64, Kind::invalidPath},
        // Stated as 0 bytes, but reading yields more: the limit holds while reading.
        {"procfs file longer than its stated size", "/proc/self/status", 16, Kind::tooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        // A FIFO opened the blocking way would never return: the read runs
        // in a child held to a time bound.
        const auto outcome = testsupport::runInChild(
            [&] {
                auto read = readBoundedText(c.path, c.limit);
                const Kind kind = read ? Kind::none : read.error().kind;
                if (kind != c.expected) return 1;
                if (read && read->size() > c.limit) return 2;
                return 0;
            },
            std::chrono::seconds(10));
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.exitCode, 0);
    }
}

TEST(BoundedFileTest, ReadsTheContentAsWritten) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 20000; ++i) text += static_cast<char>(i * 7 + i / 256);
    writeText(dir.path() / "data", text);
    auto read = readBoundedText(dir.path() / "data", text.size());
    ASSERT_TRUE(read) << read.error().userMessage();
    EXPECT_EQ(*read, text);
    auto bytes = readBoundedFile(dir.path() / "data", text.size());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), text);
}

// The largest limit means "no limit of our own": a file stating no size
// (procfs) and a regular file both read whole, as text and as bytes.
TEST(BoundedFileTest, TheLargestLimitReadsWholeFiles) {
    TempDir dir;
    const std::string text(10000, 'x');
    writeText(dir.path() / "data", text);
    const uint64_t largest = std::numeric_limits<uint64_t>::max();
    for (const std::string& path : {std::string("/proc/self/status"), dir.file("data")}) {
        SCOPED_TRACE(path);
        auto read = readBoundedText(path, largest);
        ASSERT_TRUE(read) << read.error().userMessage();
        auto bytes = readBoundedFile(path, largest);
        ASSERT_TRUE(bytes) << bytes.error().userMessage();
        if (path == "/proc/self/status") {
            EXPECT_TRUE(read->starts_with("Name:"));
            EXPECT_TRUE(read->find("\nPid:") != std::string::npos);
        } else {
            EXPECT_EQ(*read, text);
            EXPECT_EQ(bytes->size(), text.size());
        }
    }
}

TEST(BoundedFileTest, AGrowingFileIsRefusedAtTheLimitWhileReading) {
    TempDir dir;
    writeText(dir.path() / "log", "abc");
    auto file = BoundedFile::open(dir.path() / "log", 8);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->statedSizeBytes(), 3u);
    writeText(dir.path() / "log", "abcdefghijklmnop");  // grows after the size check
    std::vector<uint8_t> buffer(64);
    uint64_t total = 0;
    Result<size_t, FileReadError> n = size_t{0};
    while ((n = file->read(buffer)) && *n > 0) total += *n;
    ASSERT_FALSE(n);
    EXPECT_EQ(n.error().kind, Kind::tooLarge);
    EXPECT_LE(total, 8u);
}

TEST(BoundedFileTest, SizesAreWrittenToThreeFiguresNeverLarger) {
    const std::vector<std::pair<uint64_t, std::string>> cases = {
        {1023, "1023 bytes"},         {1024, "1 KB"},
        {1536, "1.5 KB"},             {(1u << 20) - 1, "1023 KB"},
        {1u << 20, "1 MB"},           {(1u << 20) + 10485, "1 MB"},  // 1.0099…: cut, not rounded up
        {10747904, "10.2 MB"},        {uint64_t{999} << 20 | 0xFFFFF, "999 MB"},
        {uint64_t{16} << 30, "16384 MB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(byteSizeText(bytes), text) << bytes;
}

TEST(BoundedFileTest, MessagesNameTheFileAndTheReason) {
    struct MessageCase {
        FileReadError error;
        std::string expected;
    };
    const std::vector<MessageCase> cases = {
        {{.kind = Kind::notRegularFile, .file = "/home/ann/.config/user-dirs.dirs"},
         "/home/ann/.config/user-dirs.dirs is not a regular file"},
        {{.kind = Kind::tooLarge, .file = "Cursor.json", .sizeBytes = 129u << 20, .limitBytes = 32u << 20},
         "Cursor.json is too large (129 MB; at most 32 MB is read)"},
        {{.kind = Kind::tooLarge, .file = "a", .sizeBytes = 70000, .limitBytes = 100}, "a is too large (68.3 KB; at most 100 bytes is read)"},
        // A size just past its limit reads differently from it.
        {{.kind = Kind::tooLarge, .file = "d.cube", .sizeBytes = 1405092, .limitBytes = 1u << 20},
         "d.cube is too large (1.34 MB; at most 1 MB is read)"},
        {{.kind = Kind::tooLarge, .file = "e", .sizeBytes = (1u << 20) + 100, .limitBytes = 1u << 20},
         "e is too large (1048676 bytes; at most 1048576 bytes is read)"},
        {{.kind = Kind::cannotOpen, .file = "b", .errorNumber = EACCES}, "b could not be opened: Permission denied"},
        {{.kind = Kind::readFailed, .file = "c", .errorNumber = EIO}, "c could not be read: Input/output error"},
        {{.kind = Kind::invalidPath, .file = std::string("x\0y", 3)}, "x\\0y has a NUL character in its path"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.userMessage(), c.expected);
}

}  // namespace
}  // namespace hollowkit
