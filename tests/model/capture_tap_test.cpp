// The capture tap's hand-over under way: whoever changes the recorder or
// detaches the tap waits for the deliveries that began before, and is the
// one to let go of what it took out; requests left waiting at the detach
// never run.

#include "lumenhollow/model/capture_tap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace lumenhollow::test
