#include "hollowkit/base/log_excerpt.h"

#include <gtest/gtest.h>

#include <string>

namespace hollowkit {
namespace {

TEST(LogExcerptTest, KeepsShortTextAndCutsLongTextAtACharacterBoundary) {
    const std::string euros = std::string(62, 'a') + "\xe2\x82\xac\xe2\x82\xac";  // 68 bytes
    struct Case {
        const char* name;
        std::string text;
        size_t maxBytes;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", "", 8, ""},
        {"exactly the limit", "12345678", 8, "12345678"},
        {"one over", "123456789", 8, "12345678\u2026 (9 bytes)"},
        {"a character across the cut is left out whole", euros, 64, std::string(62, 'a') + "\u2026 (68 bytes)"},
        {"a character ending at the cut is kept", euros, 65, std::string(62, 'a') + "\xe2\x82\xac\u2026 (68 bytes)"},
        {"bytes that are not UTF-8 are cut where they fall", std::string(10, '\x80'), 4,
         std::string(1, '\x80') + "\u2026 (10 bytes)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(logExcerpt(c.text, c.maxBytes), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace hollowkit
