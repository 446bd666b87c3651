#include "lumenhollow/ui/kit/text_format.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace lumenhollow::ui {
namespace {

struct ByteCase {
    int64_t bytes;
    const char* text;
};

TEST(TextFormat, SiByteCountsUseOneDecimalAndCarryIntoTheNextUnit) {
    const ByteCase cases[] = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {999, "999 bytes"},
        {1000, "1.0 kB"},
        {1049, "1.0 kB"},
        {1050, "1.1 kB"},  // rounded to nearest, not cut
        {245'800'000'000, "245.8 GB"},
        {999'949'999'999, "999.9 GB"},
        {999'950'000'000, "1.0 TB"},  // never "1000.0 GB"
        {-5, "0 bytes"},
    };
    for (const ByteCase& c : cases) EXPECT_EQ(siByteCount(c.bytes), c.text) << c.bytes;
}

TEST(TextFormat, CardMegabytesAreBinaryGigabytesWithOneDecimal) {
    const ByteCase cases[] = {
        {1536, "1.5 GB"}, {12800, "12.5 GB"}, {0, "0.0 GB"}, {1024, "1.0 GB"}, {122'000, "119.1 GB"}, {-10, "0.0 GB"},
    };
    for (const ByteCase& c : cases) EXPECT_EQ(cardGigabytes(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace lumenhollow::ui
