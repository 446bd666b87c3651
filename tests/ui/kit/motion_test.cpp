#include "lumenhollow/ui/kit/motion.h"

#include <gtest/gtest.h>

#include <QObject>
#include <cmath>
#include <vector>

namespace lumenhollow::ui {
namespace {

double peak(const Motion& motion) {
    double highest = 0;
    for (double t = 0; t < 3.0; t += 0.001) highest = std::max(highest, motionProgress(motion, t));
    return highest;
}

TEST(Motion, SpringsStartAtZeroAndComeToRestAtOne) {
    const Spring springs[] = {{0.5, 0.85}, {0.3, 1.0}, {0.35, 0.7}, {0.2, 0.5}};
    for (const Spring& spring : springs) {
        const Motion motion = spring;
        EXPECT_DOUBLE_EQ(motionProgress(motion, 0), 0) << spring.response;
        const double rest = motionDuration(motion);
        EXPECT_GT(rest, 0.05) << spring.response;
        EXPECT_LT(rest, 3.0) << spring.response;
        for (double t = rest; t < rest + 1; t += 0.01) {
            EXPECT_NEAR(motionProgress(motion, t), 1.0, 0.0011) << spring.response << " at " << t;
        }
    }
}

TEST(Motion, OnlyUnderdampedSpringsOvershoot) {
    EXPECT_GT(peak(Spring{0.5, 0.5}), 1.1);
    EXPECT_GT(peak(Spring{0.5, 0.85}), 1.0);
    EXPECT_LE(peak(Spring{0.5, 1.0}), 1.0 + 1e-9);
    // Less damping, more overshoot.
    EXPECT_GT(peak(Spring{0.5, 0.5}), peak(Spring{0.5, 0.85}));
}

TEST(Motion, EasesRunFromZeroToOneWithoutGoingBack) {
    for (Ease::Kind kind : {Ease::Kind::linear, Ease::Kind::in, Ease::Kind::out, Ease::Kind::inOut}) {
        const Motion motion = Ease{kind, 0.2};
        EXPECT_DOUBLE_EQ(motionProgress(motion, 0), 0);
        EXPECT_DOUBLE_EQ(motionProgress(motion, 0.2), 1);
        EXPECT_DOUBLE_EQ(motionProgress(motion, 5), 1);
        double last = 0;
        for (double t = 0; t <= 0.2; t += 0.005) {
            const double p = motionProgress(motion, t);
            EXPECT_GE(p, last - 1e-12);
            last = p;
        }
        EXPECT_DOUBLE_EQ(motionDuration(motion), 0.2);
    }
    EXPECT_NEAR(motionProgress(Ease{Ease::Kind::inOut, 1}, 0.5), 0.5, 1e-12);
    EXPECT_LT(motionProgress(Ease{Ease::Kind::in, 1}, 0.5), 0.5);
    EXPECT_GT(motionProgress(Ease{Ease::Kind::out, 1}, 0.5), 0.5);
}

TEST(Motion, WithAnimationsOffTheEndIsAppliedAtOnce) {
    ASSERT_FALSE(animationsEnabled());
    QObject owner;
    std::vector<double> applied;
    EXPECT_EQ(animate(&owner, Spring{0.5, 0.85}, [&](double p) { applied.push_back(p); }), nullptr);
    EXPECT_EQ(applied, std::vector<double>{1.0});
    applied.clear();
    EXPECT_EQ(loop(&owner, std::chrono::milliseconds(1000), [&](double p) { applied.push_back(p); }), nullptr);
    EXPECT_EQ(applied, std::vector<double>{0.0});
}

}  // namespace
}  // namespace lumenhollow::ui
