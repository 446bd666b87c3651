#include "lumenhollow/platform/settings_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace lumenhollow {
namespace {

using nlohmann::json;

TEST(SettingsJsonTest, EveryTypeReadsBackAsItself) {
    const std::pair<const char*, SettingsValue> cases[] = {
        {"true", true},
        {"false", false},
        {"zero", int64_t{0}},
        {"two", int64_t{2}},
        {"twoPointZero", 2.0},
        {"negativeZero", -0.0},
        {"smallest", std::numeric_limits<int64_t>::min()},
        {"largest", std::numeric_limits<int64_t>::max()},
        {"fraction", 0.1},
        {"huge", 1e300},
        {"text", std::string("Bottom Right")},
        {"emptyText", std::string()},
        {"quoted", std::string("a \"b\" \\ c\n\td\x01 \xc3\xa9 \xe2\x80\xa8")},
        {"noTexts", StringArray{}},
        {"texts", StringArray{"Grid", "", "9:16 Frame"}},
        {"noBytes", Bytes{}},
        {"bytes", Bytes{0x00, 0xff, 0x7b, 0x22}},
        {"url", Url::fromPath("/home/ann/Videos/Lumenhollow/Lumenhollow Screen Recording 2024-05-01 at 14.03.22")},
        {"oddUrl", Url{"not a URL {\"$data\": 1}"}},
    };
    SettingsDocument document;
    for (const auto& [key, value] : cases) document.values.emplace(key, value);

    const std::string text = formatSettingsJson(document);
    auto parsed = parseSettingsJson(text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error() << "\n" << text;
    EXPECT_TRUE(parsed->document.foreign.empty());
    for (const auto& [key, value] : cases) {
        ASSERT_TRUE(parsed->document.values.contains(key)) << key;
        EXPECT_EQ(parsed->document.values.at(key), value) << key << " in\n" << text;
    }
    EXPECT_EQ(parsed->document.values.size(), std::size(cases));
    EXPECT_TRUE(std::signbit(std::get<double>(parsed->document.values.at("negativeZero"))));
}

TEST(SettingsJsonTest, MembersOfOtherShapesAreForeignAndComeBackUnchanged) {
    // Each member's JSON and whether this version reads it as a value.
    struct Case {
        const char* member;
        bool readable;
    };
    const Case cases[] = {
        {R"(null)", false},
        {R"(9223372036854775807)", true},
        {R"(9223372036854775808)", false},  // past int64
        {R"(-9223372036854775808)", true},
        {R"([1, 2])", false},
        {R"(["a", 1])", false},
        {R"([["a"]])", false},
        {R"({"nested": {"deeper": [true, null, 1.5e-7]}})", false},
        {R"({})", false},
        {R"({"$data": "AAE="})", true},
        {R"({"$data": "not base64"})", false},
        {R"({"$data": 12})", false},
        {R"({"$data": "AAE=", "extra": 1})", false},
        {R"({"$url": "file:///a"})", true},
        {R"({"$url": ["file:///a"]})", false},
        {R"({"$url": "file:///a", "$data": ""})", false},
        {R"({"$url": "file:///tmp/a%00b"})", false},
    };
    for (const Case& c : cases) {
        const std::string text = std::string(R"({"kept": true, "member": )") + c.member + "}";
        auto parsed = parseSettingsJson(text);
        ASSERT_TRUE(parsed.has_value()) << c.member << ": " << parsed.error();
        EXPECT_EQ(parsed->document.values.contains("member"), c.readable) << c.member;
        EXPECT_EQ(parsed->document.foreign.contains("member"), !c.readable) << c.member;
        EXPECT_EQ(parsed->document.values.at("kept"), SettingsValue(true));

        // Written back, the member is the same JSON as before.
        const json rewritten = json::parse(formatSettingsJson(parsed->document));
        EXPECT_EQ(rewritten.at("member"), json::parse(c.member)) << c.member;
    }
}

TEST(SettingsJsonTest, ADamagedTextCostsOnlyTheMemberHoldingIt) {
    struct Case {
        const char* name;
        std::string text;
        SettingsDocument expected;
        size_t badText;
    };
    const std::string id = "0123456789abcdef";
    const auto kept = [&](std::map<std::string, SettingsValue, std::less<>> more) {
        more.emplace("pairingIdentifier", id);
        return SettingsDocument{std::move(more), {}};
    };
    const std::string start = R"({"pairingIdentifier": ")" + id + "\", ";
    const std::vector<Case> cases{
        {"a Latin-1 byte", start + "\"homeNetworkSSID\": \"Caf\xe9 WLAN\", \"welcomed\": true}",
         kept({{"welcomed", true}}), 1},
        {"a raw tab", start + "\"name\": \"a\tb\", \"zoom\": 2}", kept({{"zoom", int64_t{2}}}), 1},
        {"deep in a foreign member", start + "\"x\": {\"y\": [1, \"\xc3\"]}, \"zoom\": 2}",
         kept({{"zoom", int64_t{2}}}), 1},
        {"in a list of texts", start + "\"guides\": [\"Grid\", \"\xff\"]}", kept({}), 1},
        {"in a key", start + "\"caf\xe9\": 1, \"zoom\": 2}", kept({{"zoom", int64_t{2}}}), 1},
        {"two members", start + "\"a\": \"\xe9\", \"b\": \"\x01\", \"zoom\": 2}",
         kept({{"zoom", int64_t{2}}}), 2},
        // The last of repeated keys is the one read.
        {"a repeated key, the damaged one first", start + "\"zoom\": \"\xe9\", \"zoom\": 3}",
         kept({{"zoom", int64_t{3}}}), 1},
        {"a repeated key, the damaged one last", start + "\"zoom\": 3, \"zoom\": \"\xe9\"}", kept({}), 1},
        {"well-formed UTF-8", start + "\"homeNetworkSSID\": \"Caf\xc3\xa9 WLAN\"}",
         kept({{"homeNetworkSSID", std::string("Caf\xc3\xa9 WLAN")}}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto parsed = parseSettingsJson(c.text);
        ASSERT_TRUE(parsed.has_value()) << parsed.error();
        EXPECT_EQ(parsed->document, c.expected);
        EXPECT_EQ(parsed->membersWithBadText, c.badText);
        EXPECT_EQ(parsed->membersWithNumbersOutOfRange, 0u);
        EXPECT_EQ(parsed->firstRepair.empty(), c.badText == 0);
    }
}

TEST(SettingsJsonTest, ALocationHoldingANulByteIsKeptButNotRead) {
    const std::string text =
        R"({"lastScreenTake": {"$url": "file:///tmp/take%00.mov"}, "other": {"$url": "file:///tmp/take.mov"}})";
    auto parsed = parseSettingsJson(text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ(parsed->urlsWithNul, std::vector<std::string>{"lastScreenTake"});
    EXPECT_FALSE(parsed->document.values.contains("lastScreenTake"));
    EXPECT_EQ(parsed->document.values.at("other"), SettingsValue(Url{"file:///tmp/take.mov"}));
    EXPECT_EQ(json::parse(formatSettingsJson(parsed->document)), json::parse(text));
}

TEST(SettingsJsonTest, TextsThatAreNotASettingsObjectAreRefused) {
    struct Case {
        std::string text;
        const char* reason;  // part of the error
    };
    const Case cases[] = {
        {"", "not JSON"},
        {"   ", "not JSON"},
        {"{", "not JSON"},
        {R"({"a": 1,})", "not JSON"},
        {R"({"a": 1} trailing)", "not JSON"},
        {"{\"a\": \xff}", "not JSON"},
        {R"({"a": NaN})", "not JSON"},
        {"[]", "array"},
        {R"(["welcomed", true])", "array"},
        {"5", "number"},
        {R"("settings")", "string"},
        {"null", "null"},
        {"true", "boolean"},
        {R"({"a": )" + std::string(kMaxSettingsNesting, '[') + std::string(kMaxSettingsNesting, ']') + "}",
         "nested deeper"},
    };
    for (const Case& c : cases) {
        auto parsed = parseSettingsJson(c.text);
        ASSERT_FALSE(parsed.has_value()) << c.text;
        EXPECT_NE(parsed.error().find(c.reason), std::string::npos) << c.text << " gave: " << parsed.error();
    }
}

TEST(SettingsJsonTest, NestingUpToTheLimitIsKept) {
    // The top-level object is one level, so a member may nest one less.
    const int memberDepth = kMaxSettingsNesting - 1;
    const std::string member = std::string(memberDepth, '[') + "\"]]]\"" + std::string(memberDepth, ']');
    auto parsed = parseSettingsJson(R"({"deep": )" + member + "}");
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ(json::parse(formatSettingsJson(parsed->document)).at("deep"), json::parse(member));

    // Brackets inside texts, escaped quotes included, are not nesting.
    const std::string brackets(100, '[');
    for (const std::string& text : {"\"" + brackets + "\"", "\"\\\"" + brackets + "\""}) {
        auto withText = parseSettingsJson(R"({"text": )" + text + "}");
        ASSERT_TRUE(withText.has_value()) << text << ": " << withText.error();
        EXPECT_TRUE(withText->document.values.contains("text")) << text;
    }
}

TEST(SettingsJsonTest, ValuesJsonCannotHoldAreWrittenWithoutFailing) {
    SettingsDocument document;
    document.values.emplace("notUtf8", std::string("caf\xe9"));
    document.values.emplace("notUtf8InList", StringArray{"ok", "\xc3"});
    document.values.emplace("notANumber", std::nan(""));
    document.values.emplace("infinite", std::numeric_limits<double>::infinity());

    auto parsed = parseSettingsJson(formatSettingsJson(document));
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ(parsed->document.values.at("notUtf8"), SettingsValue(std::string("caf\xef\xbf\xbd")));
    EXPECT_EQ(parsed->document.values.at("notUtf8InList"), SettingsValue(StringArray{"ok", "\xef\xbf\xbd"}));
    EXPECT_EQ(parsed->document.foreign.at("notANumber"), "null");
    EXPECT_EQ(parsed->document.foreign.at("infinite"), "null");
}

}  // namespace
}  // namespace lumenhollow
