#include "lumenhollow/model/model_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumenhollow {
namespace {

// One settings enumeration seen through its texts: the string of every case
// in case order, and the position of the case a text parses to.
struct EnumerationCase {
    const char* name;
    std::vector<std::string> expected;
    std::vector<std::string> shown;
    std::function<std::optional<size_t>(std::string_view)> parsedIndex;
};

template <typename Enum, size_t N>
EnumerationCase enumeration(const char* name, const std::array<Enum, N>& all,
                            std::optional<Enum> (*parse)(std::string_view), std::vector<std::string> expected) {
    std::vector<std::string> shown;
    for (Enum value : all) shown.emplace_back(toString(value));
    return {name, std::move(expected), std::move(shown), [all, parse](std::string_view text) {
                const std::optional<Enum> parsed = parse(text);
                if (!parsed) return std::optional<size_t>();
                return std::optional<size_t>(std::find(all.begin(), all.end(), *parsed) - all.begin());
            }};
}

std::string mapped(std::string text, int (*change)(int)) {
    for (char& c : text) c = static_cast<char>(change(static_cast<unsigned char>(c)));
    return text;
}

TEST(ModelTypesTest, EachCaseRoundTripsThroughItsOneStoredStringAndNothingElseParses) {
    const std::vector<EnumerationCase> cases{
        enumeration("ConnectionMode", kAllConnectionModes, parseConnectionMode, {"USB", "Wireless"}),
        enumeration("RecordTarget", kAllRecordTargets, parseRecordTarget, {"Camera microSD", "Mac"}),
        enumeration("NotchContent", kAllNotchContents, parseNotchContent,
                    {"Live Preview and Controls", "Controls Only"}),
        enumeration("NotchTrigger", kAllNotchTriggers, parseNotchTrigger, {"When Hovering", "When Clicked"}),
        enumeration("CloseBehavior", kAllCloseBehaviors, parseCloseBehavior,
                    {"Keep Running in the Notch", "Quit Lumenhollow"}),
        enumeration("GuideKind", kAllGuideKinds, parseGuideKind, {"Grid", "Horizon", "9:16 Frame"}),
    };
    for (const EnumerationCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Files written by earlier versions hold these strings; the menus list the cases in this order.
        EXPECT_EQ(c.shown, c.expected);
        for (size_t i = 0; i < c.expected.size(); ++i) {
            const std::string& text = c.expected[i];
            EXPECT_EQ(c.parsedIndex(text), i) << text;
            const std::vector<std::string> near{mapped(text, ::tolower), mapped(text, ::toupper), " " + text,
                                                text + " ", text.substr(0, text.size() - 1), text + "\n"};
            for (const std::string& other : near) {
                if (other == text) continue;
                EXPECT_EQ(c.parsedIndex(other), std::nullopt) << '"' << other << '"';
            }
        }
        EXPECT_EQ(c.parsedIndex(""), std::nullopt);
    }
}

}  // namespace
}  // namespace lumenhollow
