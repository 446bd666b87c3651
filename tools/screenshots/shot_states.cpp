#include "tools/screenshots/shot_states.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QStyleFactory>

#include <memory>

#include "hollowkit/camera/camera_event.h"
#include "hollowkit/testing/fake_face_detector_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/manual_executor.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/fake_app_shell.h"
#include "lumenhollow/testing/fake_camera_factory.h"
#include "lumenhollow/testing/fake_desktop.h"
#include "lumenhollow/testing/fake_disk_space.h"
#include "lumenhollow/testing/fake_secret_store.h"
#include "lumenhollow/testing/fake_secure_random.h"
#include "lumenhollow/testing/memory_settings_store.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"

namespace lumenhollow::shots {

namespace {

constexpr const char* kInterFont = "/usr/share/fonts/opentype/inter/Inter-Regular.otf";

// The model with every outside service faked, on a frozen clock.
struct ShotModel {
    hollowkit::ManualExecutor main;
    MemorySettingsStore settings;
    FakeSecretStore secrets;
    FakeSecureRandom random;
    FakeDiskSpace disk;
    FakeCameraFactory cameras{main};
    FakeAppShell shell;
    FakeDesktop desktop;
    std::shared_ptr<VideoFeed> feed = std::make_shared<VideoFeed>();
    std::shared_ptr<CameraModel> model;

    ShotModel() {
        cameras.setPocketConnected(true);
        ImagingFactory imaging;
        imaging.processor = [] {
            hollowkit::FrameProcessor::Options options;
            options.threadCount = 1;
            return std::make_shared<hollowkit::FrameProcessor>(std::move(options));
        };
        imaging.backgroundPreview = [this] {
            return std::make_shared<hollowkit::BackgroundPreview>(
                std::make_unique<hollowkit::FakeSegmentationBackend>(), main);
        };
        imaging.faceDetector = [this](double rate) {
            return std::make_shared<hollowkit::FaceDetector>(
                rate, std::make_unique<hollowkit::FakeFaceDetectorBackend>(), main);
        };
        imaging.faceFollower = [this] { return std::make_unique<hollowkit::FaceFollower>(main); };
        model = CameraModel::create(CameraModelServices{main, settings, secrets, random, disk, cameras, shell, desktop,
                                                        feed, feed, "/nonexistent-parent/Lumenhollow", imaging});
        model->camera().start();
        model->dismissSheets();
        main.runUntilIdle();
    }

    ~ShotModel() {
        model.reset();
        main.runUntilIdle();
    }
};

}  // namespace

const std::vector<ShotState>& shotStates() {
    static const std::vector<ShotState> states{
        {"video-16x9", 1152, 648, 1920, 1080, false},
        {"video-4x3-pillarbox", 1152, 648, 1440, 1080, false},
        {"video-portrait", 457, 812, 1080, 1920, false},
        {"video-portrait-in-landscape", 1330, 748, 1080, 1920, false},
    };
    return states;
}

const ShotState* findShotState(const std::string& name) {
    for (const ShotState& state : shotStates()) {
        if (state.name == name) return &state;
    }
    return nullptr;
}

void prepareShotLook() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x1c, 0x1c, 0x1e));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(0x2c, 0x2c, 0x2e));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3c));
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
    QApplication::setPalette(dark);
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kInterFont));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (!families.isEmpty()) {
        QFont font(families.first());
        font.setPixelSize(13);
        QApplication::setFont(font);
    }
}

std::vector<unsigned char> colourBars(int width, int height) {
    static constexpr unsigned char kBars[7][3] = {
        {192, 192, 192}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0}, {255, 0, 255}, {255, 0, 0}, {0, 0, 255}};
    const int border = std::max(2, height / 60);
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
            const bool edge = x < border || y < border || x >= width - border || y >= height - border;
            // The lower quarter is a grey ramp, so scaling errors show as banding.
            const unsigned char grey = static_cast<unsigned char>(x * 255 / std::max(1, width - 1));
            const unsigned char* bar = kBars[std::min(6, x * 7 / width)];
            const bool ramp = y >= height * 3 / 4;
            p[0] = edge ? 255 : ramp ? grey : bar[2];
            p[1] = edge ? 255 : ramp ? grey : bar[1];
            p[2] = edge ? 255 : ramp ? grey : bar[0];
            p[3] = 255;
        }
    }
    return pixels;
}

QImage renderShot(const ShotState& state) {
    prepareShotLook();
    ShotModel shot;
    hollowkit::CameraStats stats;
    stats.hasPicture = true;
    stats.framesPerSecond = 30;
    stats.resolution = hollowkit::VideoDimensions{state.frameWidth, state.frameHeight};
    shot.cameras.latest()->emit(hollowkit::CameraEvent::stats(stats));
    shot.main.runUntilIdle();
    // A picture of the other orientation settles after a moment.
    shot.main.advance(CameraModel::kSettleDelay);
    shot.main.runUntilIdle();

    ModelSignals modelSignals(shot.model);
    QImage picture;
    {
        MainWindow window(modelSignals, *shot.feed);
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.resize(state.windowWidth, state.windowHeight);
        if (!state.chrome) window.chromeLayer().hide();
        window.show();
        QCoreApplication::processEvents();

        const std::vector<unsigned char> pixels = colourBars(state.frameWidth, state.frameHeight);
        const hollowkit::PlaneView plane{pixels.data(), static_cast<size_t>(state.frameWidth) * 4};
        shot.feed->mailbox().push(hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::bgra, state.frameWidth,
                                                                   state.frameHeight, {&plane, 1}, {}));
        window.surface().showWaitingFrame();
        picture = window.surface().grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    return picture;
}

}  // namespace lumenhollow::shots
