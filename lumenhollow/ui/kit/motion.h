#pragma once

// Motion: every animation of the interface goes through here, so one switch
// turns them all off (tests, screenshots) and the curves are defined once.

#include <QObject>
#include <chrono>
#include <functional>
#include <variant>

class QTimer;
class QVariantAnimation;

namespace lumenhollow::ui {

// A damped spring: `response` is the period of the undamped oscillation in
// seconds, `damping` the fraction of critical damping (1 = no overshoot).
struct Spring {
    double response = 0.5;
    double damping = 1.0;
};

// A timed ease.
struct Ease {
    enum class Kind { linear, in, out, inOut };
    Kind kind = Kind::inOut;
    double duration = 0.25;  // seconds
};

using Motion = std::variant<Spring, Ease>;

// Progress from 0 towards 1 at `seconds` after the start (a spring may pass 1).
double motionProgress(const Motion& motion, double seconds);
// How long the motion runs until it is at rest (a spring within 0.1 %).
double motionDuration(const Motion& motion);

void setAnimationsEnabled(bool enabled);
bool animationsEnabled();

// Runs `apply(progress)` along `motion` while `owner` lives, ending with
// apply(1) exactly. With animations off, apply(1) at once and nullptr.
QVariantAnimation* animate(QObject* owner, const Motion& motion, std::function<void(double)> apply);

// Repeats `apply(phase)`, phase 0...1, every `period`. With animations off,
// apply(0) once (a frozen phase) and nullptr.
QVariantAnimation* loop(QObject* owner, std::chrono::milliseconds period, std::function<void(double)> apply);

// A tick on `owner`'s thread whenever `untilNext` says the next one is due;
// it asks again after each tick, so ticks can follow a clock's seconds.
class Ticker : public QObject {
    Q_OBJECT
public:
    explicit Ticker(QObject* parent);
    void start(std::function<std::chrono::milliseconds()> untilNext, std::function<void()> onTick);
    void stop();
    bool isRunning() const;

private:
    void schedule();

    QTimer* timer_;
    std::function<std::chrono::milliseconds()> untilNext_;
    std::function<void()> onTick_;
};

}  // namespace lumenhollow::ui
