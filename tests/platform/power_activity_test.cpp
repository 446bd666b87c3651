#include <gtest/gtest.h>

#include <utility>

#include "lumenhollow/testing/fake_power_assertion.h"

namespace lumenhollow {
namespace {

TEST(PowerActivityTest, EachActivityEndsExactlyOnceHoweverItIsMovedEndedOrDropped) {
    FakePowerAssertion power;
    {
        PowerActivity first = power.begin("Recording video");
        PowerActivity moved = std::move(first);
        EXPECT_FALSE(first.active());
        EXPECT_TRUE(moved.active());
        EXPECT_EQ(power.active(), 1);

        moved.end();
        moved.end();
        EXPECT_EQ(power.ended(), 1);

        PowerActivity second = power.begin("Composing");
        PowerActivity third = power.begin("Recording video");
        second = std::move(third);  // the one it held ends here
        EXPECT_EQ(power.ended(), 2);
        EXPECT_EQ(power.active(), 1);
    }
    EXPECT_EQ(power.begun(), 3);
    EXPECT_EQ(power.ended(), 3);
    EXPECT_EQ(power.reasons(), (std::vector<std::string>{"Recording video", "Composing", "Recording video"}));
}

}  // namespace
}  // namespace lumenhollow
