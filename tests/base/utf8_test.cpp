#include "hollowkit/base/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace hollowkit {
namespace {

TEST(Utf8Test, AcceptsOnlyWellFormedText) {
    struct Case {
        const char* name;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"ASCII", "plain text\n", true},
        {"two bytes", "\xC3\xA9", true},
        {"last one-byte", "\x7F", true},
        {"first two-byte", "\xC2\x80", true},
        {"last two-byte", "\xDF\xBF", true},
        {"first three-byte", "\xE0\xA0\x80", true},
        {"first four-byte", "\xF0\x90\x80\x80", true},
        {"three bytes", "\xE2\x82\xAC", true},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"last before surrogates", "\xED\x9F\xBF", true},
        {"first after surrogates", "\xEE\x80\x80", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"NUL byte", std::string("a\0b", 3), true},
        {"lone continuation", "\x80", false},
        {"invalid byte FF", "ok\xFF", false},
        {"overlong slash C0", "\xC0\xAF", false},
        {"overlong C1", "\xC1\xBF", false},
        {"overlong three bytes", "\xE0\x80\xAF", false},
        {"last overlong three bytes", "\xE0\x9F\xBF", false},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", false},
        {"high surrogate", "\xED\xA0\x80", false},
        {"low surrogate", "\xED\xBF\xBF", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"cut after lead", "abc\xC3", false},
        {"cut four-byte", "\xF0\x9F\x98", false},
        {"bad second byte", "\xE2\x28\xA1", false},
        {"bad third byte", "\xE2\x82\x41", false},
        {"bad fourth byte", "\xF0\x9F\x98\xC0", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.name;
    }
}

TEST(Utf8Test, TrimsUnicodeWhiteSpaceAtBothEnds) {
    struct Case {
        std::string text;
        std::string trimmed;
    };
    const Case cases[] = {
        {"", ""},
        {" \t\r\n\v\f", ""},
        {"\xC2\x85\xC2\xA0x\xE3\x80\x80\xE2\x80\xA9", "x"},  // NEL, NBSP ... IDEOGRAPHIC SPACE, PARAGRAPH SEP
        {"\xE2\x80\x8B" "x", "\xE2\x80\x8B" "x"},            // zero-width space is not white space
        {"a \xE2\x80\x80 b", "a \xE2\x80\x80 b"},
        {"\xC3\xA9 ", "\xC3\xA9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trimWhitespace(c.text), c.trimmed) << c.text;
    }
}

}  // namespace
}  // namespace hollowkit
