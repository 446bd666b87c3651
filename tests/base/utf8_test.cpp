#include "hollowkit/base/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Over every one- and two-byte text, and every three- and four-byte text
// behind the leads where the rules change: the escaped form is well-formed
// UTF-8 without any control or line separator, escaping it again changes
// nothing, and text that needed no escape comes back unchanged.
TEST(Utf8Test, EscapedTextIsAlwaysOneSafeLine) {
    const auto unsafe = [](std::string_view text) -> std::string {
        if (!isValidUtf8(text)) return "not UTF-8";
        for (size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            if (byte < 0x20 || byte == 0x7F) return "C0 or DEL";
            if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
                return "C1";
            }
        }
        if (text.find("\xE2\x80\xA8") != std::string_view::npos ||
            text.find("\xE2\x80\xA9") != std::string_view::npos) {
            return "line separator";
        }
        return {};
    };
    std::vector<std::string> texts;
    for (int a = 0; a < 256; ++a) {
        texts.emplace_back(1, static_cast<char>(a));
        for (int b = 0; b < 256; ++b) texts.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
    for (unsigned char lead : {0xE0, 0xE2, 0xED, 0xEF, 0xF0, 0xF4}) {
        for (int b = 0x70; b < 0xC8; ++b) {
            for (int c = 0x70; c < 0xC8; ++c) {
                texts.push_back({static_cast<char>(lead), static_cast<char>(b), static_cast<char>(c)});
                texts.push_back({static_cast<char>(lead), static_cast<char>(b), static_cast<char>(c), '\x80'});
            }
        }
    }
    int failures = 0;
    for (const std::string& text : texts) {
        const std::string escaped = escapeForLog(text);
        std::string problem = unsafe(escaped);
        if (problem.empty() && escapeForLog(escaped) != escaped) problem = "not stable";
        if (problem.empty() && unsafe(text).empty() && escaped != text) problem = "safe text changed";
        if (!problem.empty() && ++failures <= 5) {
            ADD_FAILURE() << problem << " for bytes of " << escapeForLog(text) << ": " << escaped;
        }
    }
    EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace hollowkit
