#include "hollowkit/imaging/lut_library.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace hollowkit {
namespace {

using Entry = std::array<float, 4>;

Entry entry(const ColorLUT& lut, size_t index) {
    const float* e = &lut.rgba[4 * index];
    return {e[0], e[1], e[2], e[3]};
}

void expectNear(const Entry& actual, const Entry& expected) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(actual[c], expected[c], 2e-6f) << "channel " << c;
}

TEST(LutLibraryTest, SixLooksInOrder) {
    const auto& looks = LUTLibrary::builtIn();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"builtin.warm", "Warm"},        {"builtin.cool", "Cool"},
        {"builtin.teal-orange", "Teal & Orange"}, {"builtin.mono", "Mono"},
        {"builtin.film", "Faded Film"},  {"builtin.vivid", "Vivid"},
    };
    ASSERT_EQ(looks.size(), expected.size());
    for (size_t i = 0; i < looks.size(); ++i) {
        EXPECT_EQ(looks[i].id, expected[i].first);
        EXPECT_EQ(looks[i].name, expected[i].second);
        EXPECT_EQ(looks[i].dimension, 33);
        EXPECT_EQ(looks[i].rgba.size(), 143748u);
        for (size_t k = 0; k < looks[i].rgba.size(); ++k) {
            const float v = looks[i].rgba[k];
            if (k % 4 == 3) {
                ASSERT_EQ(v, 1.0f);
            } else {
                ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << looks[i].id << " " << k;
            }
        }
        EXPECT_EQ(LUTLibrary::builtInLook(looks[i].id), &looks[i]);
    }
    EXPECT_EQ(LUTLibrary::builtInLook("builtin.sepia"), nullptr);
}

TEST(LutLibraryTest, WarmEndsExactly) {
    const ColorLUT& warm = LUTLibrary::builtIn()[0];
    EXPECT_EQ(entry(warm, 0), (Entry{0.02f, 0.0f, 0.0f, 1.0f}));
    EXPECT_EQ(entry(warm, 33 * 33 * 33 - 1), (Entry{1.0f, 1.0f, 0.9f, 1.0f}));
}

// First (black) and last (white) entries of every look, worked out by hand
// from the formulas; a luminance of white is 1 (to float rounding).
TEST(LutLibraryTest, FirstAndLastEntriesFollowTheFormulas) {
    struct Case {
        const char* id;
        Entry first, last;
    };
    const Case cases[] = {
        {"builtin.cool", {0, 0, 0.02f, 1}, {0.92f, 1, 1, 1}},
        {"builtin.teal-orange", {0, 0.01f, 0.07f, 1}, {1, 1, 0.92f, 1}},
        {"builtin.mono", {0, 0, 0, 1}, {1, 1, 1, 1}},
        {"builtin.film", {0.06f, 0.06f, 0.06f, 1}, {0.9576f, 0.94f, 0.9048f, 1}},
        {"builtin.vivid", {0, 0, 0, 1}, {1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const ColorLUT* lut = LUTLibrary::builtInLook(c.id);
        ASSERT_NE(lut, nullptr);
        expectNear(entry(*lut, 0), c.first);
        expectNear(entry(*lut, 33 * 33 * 33 - 1), c.last);
    }
}

// A mid point checks the index order (red fastest) and the scaling by 1/32.
TEST(LutLibraryTest, GridCoordinatesAreIndexOver32) {
    const ColorLUT& cool = *LUTLibrary::builtInLook("builtin.cool");
    // r = 16 (0.5), g = 8 (0.25), b = 4 (0.125).
    expectNear(entry(cool, 16 + 8 * 33 + 4 * 33 * 33),
               {0.5f * 0.92f, 0.25f, 0.125f * 1.08f + 0.02f, 1.0f});
    const ColorLUT& mono = *LUTLibrary::builtInLook("builtin.mono");
    const float l = (0.5f * 0.2126f + 0.25f * 0.7152f) + 0.125f * 0.0722f;
    const float grey = ((l - 0.5f) * 1.12f) + 0.5f;
    expectNear(entry(mono, 16 + 8 * 33 + 4 * 33 * 33), {grey, grey, grey, 1.0f});
}

}  // namespace
}  // namespace hollowkit
