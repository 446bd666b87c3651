#include "lumenhollow/platform/json_repair.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumenhollow {
namespace {

using Kind = JsonRepair::Kind;
using Flaw = JsonRepair::Flaw;

TEST(JsonRepairTest, RepairsOnlyWhatAStrictParserWouldRefuse) {
    const std::string manyDigits(100'000, '7');
    const std::string tinyFraction = "0." + std::string(100'000, '0') + "1";
    struct Case {
        const char* name;
        std::string text;
        bool repairTexts;
        std::string repaired;
        std::vector<Flaw> flaws;
    };
    const std::vector<Case> cases{
        {"in range", R"({"a": 1.5e308, "b": -2, "c": 0})", false, R"({"a": 1.5e308, "b": -2, "c": 0})", {}},
        {"largest double", R"([1.7976931348623157e308])", false, R"([1.7976931348623157e308])", {}},
        {"just past the largest double", R"([1.8e308])", false, "[null]", {{Kind::numberOutOfRange, 0}}},
        {"1e400", R"({"a": 1, "b": 1e400})", false, R"({"a": 1, "b": null})", {{Kind::numberOutOfRange, 1}}},
        {"negative", R"({"a":-1E+400})", false, R"({"a":null})", {{Kind::numberOutOfRange, 0}}},
        {"fraction with a huge exponent", "[0.5e310,2]", false, "[null,2]", {{Kind::numberOutOfRange, 0}}},
        {"an exponent of a thousand digits", "[1e" + std::string(1000, '9') + "]", false, "[null]",
         {{Kind::numberOutOfRange, 0}}},
        {"too small reads as zero", R"({"a": 1e-400})", false, R"({"a": 1e-400})", {}},
        {"a hundred thousand digits", "{\"pairingIdentifier\": \"x\", \"n\": " + manyDigits + "}", false,
         R"({"pairingIdentifier": "x", "n": null})", {{Kind::numberOutOfRange, 1}}},
        {"a long tiny fraction", "[" + tinyFraction + "]", false, "[" + tinyFraction + "]", {}},
        {"nested deep in the third member", R"({"a":1,"b":2,"c":{"d":[3,{"e":1e999}]}})", false,
         R"({"a":1,"b":2,"c":{"d":[3,{"e":null}]}})", {{Kind::numberOutOfRange, 2}}},
        {"two in one member count once", "[[1e400,1e500],1e600]", false, "[[null,null],null]",
         {{Kind::numberOutOfRange, 0}, {Kind::numberOutOfRange, 1}}},
        {"numbers inside texts are text", R"({"1e400": "9e999", "k\"1e400": 1})", false,
         R"({"1e400": "9e999", "k\"1e400": 1})", {}},
        {"bad bytes kept when texts are not repaired", "[\"caf\xe9\"]", false, "[\"caf\xe9\"]", {}},
        {"a Latin-1 byte", "[\"ok\",\"caf\xe9\"]", true, "[\"ok\",\"caf?\"]", {{Kind::badText, 1}}},
        {"well-formed UTF-8 kept", "[\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"]", true,
         "[\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"]", {}},
        {"an overlong slash", "[\"\xc0\xaf\"]", true, "[\"??\"]", {{Kind::badText, 0}}},
        {"a surrogate", "[\"\xed\xa0\x80\"]", true, "[\"???\"]", {{Kind::badText, 0}}},
        {"past U+10FFFF", "[\"\xf4\x90\x80\x80\"]", true, "[\"????\"]", {{Kind::badText, 0}}},
        {"cut short at the end of the text", "[\"\xe2\x82", true, "[\"??", {{Kind::badText, 0}}},
        {"a raw tab and line break", "[1,\"a\tb\nc\"]", true, "[1,\"a?b?c\"]", {{Kind::badText, 1}}},
        {"escapes are not control characters", R"(["a\tb\u0000"])", true, R"(["a\tb\u0000"])", {}},
        {"both kinds in one element", "[{\"n\":\"\xff\",\"p\":1e400}]", true, "[{\"n\":\"?\",\"p\":null}]",
         {{Kind::badText, 0}, {Kind::numberOutOfRange, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const JsonRepair repair = repairJson(c.text, c.repairTexts);
        EXPECT_EQ(repair.text, c.repaired);
        EXPECT_EQ(repair.flaws, c.flaws);
        EXPECT_EQ(repair.firstExample.empty(), c.flaws.empty());
    }
}

TEST(JsonRepairTest, TheFirstRepairIsNamedByItsKeyAndCutShort) {
    const std::string digits(100'000, '1');
    const JsonRepair repair =
        repairJson("{\"welcomed\": true, \"recordCountdown\": " + digits + ", \"zoom\": 1e400}", false);
    EXPECT_EQ(repair.flaws.size(), 2u);
    EXPECT_EQ(repair.firstExample.rfind("\"recordCountdown\": 1111", 0), 0u) << repair.firstExample;
    EXPECT_NE(repair.firstExample.find("100000 bytes"), std::string::npos) << repair.firstExample;
    EXPECT_LT(repair.firstExample.size(), 200u);

    // In a list there is no key to name.
    EXPECT_EQ(repairJson("[1, 1e400]", false).firstExample, "1e400");
}

}  // namespace
}  // namespace lumenhollow
