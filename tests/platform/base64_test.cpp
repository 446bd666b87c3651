#include "lumenhollow/platform/base64.h"

#include <gtest/gtest.h>

namespace lumenhollow {
namespace {

hollowkit::Bytes bytesOf(std::string_view text) {
    return hollowkit::Bytes(text.begin(), text.end());
}

TEST(Base64Test, EncodesAndDecodesTheStandardVectors) {
    struct Case {
        std::string_view plain;
        std::string_view encoded;
    };
    const Case cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {std::string_view("\xfb\xff\x00", 3), "+/8A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base64Encode(bytesOf(c.plain)), c.encoded) << c.encoded;
        EXPECT_EQ(base64Decode(c.encoded), bytesOf(c.plain)) << c.encoded;
    }
}

TEST(Base64Test, RefusesTextThatIsNotCanonicalBase64) {
    const char* cases[] = {
        "Zg=",       // not whole groups
        "Zg",        // padding missing
        "Z===",      // one character cannot carry a byte
        "====",      // padding alone
        "Zh==",      // stray bits below the last byte
        "Zm9=",      // the same with one '='
        "Zm=v",      // padding inside a group
        "Zg==Zg==",  // padding before the end
        "Zm9v\n",    // white space
        "Zm9-",      // URL-safe alphabet
    };
    for (const char* text : cases) EXPECT_FALSE(base64Decode(text).has_value()) << text;
}

}  // namespace
}  // namespace lumenhollow
