// The tolerance the live references are judged with: what must pass (the
// same picture, faint noise everywhere, a few scattered pixels off as
// hinting leaves them) and what must fail (a control recoloured, moved or
// gone, another size).

#include "tests/journeys/live_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace lumenhollow::journey {
namespace {

constexpr int kLiveWidth = 400;
constexpr int kLiveHeight = 300;

// A gradient with a white 40 x 24 "control" at (x, y).
ScreenPicture liveScene(int controlX, int controlY, uint32_t controlColour = 0xFFFFFF) {
    ScreenPicture picture;
    picture.width = kLiveWidth;
    picture.height = kLiveHeight;
    for (int y = 0; y < kLiveHeight; ++y) {
        for (int x = 0; x < kLiveWidth; ++x) {
            const bool control = x >= controlX && x < controlX + 40 && y >= controlY && y < controlY + 24;
            const uint32_t shade = static_cast<uint32_t>(x * 255 / kLiveWidth);
            picture.pixels.push_back(control ? controlColour : (shade << 16) | (40u << 8) | 90u);
        }
    }
    return picture;
}

TEST(LivePicturesTest, NoiseAndHintingPassAChangedControlFails) {
    const ScreenPicture reference = liveScene(100, 100);
    struct Case {
        const char* name;
        std::function<ScreenPicture()> actual;
        bool passes;
    };
    const std::vector<Case> cases{
        {"the same picture", [&] { return reference; }, true},
        {"every pixel a little off",
         [&] {
             ScreenPicture p = reference;
             for (uint32_t& pixel : p.pixels) pixel ^= 0x0F0F0F;
             return p;
         },
         true},
        {"glyph edges off here and there",
         [&] {
             ScreenPicture p = reference;
             for (size_t i = 0; i < p.pixels.size(); i += 4001) p.pixels[i] ^= 0xFFFFFF;
             return p;
         },
         true},
        {"the control recoloured", [&] { return liveScene(100, 100, 0xF2462F); }, false},
        {"the control moved by 6 pixels", [&] { return liveScene(106, 100); }, false},
        {"the control gone", [&] { return liveScene(-100, -100); }, false},
        {"one solid 12 x 12 patch", [&] {
             ScreenPicture p = reference;
             for (int y = 200; y < 212; ++y)
                 for (int x = 300; x < 312; ++x) p.pixels[static_cast<size_t>(y * kLiveWidth + x)] = 0xFFFF00;
             return p;
         },
         false},
        {"another size", [&] { return cropPicture(reference, {0, 0, kLiveWidth, kLiveHeight - 1}); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PictureVerdict verdict = comparePictures(c.actual(), reference);
        EXPECT_EQ(verdict.passes, c.passes) << "share " << verdict.share << ", worst tile " << verdict.worstTile;
        if (verdict.sameSize) {
            // The diff marks exactly the differing pixels.
            const auto red = std::count(verdict.diff.pixels.begin(), verdict.diff.pixels.end(), 0xFF0000u);
            EXPECT_EQ(static_cast<size_t>(red), verdict.differing);
        }
    }
}

TEST(LivePicturesTest, APictureSurvivesThePngRoundTripAndACrop) {
    const ScreenPicture reference = liveScene(100, 100);
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "lumenhollow-live-pictures-test.png";
    ASSERT_TRUE(savePicture(reference, path));
    const std::optional<ScreenPicture> read = loadPicture(path);
    std::filesystem::remove(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->pixels, reference.pixels);
    const ScreenPicture cut = cropPicture(reference, {95, 98, 50, 30});
    ASSERT_EQ(cut.width, 50);
    ASSERT_EQ(cut.height, 30);
    EXPECT_EQ(cut.at(5, 2), 0xFFFFFFu);
    EXPECT_EQ(cut.at(0, 0), reference.at(95, 98));
    EXPECT_EQ(cropPicture(reference, {390, 290, 50, 50}).width, 10) << "clipped to the picture";
}

}  // namespace
}  // namespace lumenhollow::journey
