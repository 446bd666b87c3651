// ModelSignals calls each subscription for its own fields only, once per
// assignment however often a field is listed, never after its context has
// gone, also when a slot ends another view or subscribes in the middle.

#include "lumenhollow/ui/kit/model_signals.h"

#include <gtest/gtest.h>

#include <QObject>

#include <memory>

#include "../../model/model_harness.h"

namespace lumenhollow::test {
namespace {

TEST(ModelSignals, EachHearsItsOwnFieldsOnceAndNothingOnceItsContextIsGone) {
    ModelHarness h;
    h.createAndStart();
    ModelSignals signals(h.model);
    QObject codecView;
    QObject settingsView;
    auto* goneView = new QObject;
    int codec = 0;
    int settings = 0;
    int gone = 0;
    signals.onChange({Field::codec}, &codecView, [&] { ++codec; });
    signals.onChange({Field::codec, Field::countdownSeconds, Field::codec}, &settingsView, [&] { ++settings; });
    signals.onChange({Field::codec}, goneView, [&] { ++gone; });

    h.model->setCodec(hollowkit::VideoCodec::h264);
    EXPECT_EQ(codec, 1);
    EXPECT_EQ(settings, 1) << "listed twice, called once";
    EXPECT_EQ(gone, 1);
    delete goneView;
    h.model->setCountdownSeconds(3);
    h.model->setCodec(hollowkit::VideoCodec::hevc);
    h.model->setGuides({GuideKind::grid});
    EXPECT_EQ(codec, 2);
    EXPECT_EQ(settings, 3);
    EXPECT_EQ(gone, 1) << "called after its context was destroyed";
    EXPECT_EQ(signals.deliveries(), 6u);
}

TEST(ModelSignals, ASlotMayEndALaterViewOrSubscribeAnotherWhileCalled) {
    ModelHarness h;
    h.createAndStart();
    ModelSignals signals(h.model);
    QObject first;
    auto later = std::make_unique<QObject>();
    QObject added;
    int laterCalls = 0;
    int addedCalls = 0;
    signals.onChange({Field::codec}, &first, [&] {
        later.reset();
        signals.onChange({Field::codec}, &added, [&] { ++addedCalls; });
    });
    signals.onChange({Field::codec}, later.get(), [&] { ++laterCalls; });

    h.model->setCodec(hollowkit::VideoCodec::h264);
    EXPECT_EQ(laterCalls, 0) << "its view ended earlier in the same change";
    EXPECT_EQ(addedCalls, 0) << "subscribed during the change it was not there for";
    h.model->setCodec(hollowkit::VideoCodec::hevc);
    EXPECT_EQ(addedCalls, 1);
}

}  // namespace
}  // namespace lumenhollow::test
