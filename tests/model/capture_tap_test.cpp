// The capture tap's hand-over under way: whoever changes the recorder or
// detaches the tap waits for the deliveries that began before, and is the
// one to let go of what it took out; requests left waiting at the detach
// never run; a delivery that throws still ends; a change from within a
// delivery ends the process with a message instead of waiting for itself.

#include "lumenhollow/model/capture_tap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/fake_camera.h"

namespace lumenhollow::test {
namespace {

using namespace std::chrono_literals;

struct Hold {
    std::promise<void> entered;
    std::promise<void> letGo;
    std::shared_future<void> gate = letGo.get_future().share();
};

// Holds the first sample it is handed until let go; tells on which thread
// it is let go of.
class HeldRecorder final : public SampleRecorder {
public:
    HeldRecorder(Hold& hold, std::promise<std::thread::id>& goneOn) : hold_(hold), goneOn_(goneOn) {}
    ~HeldRecorder() override { goneOn_.set_value(std::this_thread::get_id()); }
    void appendVideo(const hollowkit::VideoFrame&) override { holdFirst(); }
    void appendAudio(const hollowkit::AudioChunk&) override { holdFirst(); }

private:
    void holdFirst() {
        if (held_.exchange(true)) return;
        hold_.entered.set_value();
        hold_.gate.wait_for(30s);  // bounded: a broken build still ends
    }
    Hold& hold_;
    std::promise<std::thread::id>& goneOn_;
    std::atomic<bool> held_ = false;
};

hollowkit::AudioChunk tone() {
    const std::vector<float> samples(480, 0.25f);
    return hollowkit::AudioChunk::copyF32(samples, 48000, 1, {});
}

TEST(CaptureTapTest, AChangeWaitsForADeliveryUnderWayAndLetsThePreviousRecorderGoItself) {
    struct Case {
        const char* name;
        std::function<void(CaptureTap&)> deliver;
        std::function<void(CaptureTap&)> change;
    };
    const auto sound = [](CaptureTap& tap) { tap.appendAudio(tone()); };
    const auto picture = [](CaptureTap& tap) { tap.appendVideo(FakeCamera::makeFrame(64, 36)); };
    const auto replace = [](CaptureTap& tap) { tap.setRecorder(nullptr); };
    const auto detach = [](CaptureTap& tap) { tap.detach(); };
    const std::vector<Case> cases{
        {"sound, replaced", sound, replace},
        {"sound, detached", sound, detach},
        {"picture, replaced", picture, replace},
        {"picture, detached", picture, detach},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureTap tap(hollowkit::Clock::system());
        Hold hold;
        std::promise<std::thread::id> goneOn;
        tap.setRecorder(std::make_shared<HeldRecorder>(hold, goneOn));
        std::jthread delivery([&] { c.deliver(tap); });
        ASSERT_EQ(hold.entered.get_future().wait_for(30s), std::future_status::ready);

        std::promise<std::thread::id> changerId;
        std::atomic<bool> changed = false;
        std::jthread changer([&] {
            changerId.set_value(std::this_thread::get_id());
            c.change(tap);
            changed = true;
        });
        // Until the change waits for the delivery, or is over without.
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (tap.waitedChanges() == 0 && !changed.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        const bool changedUnderTheDelivery = changed.load();
        hold.letGo.set_value();
        delivery.join();
        changer.join();

        EXPECT_FALSE(changedUnderTheDelivery) << "the change returned while a delivery still used the recorder";
        EXPECT_EQ(tap.waitedChanges(), 1u);
        EXPECT_EQ(goneOn.get_future().get(), changerId.get_future().get())
            << "the recorder was let go on the delivering thread";
    }
}

TEST(CaptureTapTest, RequestsWaitingAtTheDetachNeverRunAndGoWithIt) {
    CaptureTap tap(hollowkit::Clock::system());
    auto held = std::make_shared<int>(0);
    const std::weak_ptr<int> heldByTheRequest = held;
    int answered = 0;
    tap.addFrameRequest([&answered, held](const hollowkit::VideoFrame&) { ++answered; });
    held.reset();
    tap.detach();
    EXPECT_TRUE(heldByTheRequest.expired());
    tap.appendVideo(FakeCamera::makeFrame(64, 36));
    EXPECT_EQ(answered, 0);
    EXPECT_EQ(tap.pendingFrameRequests(), 0u);
    EXPECT_FALSE(tap.lastVideo() == hollowkit::kDistantPast) << "a detached tap still stamps what arrives";
}

// Throws from every sample it is handed, as a recorder out of memory would.
class ThrowingRecorder final : public SampleRecorder {
public:
    void appendVideo(const hollowkit::VideoFrame&) override { throw std::runtime_error("no room"); }
    void appendAudio(const hollowkit::AudioChunk&) override { throw std::runtime_error("no room"); }
};

// Counts what reaches it.
class CountingRecorder final : public SampleRecorder {
public:
    void appendVideo(const hollowkit::VideoFrame&) override { ++samples; }
    void appendAudio(const hollowkit::AudioChunk&) override { ++samples; }
    std::atomic<int> samples = 0;
};

// Each case in a child held to a time bound: a delivery that stayed counted
// would hold the change for ever.
TEST(CaptureTapTest, ADeliveryThatThrowsStillEndsAndTheNextChangeReturns) {
    struct Case {
        const char* name;
        // Sets up the tap so that `deliver` throws.
        std::function<void(CaptureTap&, std::shared_ptr<int>)> arm;
        std::function<void(CaptureTap&)> deliver;
        std::function<void(CaptureTap&)> change;
    };
    const auto throwingRecorder = [](CaptureTap& tap, std::shared_ptr<int>) {
        tap.setRecorder(std::make_shared<ThrowingRecorder>());
    };
    // A request that throws, and one after it that holds `held`.
    const auto throwingRequest = [](CaptureTap& tap, std::shared_ptr<int> held) {
        tap.addFrameRequest([](const hollowkit::VideoFrame&) { throw std::runtime_error("no room"); });
        tap.addFrameRequest([held](const hollowkit::VideoFrame&) {});
    };
    const auto sound = [](CaptureTap& tap) { tap.appendAudio(tone()); };
    const auto picture = [](CaptureTap& tap) { tap.appendVideo(FakeCamera::makeFrame(64, 36)); };
    const auto replace = [](CaptureTap& tap) { tap.setRecorder(std::make_shared<CountingRecorder>()); };
    const auto detach = [](CaptureTap& tap) { tap.detach(); };
    const std::vector<Case> cases{
        {"recorder, sound, replaced", throwingRecorder, sound, replace},
        {"recorder, sound, detached", throwingRecorder, sound, detach},
        {"recorder, picture, replaced", throwingRecorder, picture, replace},
        {"recorder, picture, detached", throwingRecorder, picture, detach},
        {"request, picture, replaced", throwingRequest, picture, replace},
        {"request, picture, detached", throwingRequest, picture, detach},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = hollowkit::testsupport::runInChild(
            [&] {
                CaptureTap tap(hollowkit::Clock::system());
                auto held = std::make_shared<int>(0);
                const std::weak_ptr<int> heldByARequest = held;
                c.arm(tap, std::move(held));
                bool threw = false;
                try {
                    c.deliver(tap);
                } catch (const std::runtime_error&) {
                    threw = true;
                }
                if (!threw) return 2;
                // Requests the exception left unanswered went with the delivery.
                if (!heldByARequest.expired()) return 3;
                c.change(tap);
                // The tap goes on: a later delivery reaches the new recorder.
                auto counting = std::make_shared<CountingRecorder>();
                tap.setRecorder(counting);
                c.deliver(tap);
                tap.detach();
                return counting->samples == 1 ? 0 : 4;
            },
            std::chrono::seconds(10));
        EXPECT_TRUE(outcome.finished) << "the change waited for ever for the delivery that threw";
        EXPECT_EQ(outcome.exitCode, 0);
    }
}

// A recorder or request that changes its own tap would wait for its own
// delivery: the process ends at once (SIGABRT), saying why on standard
// error. Each case in a child held to a time bound, so a tap that waits for
// itself fails the case instead of hanging it.
TEST(CaptureTapTest, AChangeFromWithinADeliveryEndsTheProcessSayingWhy) {
    // Changes the tap from within the delivery it is handed.
    class ChangingRecorder final : public SampleRecorder {
    public:
        ChangingRecorder(CaptureTap& tap, bool detaches) : tap_(tap), detaches_(detaches) {}
        void appendVideo(const hollowkit::VideoFrame&) override { change(); }
        void appendAudio(const hollowkit::AudioChunk&) override { change(); }

    private:
        void change() {
            if (detaches_) {
                tap_.detach();
            } else {
                tap_.setRecorder(nullptr);
            }
        }
        CaptureTap& tap_;
        const bool detaches_;
    };
    struct Case {
        const char* name;
        std::function<void(CaptureTap&)> run;
        const char* message;
    };
    const std::vector<Case> cases{
        {"the recorder replaces itself, on a picture",
         [](CaptureTap& tap) {
             tap.setRecorder(std::make_shared<ChangingRecorder>(tap, false));
             tap.appendVideo(FakeCamera::makeFrame(64, 36));
         },
         "setRecorder called from within one of its own deliveries"},
        {"the recorder detaches the tap, on sound",
         [](CaptureTap& tap) {
             tap.setRecorder(std::make_shared<ChangingRecorder>(tap, true));
             tap.appendAudio(tone());
         },
         "detach called from within one of its own deliveries"},
        {"a request replaces the recorder",
         [](CaptureTap& tap) {
             tap.addFrameRequest([&tap](const hollowkit::VideoFrame&) { tap.setRecorder(nullptr); });
             tap.appendVideo(FakeCamera::makeFrame(64, 36));
         },
         "setRecorder called from within one of its own deliveries"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::testsupport::TempDir dir;
        const std::string said = dir.file("stderr");
        const auto outcome = hollowkit::testsupport::runInChild(
            [&] {
                if (std::freopen(said.c_str(), "w", stderr) == nullptr) return 2;
                CaptureTap tap(hollowkit::Clock::system());
                c.run(tap);
                return 3;  // went on after the change
            },
            std::chrono::seconds(10));
        EXPECT_TRUE(outcome.finished) << "the change waited for ever for its own delivery";
        EXPECT_EQ(outcome.exitCode, -1) << "the process should end on the spot";
        std::ifstream in(said);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
    }
}

// Another tap may be changed from within a delivery: only a tap's own
// deliveries are refused.
TEST(CaptureTapTest, ADeliveryMayChangeAnotherTap) {
    CaptureTap outer(hollowkit::Clock::system());
    CaptureTap inner(hollowkit::Clock::system());
    auto counting = std::make_shared<CountingRecorder>();
    outer.addFrameRequest([&](const hollowkit::VideoFrame&) { inner.setRecorder(counting); });
    outer.appendVideo(FakeCamera::makeFrame(64, 36));
    inner.appendAudio(tone());
    EXPECT_EQ(counting->samples, 1);
}

}  // namespace
}  // namespace lumenhollow::test
