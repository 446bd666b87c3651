#include "hollowkit/camera/pocket_model.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

TEST(PocketModelTest, ModelFromDeviceName) {
    struct Case {
        const char* name;
        std::optional<PocketModel> model;
    };
    const Case cases[] = {
        {"Osmo Pocket 4 Pro", PocketModel::pocket4Pro},
        {"OSMO POCKET 3", PocketModel::pocket3},
        {"Osmo Pocket 4", PocketModel::pocket4},
        {"OsmoPocket4-1A2B", PocketModel::pocket4},
        // The Pro's name contains the plain 4's; the longer match wins.
        {"pocket4pro", PocketModel::pocket4Pro},
        {"P o c k e t 3", PocketModel::pocket3},
        {"Osmo Pocket 2", std::nullopt},
        {"Osmo Action 4", std::nullopt},
        {"Pocket\t3", std::nullopt},  // only spaces are removed
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pocketModelFromName(c.name), c.model) << '"' << c.name << '"';
    }
}

TEST(PocketModelTest, ZoomRangeOfEachModel) {
    EXPECT_EQ(zoomRange(PocketModel::pocket4Pro), (ZoomRange{100, 300}));
    EXPECT_EQ(zoomRange(PocketModel::pocket4), (ZoomRange{100, 400}));
    EXPECT_EQ(zoomRange(PocketModel::pocket3), (ZoomRange{100, 400}));
}

}  // namespace
}  // namespace hollowkit
