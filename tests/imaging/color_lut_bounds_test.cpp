// The look readers on files a careless script or a hostile download can
// leave: each is refused promptly, with its reason, and within bounded
// memory; running out of memory fails the look, not the process.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/hostile_files.h"
#include "hollowkit/testing/test_support.h"
#include "lut_test_support.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;
using Error = ColorLUT::LoadError;
using testsupport::runInChild;

constexpr auto kTimeLimit = std::chrono::seconds(20);
constexpr int64_t kSmallPeak = int64_t{32} << 20;

std::string entries(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "0.25 0.5 0.75\n";
    return text;
}

std::string writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

// `ColorLUT::load(path)` in a child: its outcome must be `expected`, within the
// time bound and `maxPeak` bytes.
void expectRefusedWithin(const std::string& path, const Error& expected, int64_t maxPeak) {
    const auto outcome = runInChild(
        [&] {
            const auto lut = ColorLUT::load(path);
            if (lut) return 2;
            return lut.error() == expected ? 0 : 1;
        },
        kTimeLimit);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << ColorLUT::load(path).error().userMessage();
    ::testing::Test::RecordProperty("peakGrowthBytes", std::to_string(outcome.peakGrowthBytes));
    if (testsupport::kPlainMemoryPeaks) {
        EXPECT_LT(outcome.peakGrowthBytes, maxPeak);
    }
}

TEST(ColorLutBoundsTest, CubeFilesAreRefusedAtTheFirstLineThatCannotBelong) {
    testsupport::TempDir dir;
    struct Case {
        const char* label;
        std::string text;
        Error expected;
    };
    const std::vector<Case> cases = {
        // 400 000 entries (5 MB) for a table of 8: no later size line makes
        // them a table, and the memory is that of the entries read.
        {"entries far beyond the declared size", "LUT_3D_SIZE 2\n" + entries(400000),
         Error::wrongEntryCount(8, 400000)},
        {"a 1D table before a long body", "LUT_1D_SIZE 4096\n" + entries(400000), Error::oneDimensional()},
        {"a non-finite entry before a long body", "LUT_3D_SIZE 128\n0 0 nan\n" + entries(400000),
         Error::nonFiniteEntry(1)},
        {"a malformed keyword stays the reason", "DOMAIN_MIN 0 0\nLUT_3D_SIZE 2\n" + entries(1000),
         Error::malformedKeyword("DOMAIN_MIN", 3)},
        // Memory follows the text, not the size it declares.
        {"a short file declaring the largest table", "LUT_3D_SIZE 256\n" + entries(3),
         Error::wrongEntryCount(16777216, 3)},
        {"a line of 2 MB", "# " + std::string(size_t{2} << 20, 'x') + "\nLUT_3D_SIZE 2\n" + entries(8),
         Error::unreadable()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        expectRefusedWithin(writeText(dir.path() / "look.cube", c.text), c.expected, kSmallPeak);
    }
}

// The 33-point table, each entry written to ten decimals (39 bytes a line,
// 1.34 MB in all), in the red-fastest order.
std::string longEntries33() {
    std::string text;
    char line[64];
    for (int b = 0; b < 33; ++b) {
        for (int g = 0; g < 33; ++g) {
            for (int r = 0; r < 33; ++r) {
                std::snprintf(line, sizeof line, "%.10f %.10f %.10f\n", r / 32.0, g / 32.0, b / 32.0);
                text += line;
            }
        }
    }
    return text;
}

// A later size line replaces an earlier one, so a file is not judged long
// by the size read so far: only the largest table bounds it (512 MB).
TEST(ColorLutBoundsTest, ACubeFileIsJudgedByItsLastSizeLineWhateverItsLength) {
    testsupport::TempDir dir;
    const std::string table = longEntries33();
    ASSERT_GT(table.size(), size_t{1} << 20);
    struct Case {
        const char* label;
        std::string text;
        Result<int, Error> expected;  // the dimension, or the error
    };
    const std::vector<Case> cases = {
        {"a later larger size line", "LUT_3D_SIZE 2\n" + table + "LUT_3D_SIZE 33\n", 33},
        {"a later smaller size line", "LUT_3D_SIZE 33\n" + entries(8) + "LUT_3D_SIZE 2\n", 2},
        {"a size line only after the entries", "TITLE \"late\"\n" + table + "LUT_3D_SIZE 33\n", 33},
        {"a file far too long for its only size line", "LUT_3D_SIZE 2\n" + table,
         unexpected(Error::wrongEntryCount(8, 35937))},
        {"a later size line that does not fit either", "LUT_3D_SIZE 2\n" + table + "LUT_3D_SIZE 32\n",
         unexpected(Error::wrongEntryCount(32768, 35937))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = writeText(dir.path() / "late.cube", c.text);
        const auto fromFile = ColorLUT::load(path);
        const auto fromText = ColorLUT::parseCube(c.text, path, "late");
        ASSERT_EQ(fromFile.has_value(), c.expected.has_value())
            << (fromFile ? "loaded" : fromFile.error().userMessage());
        ASSERT_EQ(fromText.has_value(), c.expected.has_value());
        if (c.expected) {
            EXPECT_EQ(fromFile->dimension, c.expected.value());
            EXPECT_EQ(fromFile->rgba, fromText->rgba);
        } else {
            EXPECT_EQ(fromFile.error(), c.expected.error());
            EXPECT_EQ(fromText.error(), c.expected.error());
        }
    }
}

TEST(ColorLutBoundsTest, CubeFileSizeIsBoundedByTheLargestTable) {
    testsupport::TempDir dir;
    // 500 MB declaring a table of 8, the rest NUL bytes: refused as
    // unreadable once the first megabyte holds no line end, without
    // reading on.
    const auto declared = dir.path() / "declared.cube";
    testsupport::makeHostileFile(declared, testsupport::HostileFile::sparseHuge, uint64_t{500} << 20,
                                 "LUT_3D_SIZE 2\n");
    expectRefusedWithin(declared.string(), Error::unreadable(), kSmallPeak);
    // Beyond what any table takes: refused before reading, with sizes that
    // tell the file from the limit even one byte past it.
    const auto huge = dir.path() / "huge.cube";
    testsupport::makeHostileFile(huge, testsupport::HostileFile::sparseHuge, uint64_t{600} << 20);
    expectRefusedWithin(huge.string(), Error::refusedFile("is too large (600 MB; at most 512 MB is read)"),
                        kSmallPeak);
    const auto justOver = dir.path() / "just-over.cube";
    testsupport::makeHostileFile(justOver, testsupport::HostileFile::sparseHuge, (uint64_t{512} << 20) + 1);
    expectRefusedWithin(justOver.string(),
                        Error::refusedFile("is too large (536870913 bytes; at most 536870912 bytes is read)"),
                        kSmallPeak);
}

// A caller sharing a memory budget among looks: a file whose size line asks
// for more is refused there, quickly and in little memory, however long the
// rest of it is; a stop request ends a reading under way.
TEST(ColorLutBoundsTest, ACubeOverTheMemoryAllowedIsRefusedAtItsSizeLine) {
    testsupport::TempDir dir;
    const auto path = dir.path() / "large.cube";
    testsupport::makeHostileFile(path, testsupport::HostileFile::sparseHuge, uint64_t{200} << 20,
                                 "LUT_3D_SIZE 128\n");
    const int64_t allowed = int64_t{16} << 20;
    const auto outcome = runInChild(
        [&] {
            ColorLUT::LoadOptions options;
            options.maxTableBytes = allowed;
            const auto lut = ColorLUT::load(path.string(), options);
            return !lut && lut.error() == Error::overBudget(int64_t{32} << 20, allowed) ? 0 : 1;
        },
        kTimeLimit);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
    if (testsupport::kPlainMemoryPeaks) {
        EXPECT_LT(outcome.peakGrowthBytes, kSmallPeak);
    }

    StopFlag stop;
    stop.set();
    ColorLUT::LoadOptions options;
    options.stop = &stop;
    const std::string png = (dir.path() / "good.png").string();
    ASSERT_TRUE(cv::imwrite(png, cv::Mat(64, 64, CV_8UC3, cv::Scalar(1, 2, 3))));
    for (const std::string& look : {writeText(dir.path() / "good.cube", "LUT_3D_SIZE 2\n" + entries(8)), png}) {
        SCOPED_TRACE(look);
        ASSERT_TRUE(ColorLUT::load(look));
        const auto lut = ColorLUT::load(look, options);
        ASSERT_FALSE(lut);
        EXPECT_EQ(lut.error(), Error::stopped());
    }
}

TEST(ColorLutBoundsTest, SpecialFilesInPlaceOfALookAreRefused) {
    for (const auto kind : {testsupport::HostileFile::fifo, testsupport::HostileFile::linkToDevZero,
                            testsupport::HostileFile::folder}) {
        SCOPED_TRACE(testsupport::toString(kind));
        for (const char* name : {"look.cube", "look.png"}) {
            testsupport::TempDir dir;
            makeHostileFile(dir.path() / name, kind);
            expectRefusedWithin((dir.path() / name).string(), Error::refusedFile("is not a regular file"),
                                kSmallPeak);
        }
    }
}

TEST(ColorLutBoundsTest, APathWithANulIsRefusedNotCut) {
    testsupport::TempDir dir;
    // The part before the NUL names a good look: opening the cut path would load it.
    const std::string good = writeText(dir.path() / "good.cube", "LUT_3D_SIZE 2\n" + entries(8));
    ASSERT_TRUE(ColorLUT::load(good));
    const auto lut = ColorLUT::load(good + std::string(1, '\0') + ".png");
    ASSERT_FALSE(lut);
    EXPECT_EQ(lut.error(), Error::refusedFile("has a NUL character in its path"));
}

// Lines are split across the reader's chunks wherever they fall, including
// inside a two- or three-byte newline character.
TEST(ColorLutBoundsTest, NewlinesAcrossChunkBoundariesReadAsInText) {
    testsupport::TempDir dir;
    for (size_t pad : {65533u, 65534u, 65535u, 65536u, 131070u}) {
        for (const std::string newline : {"\xE2\x80\xA8", "\xC2\x85", "\r\n"}) {
            SCOPED_TRACE(pad);
            std::string text = "#" + std::string(pad - 1, 'c') + newline + "LUT_3D_SIZE 2" + newline;
            for (int i = 0; i < 8; ++i) text += "0.5 0.25 0.125" + newline;
            const auto fromFile = ColorLUT::load(writeText(dir.path() / "split.cube", text));
            ASSERT_TRUE(fromFile) << fromFile.error().userMessage();
            const auto fromText = ColorLUT::parseCube(text, fromFile->id, fromFile->name);
            ASSERT_TRUE(fromText);
            EXPECT_EQ(fromFile->rgba, fromText->rgba);
            EXPECT_EQ(fromFile->dimension, 2);
        }
    }
}

// A WebP header whose bytes 128–131 spell "DICM": OpenCV hands such input to
// its DICOM decoder, which aborts the process on damaged data. The look must
// fail alone.
TEST(ColorLutBoundsTest, APictureCarryingTheDicomMarkIsRefusedNotDecoded) {
    std::vector<uint8_t> webp = {'R', 'I', 'F', 'F', 0x7F, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L',
                                 0x27, 0x08, 0x66, 0x00, 0x2F, 0x07, 0x00, 0x00, 0x00};
    webp.resize(128, 0);
    webp.insert(webp.end(), {'D', 'I', 'C', 'M', '<', 0, '3', 0});
    const auto lut = ColorLUT::decodeImage(webp, "/looks/odd.webp", "odd");
    ASSERT_FALSE(lut);
    EXPECT_EQ(lut.error().kind, Error::Kind::unreadable);
}

TEST(ColorLutBoundsTest, APictureIsJudgedByItsHeaderBeforeDecoding) {
    // A TIFF header for the largest strip (4096 × 4096): its samples may be
    // doubles, 512 MB decoded, more than one look may take.
    std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0};
    auto entry = [&](uint16_t tag, uint32_t value) {
        const uint8_t bytes[12] = {static_cast<uint8_t>(tag), static_cast<uint8_t>(tag >> 8), 4, 0, 1, 0, 0, 0,
                                   static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                   static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        tiff.insert(tiff.end(), bytes, bytes + 12);
    };
    entry(256, 4096);
    entry(257, 4096);
    const auto lut = ColorLUT::decodeImage(tiff, "/looks/big.tif", "big");
    ASSERT_FALSE(lut);
    EXPECT_EQ(lut.error().kind, Error::Kind::tooCostly);
    EXPECT_GT(lut.error().found, ColorLUT::kMaxLoadCostBytes);
}

#ifndef HK_SANITIZED_BUILD
// The largest picture look (4096 × 4096 at 16 bits) under an address-space
// limit too small for its table: the look fails with a reason, the process
// goes on. Sanitizers reserve address space of their own, so this runs in
// plain builds only.
TEST(ColorLutBoundsTest, RunningOutOfMemoryFailsTheLookNotTheProcess) {
    testsupport::TempDir dir;
    const std::string path = (dir.path() / "hald.png").string();
    ASSERT_TRUE(cv::imwrite(path, cv::Mat(4096, 4096, CV_16UC4, cv::Scalar(0, 0, 0, 65535))));
    const auto outcome = runInChild(
        [&] {
            rlimit limit{};
            ::getrlimit(RLIMIT_AS, &limit);
            std::ifstream status("/proc/self/statm");
            long pages = 0;
            status >> pages;
            limit.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) +
                             (rlim_t{200} << 20);
            if (::setrlimit(RLIMIT_AS, &limit) != 0) return 3;
            const auto lut = ColorLUT::load(path);
            return lut ? 1 : 0;
        },
        kTimeLimit);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
}
#endif

}  // namespace
}  // namespace hollowkit
