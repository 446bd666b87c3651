#include "lumenhollow/platform/linux/getrandom_secure_random.h"

#include <gtest/gtest.h>

#include <array>

namespace lumenhollow {
namespace {

TEST(GetrandomSecureRandomTest, FillsEveryByteOfEveryRequest) {
    GetrandomSecureRandom random;
    EXPECT_TRUE(random.bytes(0).empty());
    EXPECT_EQ(random.bytes(1).size(), 1u);
    // Two pairing identifiers' worth never repeat.
    EXPECT_NE(random.bytes(16), random.bytes(16));

    // Past 256 bytes the system may hand out less than asked: every value
    // must still turn up in each quarter of a large request, which an
    // unfilled tail would not give.
    const size_t size = 256 * 1024;
    const hollowkit::Bytes bytes = random.bytes(size);
    ASSERT_EQ(bytes.size(), size);
    for (size_t quarter = 0; quarter < 4; ++quarter) {
        std::array<int, 256> seen{};
        for (size_t i = quarter * size / 4; i < (quarter + 1) * size / 4; ++i) ++seen[bytes[i]];
        for (int value = 0; value < 256; ++value) EXPECT_GT(seen[value], 0) << quarter << ": " << value;
    }
}

}  // namespace
}  // namespace lumenhollow
