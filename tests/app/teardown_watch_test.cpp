#include "lumenhollow/app/teardown_watch.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <string>

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;

// A part whose end waits until it is let go, as one waiting on a service
// that stopped answering does.
struct HeldPart {
    std::shared_future<void> letGo;
    ~HeldPart() {
        if (letGo.valid()) letGo.wait();
    }
};

// Three parts, each named by the mark declared after it; they end in the
// reverse order, the third first.
struct ThreeParts {
    HeldPart first;
    TeardownStep firstEnds{"The first part"};
    HeldPart second;
    TeardownStep secondEnds{"The second part"};
    HeldPart third;
    TeardownStep thirdEnds{"The third part"};
};

TEST(TeardownWatch, ALateTeardownNamesThePartItWaitsOn) {
    const struct {
        HeldPart ThreeParts::*held;
        const char* named;
    } cases[] = {
        {&ThreeParts::third, "The third part"},
        {&ThreeParts::second, "The second part"},
        {&ThreeParts::first, "The first part"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        std::promise<void> letGo;
        std::promise<std::string> late;
        auto parts = std::make_unique<ThreeParts>();
        ((*parts).*c.held).letGo = letGo.get_future().share();
        markTeardownStep("The windows");
        {
            // The part is let go once the watch has said what it waited on.
            TeardownWatch watch(1ms, [&](const char* what) {
                late.set_value(what);
                letGo.set_value();
            });
            parts.reset();
        }
        EXPECT_EQ(late.get_future().get(), c.named);
    }
}

TEST(TeardownWatch, ATeardownInTimeIsNeverCalledLate) {
    std::optional<std::string> late;
    {
        TeardownWatch watch(std::chrono::minutes(10), [&](const char* what) { late = what; });
        ThreeParts parts;
    }
    EXPECT_EQ(late, std::nullopt);
}

}  // namespace
}  // namespace lumenhollow
