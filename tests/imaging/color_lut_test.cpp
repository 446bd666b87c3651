#include "hollowkit/imaging/color_lut.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "hollowkit/testing/test_support.h"
#include "lut_test_support.h"

namespace hollowkit {
namespace {

using Error = ColorLUT::LoadError;

// `count` data lines of a red-fastest identity-like ramp for size 2.
std::string dataLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += std::to_string(i % 2) + " " + std::to_string((i / 2) % 2) + " " +
                std::to_string((i / 4) % 2) + "\n";
    }
    return text;
}

TEST(ColorLutTest, ErrorTexts) {
    EXPECT_EQ(Error::wrongEntryCount(8, 7).userMessage(), "Expected 8 LUT entries, found 7");
    EXPECT_EQ(Error::unsupportedImageLayout(100, 100).userMessage(),
              "Unsupported PNG LUT layout 100x100");
    EXPECT_EQ(Error::unreadable().userMessage(), "The LUT file could not be read");
    EXPECT_EQ(Error::missingSize().userMessage(), "The .cube file has no LUT_3D_SIZE line");
    EXPECT_EQ(Error::wrongEntryCount(16777216, 0).userMessage(),
              "Expected 16777216 LUT entries, found 0");
    EXPECT_EQ(Error::malformedKeyword("DOMAIN_MIN", 3).userMessage(),
              "The .cube file's DOMAIN_MIN line must hold 3 finite numbers");
    EXPECT_EQ(Error::malformedKeyword("LUT_3D_INPUT_RANGE", 2).userMessage(),
              "The .cube file's LUT_3D_INPUT_RANGE line must hold 2 finite numbers");
    EXPECT_EQ(Error::emptyDomain().userMessage(),
              "The .cube file's input range is empty: each minimum must be below its maximum");
    EXPECT_EQ(Error::oneDimensional().userMessage(),
              "1D LUTs (LUT_1D_SIZE) are not supported: use a 3D .cube file");
    EXPECT_EQ(Error::sizeOutOfRange("100000").userMessage(),
              "The .cube file's LUT_3D_SIZE is 100000: it must be from 2 to 256");
    EXPECT_EQ(Error::nonFiniteEntry(3).userMessage(), "The .cube file's entry 3 is not a finite number");
    EXPECT_EQ(Error::overBudget(int64_t{256} << 20, int64_t{100} << 20).userMessage(),
              "The LUT's table would take 256 MB of memory; at most 100 MB is allowed");
    // What is left of a shared budget is often below a megabyte.
    EXPECT_EQ(Error::overBudget(33 * 33 * 33 * 16, 400000).userMessage(),
              "The LUT's table would take 561 KB of memory; at most 390 KB is allowed");
    EXPECT_EQ(Error::tooCostly((int64_t{384} << 20) + 4096, int64_t{384} << 20).userMessage(),
              "The LUT picture would take 402657280 bytes of memory to read; at most 402653184 bytes is allowed");
}

// A caller's memory allowance refuses a table at its size line, before any
// entry (a picture: at its header, before decoding); a table within it loads.
TEST(ColorLutTest, ATableOverTheMemoryAllowedIsRefusedWhereItsSizeIsKnown) {
    const int64_t table3 = 27 * 16;
    struct Case {
        const char* label;
        std::string text;
        int64_t allowed;
        Result<int, Error> expected;
    };
    const std::vector<Case> cases = {
        {"exactly the allowance", "LUT_3D_SIZE 3\n" + dataLines(27), table3, 3},
        {"one byte over", "LUT_3D_SIZE 3\n" + dataLines(27), table3 - 1,
         unexpected(Error::overBudget(table3, table3 - 1))},
        // What follows would refuse the file otherwise: it is never read.
        {"refused before the next line", "LUT_3D_SIZE 3\nLUT_1D_SIZE 2\n0 nan 0\n", table3 - 1,
         unexpected(Error::overBudget(table3, table3 - 1))},
        {"a size over it, replaced later, is still refused", "LUT_3D_SIZE 3\n" + dataLines(8) + "LUT_3D_SIZE 2\n",
         table3 - 1, unexpected(Error::overBudget(table3, table3 - 1))},
        {"entries past the allowance are counted", "LUT_3D_SIZE 2\n" + dataLines(100), 8 * 16,
         unexpected(Error::wrongEntryCount(8, 100))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ColorLUT::LoadOptions options;
        options.maxTableBytes = c.allowed;
        const auto result = ColorLUT::parseCube(c.text, "/looks/x.cube", "x", options);
        ASSERT_EQ(result.has_value(), c.expected.has_value()) << (result ? "loaded" : result.error().userMessage());
        if (result) {
            EXPECT_EQ(result->dimension, c.expected.value());
        } else {
            EXPECT_EQ(result.error(), c.expected.error());
        }
    }

    // A 64 × 64 picture holds 16 points: 64 KB of table.
    cv::Mat image(64, 64, CV_8UC3, cv::Scalar(10, 20, 30));
    std::vector<uint8_t> png;
    ASSERT_TRUE(cv::imencode(".png", image, png));
    ColorLUT::LoadOptions options;
    options.maxTableBytes = 16 * 16 * 16 * 16;
    EXPECT_TRUE(ColorLUT::decodeImage(png, "/looks/x.png", "x", options));
    options.maxTableBytes -= 1;
    const auto refused = ColorLUT::decodeImage(png, "/looks/x.png", "x", options);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), Error::overBudget(16 * 16 * 16 * 16, options.maxTableBytes));
}

struct CubeCase {
    const char* label;
    std::string text;
    Result<int, Error> expected;  // the dimension, or the error
};

TEST(ColorLutTest, ParsesAndRefusesCubeText) {
    const std::string eight = dataLines(8);
    const std::vector<CubeCase> cases = {
        {"plain", "LUT_3D_SIZE 2\n" + eight, 2},
        {"empty text", "", unexpected(Error::missingSize())},
        {"only newlines", "\n\r\n\n", unexpected(Error::missingSize())},
        {"only comments", "# a look\n#LUT_3D_SIZE 2\n", unexpected(Error::missingSize())},
        {"no size line", eight, unexpected(Error::missingSize())},
        {"size not an integer", "LUT_3D_SIZE 2.0\n" + eight, unexpected(Error::missingSize())},
        {"size without number", "LUT_3D_SIZE\n" + eight, unexpected(Error::missingSize())},
        {"seven lines", "LUT_3D_SIZE 2\n" + dataLines(7), unexpected(Error::wrongEntryCount(8, 7))},
        {"nine lines", "LUT_3D_SIZE 2\n" + dataLines(9), unexpected(Error::wrongEntryCount(8, 9))},
        {"CR LF, blanks and blank lines",
         "TITLE \"x\"\r\n\r\n  \tLUT_3D_SIZE 2 \t\r\n\r\n" + std::string("  0 0 0\t \r\n") +
             dataLines(7),
         2},
        {"other newline characters",
         "LUT_3D_SIZE 2\v0 0 0\f1 0 0\xC2\x85" "0 1 0\xE2\x80\xA8" "1 1 0\xE2\x80\xA9" +
             dataLines(8).substr(24),
         2},
        {"tab after keyword", "LUT_3D_SIZE\t2\n" + eight, unexpected(Error::missingSize())},
        {"tab, then a proper size line", "LUT_3D_SIZE\t2\nLUT_3D_SIZE 2\n" + eight, 2},
        {"later size replaces earlier", "LUT_3D_SIZE 3\n" + eight + "LUT_3D_SIZE 2\n", 2},
        {"bad later size unsets", "LUT_3D_SIZE 2\nLUT_3D_SIZE two\n" + eight,
         unexpected(Error::missingSize())},
        {"signed size", "LUT_3D_SIZE +2\n" + eight, 2},
        {"ignored lines",
         "LUT_3D_SIZE 2\nDOMAIN_MIN 0 0 0\n0.1 0.2 0.3 0.4\n0.5 0.5 word\n+0.5 0.5 0.5\n" + eight,
         2},
        // Integer sizes that cannot make a table say so, however many
        // entries follow; a later usable size still replaces them.
        {"size 0, no data", "LUT_3D_SIZE 0\n", unexpected(Error::sizeOutOfRange("0"))},
        {"size 1, one entry", "LUT_3D_SIZE 1\n0.5 0.5 0.5\n", unexpected(Error::sizeOutOfRange("1"))},
        {"negative size", "LUT_3D_SIZE -2\n" + eight, unexpected(Error::sizeOutOfRange("-2"))},
        {"size 257", "LUT_3D_SIZE 257\n", unexpected(Error::sizeOutOfRange("257"))},
        {"size 100000", "LUT_3D_SIZE 100000\n" + eight, unexpected(Error::sizeOutOfRange("100000"))},
        {"cube beyond 64 bits", "LUT_3D_SIZE 2097152\n", unexpected(Error::sizeOutOfRange("2097152"))},
        {"size beyond any integer", "LUT_3D_SIZE 99999999999999999999999\n" + eight,
         unexpected(Error::sizeOutOfRange("99999999999999999999999"))},
        {"a size out of range, then a usable one", "LUT_3D_SIZE 100000\n" + eight + "LUT_3D_SIZE 2\n", 2},
        {"a usable size, then one out of range", "LUT_3D_SIZE 2\n" + eight + "LUT_3D_SIZE -2\n",
         unexpected(Error::sizeOutOfRange("-2"))},
        // A non-finite entry refuses the file, naming the entry.
        {"NaN entry", "LUT_3D_SIZE 2\n0 nan 0\n" + dataLines(7), unexpected(Error::nonFiniteEntry(1))},
        {"infinite entry", "LUT_3D_SIZE 2\n" + dataLines(3) + "0 0 -inf\n" + dataLines(4),
         unexpected(Error::nonFiniteEntry(4))},
        {"entry beyond float", "LUT_3D_SIZE 2\n1e39 0 0\n" + dataLines(7), unexpected(Error::nonFiniteEntry(1))},
        {"entry beyond double", "LUT_3D_SIZE 2\n" + dataLines(7) + "1e999999 0 0\n",
         unexpected(Error::nonFiniteEntry(8))},
        // A line beginning with a letter is no entry, whatever it reads as.
        {"a line beginning with inf", "LUT_3D_SIZE 2\ninf 0 0\n" + dataLines(7),
         unexpected(Error::wrongEntryCount(8, 7))},
        {"truncated 33-point file", "LUT_3D_SIZE 33\n" + dataLines(1000),
         unexpected(Error::wrongEntryCount(35937, 1000))},
        // Entries past the declared table are counted, not a reason to stop:
        // a later size line may still make them a table.
        {"a thousand entries for a table of eight", "LUT_3D_SIZE 2\n" + dataLines(1000),
         unexpected(Error::wrongEntryCount(8, 1000))},
        {"a larger size after more entries", "LUT_3D_SIZE 2\n" + dataLines(27) + "LUT_3D_SIZE 3\n", 3},
        {"a smaller size after more entries", "LUT_3D_SIZE 3\n" + dataLines(20) + "LUT_3D_SIZE 2\n" + dataLines(20),
         unexpected(Error::wrongEntryCount(8, 40))},
        {"a smaller size, then the right one again",
         "LUT_3D_SIZE 3\n" + dataLines(20) + "LUT_3D_SIZE 2\n" + dataLines(7) + "LUT_3D_SIZE 3\n", 3},
        {"cut inside the last line", "LUT_3D_SIZE 2\n" + eight.substr(0, eight.size() - 3),
         unexpected(Error::wrongEntryCount(8, 7))},
        // Keyword lines that are not data, whatever numbers they carry.
        {"title with three numbers", "TITLE \"1 2 3\"\nTITLE 0.1 0.2 0.3\nLUT_3D_SIZE 2\n" + eight, 2},
        {"input ranges", "DOMAIN_MIN 0 0 0\nDOMAIN_MAX\t2 2 2\nLUT_3D_INPUT_RANGE 0 1\nLUT_3D_SIZE 2\n" + eight, 2},
        {"1D range without a 1D table", "LUT_1D_INPUT_RANGE 0 2\nLUT_3D_SIZE 2\n" + eight, 2},
        // Input ranges that cannot be honoured refuse the file.
        {"DOMAIN_MIN with two values", "DOMAIN_MIN 0 0\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::malformedKeyword("DOMAIN_MIN", 3))},
        {"DOMAIN_MAX with four values", "DOMAIN_MAX 1 1 1 1\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::malformedKeyword("DOMAIN_MAX", 3))},
        {"DOMAIN_MAX with a word", "DOMAIN_MAX 1 one 1\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::malformedKeyword("DOMAIN_MAX", 3))},
        {"DOMAIN_MIN not finite", "DOMAIN_MIN 0 nan 0\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::malformedKeyword("DOMAIN_MIN", 3))},
        {"DOMAIN_MAX beyond float", "DOMAIN_MAX 1 1 1e39\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::malformedKeyword("DOMAIN_MAX", 3))},
        {"input range with one value", "LUT_3D_INPUT_RANGE 2\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::malformedKeyword("LUT_3D_INPUT_RANGE", 2))},
        {"minimum equal to maximum", "DOMAIN_MIN 0 1 0\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::emptyDomain())},
        {"minimum above maximum", "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 -1\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::emptyDomain())},
        {"reversed input range", "LUT_3D_INPUT_RANGE 1 0\nLUT_3D_SIZE 2\n" + eight,
         unexpected(Error::emptyDomain())},
        {"a bad range mended by a later line",
         "DOMAIN_MAX 0 0 0\nLUT_3D_SIZE 2\n" + eight + "DOMAIN_MAX 1 1 1\n", 2},
        {"1D table", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n", unexpected(Error::oneDimensional())},
        {"1D shaper before the cube", "LUT_1D_SIZE 2\nLUT_3D_SIZE 2\n0 0 0\n1 1 1\n" + eight,
         unexpected(Error::oneDimensional())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto result = ColorLUT::parseCube(c.text, "/looks/x.cube", "x");
        ASSERT_EQ(result.has_value(), c.expected.has_value())
            << (result ? "loaded" : result.error().userMessage());
        if (result) {
            const auto n = static_cast<size_t>(c.expected.value());
            EXPECT_EQ(result->dimension, c.expected.value());
            EXPECT_EQ(result->rgba.size(), n * n * n * 4);
        } else {
            EXPECT_EQ(result.error(), c.expected.error());
        }
    }
}

TEST(ColorLutTest, ReadsTheInputRange) {
    using Axes = std::array<float, 3>;
    struct Case {
        const char* label;
        std::string header;
        Axes min, max;
    };
    const std::vector<Case> cases = {
        {"none given", "", {0, 0, 0}, {1, 1, 1}},
        {"DOMAIN lines", "DOMAIN_MIN -0.5 0 0.25\nDOMAIN_MAX 1.5 2 0.75\n", {-0.5f, 0, 0.25f}, {1.5f, 2, 0.75f}},
        {"only DOMAIN_MAX", "DOMAIN_MAX 4 4 4\n", {0, 0, 0}, {4, 4, 4}},
        {"LUT_3D_INPUT_RANGE", "LUT_3D_INPUT_RANGE -1 3\n", {-1, -1, -1}, {3, 3, 3}},
        {"a later line replaces an earlier one", "LUT_3D_INPUT_RANGE 0 8\nDOMAIN_MAX 2 2 2\n", {0, 0, 0}, {2, 2, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto lut = ColorLUT::parseCube(c.header + "LUT_3D_SIZE 2\n" + dataLines(8), "/x.cube", "x");
        ASSERT_TRUE(lut.has_value()) << lut.error().userMessage();
        EXPECT_EQ(lut->domainMin, c.min);
        EXPECT_EQ(lut->domainMax, c.max);
    }
}

// A number too small for a float or even a double is a finite number near 0
// and reads as the nearest value held (0 or a subnormal, keeping its sign);
// one too large is refused, in an entry and in an input range alike.
TEST(ColorLutTest, ReadsNumbersBeyondRangeAsTheNearestFiniteValueOrRefusesThem) {
    constexpr float kRefused = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* written;
        float expected;  // kRefused: the file is refused
    };
    const std::vector<Case> cases = {
        {"1e-400", 0.0f},
        {"-1e-400", -0.0f},
        {"2.4e-324", 0.0f},  // below half the smallest double subnormal
        {"4.9e-324", 0.0f},  // the smallest double subnormal, below any float
        {"1e-310", 0.0f},
        {"100000e-330", 0.0f},
        {"0.0000000001e-320", 0.0f},
        {"1e-99999999999999999999", 0.0f},
        {"0e999999", 0.0f},
        {"-0e-999999", -0.0f},
        {"1e-40", 1e-40f},  // a float subnormal
        {"-1.4e-45", -std::numeric_limits<float>::denorm_min()},
        {"1e-46", 0.0f},
        {"1e400", kRefused},
        {"-1e400", kRefused},
        {"1.8e308", kRefused},
        {"1e999999", kRefused},
        {"1e99999999999999999999", kRefused},
        {"0.0000000001e320", kRefused},
        {"1e39", kRefused},  // a double, but beyond float
    };
    const std::string rest = dataLines(8).substr(dataLines(1).size());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        const bool refused = std::isnan(c.expected);
        const std::string written = c.written;
        const auto entry = ColorLUT::parseCube("LUT_3D_SIZE 2\n" + written + " 0 0\n" + rest, "/x.cube", "x");
        const auto low =
            ColorLUT::parseCube("DOMAIN_MIN " + written + " 0 0\nLUT_3D_SIZE 2\n" + dataLines(8), "/x.cube", "x");
        const auto high = ColorLUT::parseCube(
            "DOMAIN_MIN -1 -1 -1\nDOMAIN_MAX 1 1 " + written + "\nLUT_3D_SIZE 2\n" + dataLines(8),
            "/x.cube", "x");
        if (refused) {
            ASSERT_FALSE(entry.has_value()) << entry->rgba[0];
            ASSERT_FALSE(low.has_value()) << low->domainMin[0];
            ASSERT_FALSE(high.has_value()) << high->domainMax[2];
            EXPECT_EQ(entry.error(), Error::nonFiniteEntry(1));
            EXPECT_EQ(low.error(), Error::malformedKeyword("DOMAIN_MIN", 3));
            EXPECT_EQ(high.error(), Error::malformedKeyword("DOMAIN_MAX", 3));
            continue;
        }
        ASSERT_TRUE(entry.has_value()) << entry.error().userMessage();
        ASSERT_TRUE(low.has_value()) << low.error().userMessage();
        ASSERT_TRUE(high.has_value()) << high.error().userMessage();
        // Compared bit for bit, so the sign of a zero counts.
        const auto bits = [](float value) { return std::bit_cast<uint32_t>(value); };
        EXPECT_EQ(bits(entry->rgba[0]), bits(c.expected)) << entry->rgba[0];
        EXPECT_EQ(bits(low->domainMin[0]), bits(c.expected)) << low->domainMin[0];
        EXPECT_EQ(bits(high->domainMax[2]), bits(c.expected)) << high->domainMax[2];
    }
}

TEST(ColorLutTest, KeepsEntriesInFileOrderAsRead) {
    const std::string text =
        "LUT_3D_SIZE 2\n"
        "0.5 x 0.25 0.75\n"  // the word is skipped: still an entry
        "-0.25 1.5 .5\n"     // values are not clamped
        "1e-1 0.2 0.3\n" +
        dataLines(5);
    const auto lut = ColorLUT::parseCube(text, "/a/b.cube", "b");
    ASSERT_TRUE(lut.has_value());
    const std::vector<float> firstThree = {0.5f, 0.25f, 0.75f, 1.0f, -0.25f, 1.5f, 0.5f, 1.0f,
                                           0.1f, 0.2f,  0.3f,  1.0f};
    EXPECT_EQ(std::vector<float>(lut->rgba.begin(), lut->rgba.begin() + 12), firstThree);
    EXPECT_EQ(lut->id, "/a/b.cube");
    EXPECT_EQ(lut->name, "b");
}

class ColorLutFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& content) {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string writeImage(const std::string& name, const cv::Mat& image,
                           const std::string& codec = ".png") {
        std::vector<uint8_t> encoded;
        cv::imencode(codec, image, encoded);
        return write(name, std::string(encoded.begin(), encoded.end()));
    }

    testsupport::TempDir temp_;
    const std::filesystem::path dir_ = temp_.path();
};

// A picture whose pixel for grid point (r, g, b) holds those indices scaled
// into bytes, laid out as tiles or as a strip.
cv::Mat gridImage(int n, int tilesPerRow) {
    const int tileRows = n / tilesPerRow;
    cv::Mat image(tileRows * n, tilesPerRow * n, CV_8UC3);
    const int scale = 255 / (n - 1);
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const int x = (b % tilesPerRow) * n + r;
                const int y = (b / tilesPerRow) * n + g;
                image.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uint8_t>(b * scale),
                                                      static_cast<uint8_t>(g * scale),
                                                      static_cast<uint8_t>(r * scale));
            }
        }
    }
    return image;
}

cv::Mat stripImage(int n, int width) {
    const int pixels = n * n * n;
    cv::Mat image(pixels / width, width, CV_8UC3);
    const int scale = 255 / (n - 1);
    for (int i = 0; i < pixels; ++i) {
        const int r = i % n, g = (i / n) % n, b = i / (n * n);
        image.at<cv::Vec3b>(i / width, i % width) = cv::Vec3b(
            static_cast<uint8_t>(b * scale), static_cast<uint8_t>(g * scale),
            static_cast<uint8_t>(r * scale));
    }
    return image;
}

// Every entry holds its own grid indices (scaled as the images above).
void expectIndexedEntries(const ColorLUT& lut) {
    const int n = lut.dimension;
    const float scale = static_cast<float>(255 / (n - 1)) / 255.0f;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const float* e = &lut.rgba[4 * static_cast<size_t>(r + g * n + b * n * n)];
                ASSERT_FLOAT_EQ(e[0], r * scale) << r << " " << g << " " << b;
                ASSERT_FLOAT_EQ(e[1], g * scale);
                ASSERT_FLOAT_EQ(e[2], b * scale);
                ASSERT_EQ(e[3], 1.0f);
            }
        }
    }
}

TEST_F(ColorLutFileTest, ChoosesTheReaderByExtension) {
    const std::string cube = "LUT_3D_SIZE 2\n" + dataLines(8);
    for (const char* name : {"a.cube", "b.CUBE", "c.Cube"}) {
        const auto lut = ColorLUT::load(write(name, cube));
        ASSERT_TRUE(lut.has_value()) << name;
        EXPECT_EQ(lut->dimension, 2);
    }
    // Cube text under an image name is read as an image, and is none.
    for (const char* name : {"d.png", "e.jpg", "f"}) {
        const auto lut = ColorLUT::load(write(name, cube));
        ASSERT_FALSE(lut.has_value()) << name;
        EXPECT_EQ(lut.error(), Error::unreadable());
    }
    // A picture without an extension is read as one.
    const std::string path = writeImage("grid", gridImage(16, 4));
    const auto image = ColorLUT::load(path);
    ASSERT_TRUE(image.has_value()) << image.error().userMessage();
    EXPECT_EQ(image->id, path);
    EXPECT_EQ(image->name, "grid");
}

TEST_F(ColorLutFileTest, NamesAndUnreadableFiles) {
    const std::string path = write("Kodak 2383.v2.cube", "LUT_3D_SIZE 2\n" + dataLines(8));
    const auto lut = ColorLUT::load(path);
    ASSERT_TRUE(lut.has_value());
    EXPECT_EQ(lut->id, path);
    EXPECT_EQ(lut->name, "Kodak 2383.v2");

    EXPECT_EQ(ColorLUT::load((dir_ / "missing.cube").string()).error(), Error::unreadable());
    EXPECT_EQ(ColorLUT::load(dir_.string()).error(), Error::refusedFile("is not a regular file"));
    const std::string notUtf8 = write("latin1.cube", "# caf\xE9\nLUT_3D_SIZE 2\n" + dataLines(8));
    EXPECT_EQ(ColorLUT::load(notUtf8).error(), Error::unreadable());
}

TEST_F(ColorLutFileTest, TablesFromTheSamePathAreEqual) {
    const std::string path = write("same.cube", "LUT_3D_SIZE 2\n" + dataLines(8));
    const auto first = ColorLUT::load(path);
    write("same.cube", "LUT_3D_SIZE 2\n" + std::string(8, '\n') + "1 1 1\n" + dataLines(7));
    const auto second = ColorLUT::load(path);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_NE(first->rgba, second->rgba);
    EXPECT_EQ(*first, *second);
    EXPECT_EQ(std::hash<ColorLUT>{}(*first), std::hash<ColorLUT>{}(*second));
    std::unordered_set<ColorLUT> set{*first, *second};
    EXPECT_EQ(set.size(), 1u);
}

TEST(ColorLutImageTest, LayoutBySize) {
    struct Case {
        int64_t width, height;
        int dimension;
    };
    const Case cases[] = {
        {64, 64, 16},    {256, 16, 16},  {16, 256, 16},      {256, 128, 32},
        {1024, 32, 32},  {512, 512, 64}, {33, 1089, 33},     {1089, 33, 33},
        {8, 1, 2},       {35937, 1, 33}, {4096, 4096, 256},  {100, 100, 0},
        {1, 1, 0},       {0, 0, 0},      {-64, -64, 0},      {30000, 30000, 0},
        {4294967295, 4294967295, 0},     {4113, 4113 * 4113, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ColorLUT::imageDimension(c.width, c.height), c.dimension)
            << c.width << "x" << c.height;
    }
}

TEST_F(ColorLutFileTest, ReadsTilesAndStrips) {
    struct Case {
        const char* name;
        cv::Mat image;
        int dimension;
    };
    const Case cases[] = {
        {"tiles16.png", gridImage(16, 4), 16},   // 64 × 64
        {"row16.png", gridImage(16, 16), 16},    // 256 × 16
        {"tiles32.png", gridImage(32, 8), 32},   // 256 × 128
        {"tiles64.png", gridImage(64, 8), 64},   // 512 × 512
        {"strip33.png", stripImage(33, 33), 33},  // 33 × 1089
        {"strip5.bmp", stripImage(5, 25), 5},    // 25 × 5, BMP
        {"strip3.tiff", stripImage(3, 27), 3},   // 27 × 1, TIFF
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        const auto lut = ColorLUT::load(writeImage(name, c.image, name.substr(name.rfind('.'))));
        ASSERT_TRUE(lut.has_value()) << lut.error().userMessage();
        EXPECT_EQ(lut->dimension, c.dimension);
        expectIndexedEntries(*lut);
    }
}

TEST_F(ColorLutFileTest, ReadsOtherPixelFormats) {
    // 16-bit samples come down to 8 bits.
    cv::Mat deep;
    gridImage(16, 4).convertTo(deep, CV_16U, 257.0);
    const auto fromDeep = ColorLUT::load(writeImage("deep.png", deep));
    ASSERT_TRUE(fromDeep.has_value());
    expectIndexedEntries(*fromDeep);

    // Alpha is premultiplied into the colour, as the table is drawn.
    cv::Mat alpha(1, 8, CV_8UC4, cv::Scalar(200, 100, 50, 128));
    const auto fromAlpha = ColorLUT::load(writeImage("alpha.png", alpha));
    ASSERT_TRUE(fromAlpha.has_value());
    EXPECT_FLOAT_EQ(fromAlpha->rgba[0], 25 / 255.0f);
    EXPECT_FLOAT_EQ(fromAlpha->rgba[1], 50 / 255.0f);
    EXPECT_FLOAT_EQ(fromAlpha->rgba[2], 100 / 255.0f);
    EXPECT_EQ(fromAlpha->rgba[3], 1.0f);

    // Grey and JPEG.
    cv::Mat grey(4, 2, CV_8UC1, cv::Scalar(51));
    const auto fromGrey = ColorLUT::load(writeImage("grey.png", grey));
    ASSERT_TRUE(fromGrey.has_value());
    EXPECT_EQ(fromGrey->dimension, 2);
    EXPECT_FLOAT_EQ(fromGrey->rgba[2], 0.2f);
    const auto fromJpeg = ColorLUT::load(writeImage("tiles.jpg", gridImage(16, 4), ".jpg"));
    ASSERT_TRUE(fromJpeg.has_value());
    EXPECT_EQ(fromJpeg->dimension, 16);
}

// A PNG signature and IHDR chunk for a picture of the given size, with no
// pixel data after it.
std::string pngHeader(uint32_t width, uint32_t height) {
    std::string bytes = "\x89PNG\r\n\x1A\n";
    bytes += std::string("\0\0\0\x0DIHDR", 8);
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(v >> shift);
    }
    bytes += std::string("\x08\x02\0\0\0\0\0\0\0", 9);
    return bytes;
}

TEST_F(ColorLutFileTest, RefusesBadPictures) {
    EXPECT_EQ(ColorLUT::load(writeImage("square.png", cv::Mat(100, 100, CV_8UC3))).error(),
              Error::unsupportedImageLayout(100, 100));
    EXPECT_EQ(ColorLUT::load(writeImage("dot.png", cv::Mat(1, 1, CV_8UC3))).error(),
              Error::unsupportedImageLayout(1, 1));
    // A header claiming a huge picture is refused before anything is decoded.
    EXPECT_EQ(ColorLUT::load(write("huge.png", pngHeader(30000, 30000))).error(),
              Error::unsupportedImageLayout(30000, 30000));
    EXPECT_EQ(ColorLUT::load(write("huge2.png", pngHeader(0xFFFFFFFF, 0xFFFFFFFF))).error(),
              Error::unsupportedImageLayout(0xFFFFFFFF, 0xFFFFFFFF));
    // A plausible size with the pixels missing.
    EXPECT_EQ(ColorLUT::load(write("empty.png", pngHeader(64, 64))).error(), Error::unreadable());
    std::vector<uint8_t> encoded;
    cv::imencode(".png", gridImage(64, 8), encoded);
    const std::string half(encoded.begin(), encoded.begin() + encoded.size() / 2);
    EXPECT_EQ(ColorLUT::load(write("half.png", half)).error(), Error::unreadable());
    EXPECT_EQ(ColorLUT::load(write("empty", "")).error(), Error::unreadable());
    EXPECT_EQ(ColorLUT::load(write("text.png", "not a picture")).error(), Error::unreadable());
}

}  // namespace
}  // namespace hollowkit
