#include "hollowkit/camera/camera_setting.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace hollowkit {
namespace {

template <typename E>
void expectCodes(const std::vector<std::pair<int, const char*>>& table) {
    const auto cases = allCases<E>();
    ASSERT_EQ(cases.size(), table.size());
    std::set<int> codes;
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(rawValue(cases[i]), table[i].first) << i;
        EXPECT_EQ(title(cases[i]), table[i].second) << i;
        codes.insert(table[i].first);
    }
    // Every code maps back to its case; every other code yields nothing.
    for (int raw = 0; raw < 256; ++raw) {
        const auto value = fromRawValue<E>(static_cast<uint8_t>(raw));
        EXPECT_EQ(value.has_value(), codes.count(raw) == 1) << raw;
        if (value) {
            EXPECT_EQ(rawValue(*value), raw);
        }
    }
}

TEST(CameraSettingTest, EnumerationCodesTitlesAndOrder) {
    expectCodes<CameraResolution>({{0x0A, "1080p"}, {0x2D, "2.7K"}, {0x10, "4K"}, {0x42, "1080p 9:16"},
                                   {0x43, "2.7K 9:16"}, {0x6C, "3K 9:16"}});
    expectCodes<CameraFrameRate>(
        {{1, "24 FPS"}, {2, "25 FPS"}, {3, "30 FPS"}, {4, "48 FPS"}, {5, "50 FPS"}, {6, "60 FPS"}});
    expectCodes<ColorProfile>(
        {{0x3F, "Normal"}, {0x17, "D-Log (10-bit)"}, {0x41, "D-Log 2 (10-bit)"}, {0x3C, "HDR (10-bit)"}});
    expectCodes<ExposureMode>({{1, "Auto"}, {4, "Manual"}});
    expectCodes<CameraISO>({{0, "Auto"}, {2, "50"}, {3, "100"}, {4, "200"}, {5, "400"}, {6, "800"},
                            {7, "1600"}, {8, "3200"}, {9, "6400"}});
    EXPECT_FALSE(fromRawValue<CameraISO>(1));
    EXPECT_FALSE(fromRawValue<CameraFrameRate>(0));
    EXPECT_FALSE(fromRawValue<ExposureMode>(2));
}

}  // namespace
}  // namespace hollowkit
