#include "lumenhollow/app/demo_tour.h"

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <system_error>
#include <utility>

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {
namespace {

constexpr int kPictureChecks = 200;  // every 0.1 s: 20 s for the first picture
constexpr double kTurnSeconds = 1.5;
constexpr int kZoomSteps = 4;  // 1.0x to 2.0x

}  // namespace

DemoTour::DemoTour(hollowkit::MainExecutor& main, std::shared_ptr<CameraModel> model,
                   std::function<QWidget*()> window, std::filesystem::path folder, Hooks hooks)
    : main_(main),
      model_(std::move(model)),
      window_(std::move(window)),
      folder_(std::move(folder)),
      hooks_(std::move(hooks)) {}

void DemoTour::start() {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (error) {
        std::fprintf(stderr, "tour: cannot make %s: %s\n", folder_.c_str(), error.message().c_str());
        hooks_.quit();
        return;
    }
    waitForPicture(kPictureChecks);
}

void DemoTour::then(double seconds, std::function<void()> step) {
    main_.after(hollowkit::toDuration(seconds), std::move(step));
}

void DemoTour::waitForPicture(int attemptsLeft) {
    auto model = model_.lock();
    if (!model) return;
    const auto& stats = model->state().stats;
    if (stats && stats->hasPicture) {
        // The tour shows the picture: the first-run welcome waits for a real visit.
        model->dismissSheets();
        // A moment more, so the window has painted a recent frame.
        then(0.5, [this] { turn(); });
        return;
    }
    if (attemptsLeft == 0) {
        std::fprintf(stderr, "tour: no live picture arrived\n");
        hooks_.quit();
        return;
    }
    then(0.1, [this, attemptsLeft] { waitForPicture(attemptsLeft - 1); });
}

void DemoTour::turn() {
    auto model = model_.lock();
    if (!model) return;
    shoot("1-live.png");
    std::printf("tour: turning right (%s)\n", hooks_.describePose().c_str());
    model->holdDirection(GimbalDirection::right);
    model->applyHeldDirections();
    then(kTurnSeconds, [this] {
        if (auto held = model_.lock()) {
            held->releaseDirection(GimbalDirection::right);
            held->applyHeldDirections();
        }
        then(0.5, [this] { zoom(); });
    });
}

void DemoTour::zoom() {
    std::printf("tour: turned (%s)\n", hooks_.describePose().c_str());
    shoot("2-gimbal-moved.png");
    if (auto model = model_.lock()) {
        for (int i = 0; i < kZoomSteps; ++i) model->zoomStep(1);
        std::printf("tour: zoomed to %s\n", model->zoomLabel().c_str());
    }
    then(0.7, [this] {
        shoot("3-zoomed.png");
        hooks_.quit();
    });
}

void DemoTour::shoot(const char* name) {
    const std::filesystem::path path = folder_ / name;
    // The window open now: one closed during the tour is gone.
    QWidget* window = window_();
    if (window == nullptr) {
        std::fprintf(stderr, "tour: no main window is open for %s\n", path.c_str());
    } else if (window->grab().save(QString::fromStdString(path.string()))) {
        std::printf("screenshot: %s\n", path.c_str());
    } else {
        std::fprintf(stderr, "tour: could not write %s\n", path.c_str());
    }
    std::fflush(stdout);
}

}  // namespace lumenhollow
