#include "lumenhollow/model/look_loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/test_support.h"

namespace lumenhollow {
namespace {

namespace hk = hollowkit;

std::string loaderCube(int size) {
    std::string text = "LUT_3D_SIZE " + std::to_string(size) + "\n";
    for (int i = 0; i < size * size * size; ++i) text += "0.5 0.25 0.125\n";
    return text;
}

// What one arrival says, in a form tests compare whole.
struct Seen {
    uint64_t batch = 0;
    std::string path;
    std::string outcome;  // "look", the failure's message, or "held"
    bool prepared = false;
    bool last = false;
    bool operator==(const Seen&) const = default;
};

// The loader on a queue the test runs, arrivals kept as they come.
class LookLoaderTest : public ::testing::Test {
protected:
    std::unique_ptr<LookLoader> make(LookListLimits limits = {}) {
        auto loader = std::make_unique<LookLoader>(limits, queue_);
        loader->setOnArrival([this](LookLoader::Arrival arrival) {
            std::string outcome = arrival.attempt.look      ? "look"
                                  : arrival.attempt.failure ? arrival.attempt.failure->message
                                                            : "held";
            if (arrival.attempt.look) {
                EXPECT_EQ(arrival.attempt.look->id, arrival.path);
            }
            seen_.push_back({arrival.batch, arrival.path, outcome, arrival.prepared != nullptr, arrival.lastOfBatch});
        });
        return loader;
    }

    std::string write(const std::string& name, const std::string& text) {
        const std::string path = dir_.file(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    hk::ManualExecutor queue_;
    hk::testsupport::TempDir dir_;
    std::vector<Seen> seen_;
};

TEST_F(LookLoaderTest, EachPathArrivesOnItsOwnInOrderAndTheLastEndsItsBatch) {
    const std::string a = write("a.cube", loaderCube(2));
    const std::string broken = write("broken.cube", "LUT_3D_SIZE 2\n");
    const std::string b = write("b.cube", loaderCube(3));
    const std::string again = dir_.path().string() + "/./a.cube";
    auto loader = make();

    EXPECT_EQ(loader->load({}), 0u);
    EXPECT_EQ(loader->load({a, broken, again}), 1u);
    EXPECT_EQ(loader->load({b}), 2u);
    EXPECT_TRUE(seen_.empty()) << "nothing is read on the caller's thread";

    // One path per turn of the queue, each told as soon as it is read.
    const std::vector<Seen> expected{
        {1, a, "look", false, false},
        {1, broken, "Expected 8 LUT entries, found 0", false, false},
        {1, again, "held", false, true},
        {2, b, "look", false, true},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(queue_.runOne());
        ASSERT_EQ(seen_.size(), i + 1);
        EXPECT_EQ(seen_[i], expected[i]);
    }
    EXPECT_FALSE(queue_.runOne());
}

// The ledger follows the calls in order: a look released before a path is
// asked for frees its place and its memory for that path.
TEST_F(LookLoaderTest, AReleaseFreesRoomForThePathsAskedAfterIt) {
    const std::string a = write("a.cube", loaderCube(2));
    const std::string b = write("b.cube", loaderCube(3));
    const std::string full = "At most 1 imported looks are kept: remove one to import another";
    const std::string noMemory = "The imported looks would take more than 0 MB of memory: remove one to import this one";
    struct Case {
        const char* label;
        LookListLimits limits;
        std::string refused;
    };
    const std::vector<Case> cases{
        {"one look at most", {.maxLooks = 1}, full},
        {"memory for the larger table alone", {.maxTableBytes = 27 * 16}, noMemory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        seen_.clear();
        auto loader = make(c.limits);
        loader->load({a});
        loader->load({b});
        loader->release(a);
        loader->load({b});
        queue_.runUntilIdle();
        EXPECT_EQ(seen_, (std::vector<Seen>{{1, a, "look", false, true},
                                            {2, b, c.refused, false, true},
                                            {3, b, "look", false, true}}));
    }
}

TEST_F(LookLoaderTest, OnlyTheChosenLooksComeWithTheirTablePrepared) {
    const std::string a = write("a.cube", loaderCube(2));
    const std::string b = write("b.cube", loaderCube(3));
    auto loader = make();
    loader->load({a, b}, [&](const hk::ColorLUT& look) { return look.id == b; });
    loader->load({write("c.cube", loaderCube(2))});
    queue_.runUntilIdle();
    ASSERT_EQ(seen_.size(), 3u);
    EXPECT_FALSE(seen_[0].prepared);
    EXPECT_TRUE(seen_[1].prepared);
    EXPECT_FALSE(seen_[2].prepared) << "no choice: nothing prepared";
}

TEST_F(LookLoaderTest, NothingArrivesOnceTheLoaderIsGone) {
    auto loader = make();
    loader->load({write("a.cube", loaderCube(2)), write("b.cube", loaderCube(2))});
    ASSERT_TRUE(queue_.runOne());
    loader.reset();
    queue_.runUntilIdle();
    EXPECT_EQ(seen_.size(), 1u);
}

// Without an executor of the test's, the loader reads on a thread of its
// own; its owner hears of the look there and posts it home.
TEST_F(LookLoaderTest, ItsOwnQueueReadsOffTheCallersThread) {
    hk::ManualExecutor main;
    const std::string a = write("a.cube", loaderCube(2));
    std::vector<std::thread::id> readers;
    LookLoader loader;
    loader.setOnArrival([&](LookLoader::Arrival arrival) {
        main.post([&readers, reader = std::this_thread::get_id(), ok = arrival.attempt.look.has_value()] {
            if (ok) readers.push_back(reader);
        });
    });
    loader.load({a});
    ASSERT_TRUE(main.waitFor([&] { return !readers.empty(); }));
    EXPECT_NE(readers.front(), std::this_thread::get_id());
}

}  // namespace
}  // namespace lumenhollow
