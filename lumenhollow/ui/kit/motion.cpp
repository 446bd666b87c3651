#include "lumenhollow/ui/kit/motion.h"

#include <QTimer>
#include <QVariantAnimation>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>

namespace lumenhollow::ui {

namespace {

std::atomic<bool> gAnimationsEnabled{true};

constexpr double kRestTolerance = 0.001;

double springProgress(const Spring& spring, double t) {
    if (t <= 0) return 0;
    const double response = std::max(spring.response, 1e-3);
    const double zeta = std::clamp(spring.damping, 0.0, 1.0);
    const double omega = 2 * std::numbers::pi / response;
    if (zeta >= 1.0) return 1 - std::exp(-omega * t) * (1 + omega * t);
    const double omegaD = omega * std::sqrt(1 - zeta * zeta);
    const double decay = std::exp(-zeta * omega * t);
    return 1 - decay * (std::cos(omegaD * t) + (zeta * omega / omegaD) * std::sin(omegaD * t));
}

double springDuration(const Spring& spring) {
    // The first moment after which the motion stays within the tolerance of 1.
    double rest = 0;
    constexpr double kStep = 1.0 / 240;
    for (double t = 0; t < 10.0; t += kStep) {
        if (std::abs(1 - springProgress(spring, t)) > kRestTolerance) rest = t + kStep;
    }
    return rest;
}

double easeProgress(const Ease& ease, double seconds) {
    if (ease.duration <= 0) return 1;
    const double x = std::clamp(seconds / ease.duration, 0.0, 1.0);
    switch (ease.kind) {
        case Ease::Kind::linear: return x;
        case Ease::Kind::in: return x * x * x;
        case Ease::Kind::out: return 1 - std::pow(1 - x, 3);
        case Ease::Kind::inOut: return x < 0.5 ? 4 * x * x * x : 1 - std::pow(-2 * x + 2, 3) / 2;
    }
    return x;
}

}  // namespace

double motionProgress(const Motion& motion, double seconds) {
    if (const auto* spring = std::get_if<Spring>(&motion)) return springProgress(*spring, seconds);
    return easeProgress(std::get<Ease>(motion), seconds);
}

double motionDuration(const Motion& motion) {
    if (const auto* spring = std::get_if<Spring>(&motion)) return springDuration(*spring);
    return std::max(std::get<Ease>(motion).duration, 0.0);
}

void setAnimationsEnabled(bool enabled) { gAnimationsEnabled.store(enabled); }

bool animationsEnabled() { return gAnimationsEnabled.load(); }

QVariantAnimation* animate(QObject* owner, const Motion& motion, std::function<void(double)> apply) {
    const double duration = motionDuration(motion);
    if (!animationsEnabled() || duration <= 0) {
        apply(1.0);
        return nullptr;
    }
    auto* animation = new QVariantAnimation(owner);
    animation->setStartValue(0.0);
    animation->setEndValue(duration);
    animation->setDuration(static_cast<int>(std::ceil(duration * 1000)));
    QObject::connect(animation, &QVariantAnimation::valueChanged, owner,
                     [motion, apply](const QVariant& value) { apply(motionProgress(motion, value.toDouble())); });
    QObject::connect(animation, &QVariantAnimation::finished, owner, [apply] { apply(1.0); });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    return animation;
}

QVariantAnimation* loop(QObject* owner, std::chrono::milliseconds period, std::function<void(double)> apply) {
    if (!animationsEnabled() || period.count() <= 0) {
        apply(0.0);
        return nullptr;
    }
    auto* animation = new QVariantAnimation(owner);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(static_cast<int>(period.count()));
    animation->setLoopCount(-1);
    QObject::connect(animation, &QVariantAnimation::valueChanged, owner,
                     [apply](const QVariant& value) { apply(value.toDouble()); });
    animation->start();
    return animation;
}

Ticker::Ticker(QObject* parent) : QObject(parent), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (onTick_) onTick_();
        if (untilNext_) schedule();
    });
}

void Ticker::start(std::function<std::chrono::milliseconds()> untilNext, std::function<void()> onTick) {
    untilNext_ = std::move(untilNext);
    onTick_ = std::move(onTick);
    schedule();
}

void Ticker::stop() {
    timer_->stop();
    untilNext_ = nullptr;
    onTick_ = nullptr;
}

bool Ticker::isRunning() const { return timer_->isActive(); }

void Ticker::schedule() {
    const auto wait = std::max(untilNext_(), std::chrono::milliseconds(1));
    timer_->start(wait);
}

}  // namespace lumenhollow::ui
