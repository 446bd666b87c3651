#include "lumenhollow/model/camera_model.h"

#include <cstdio>

#include "hollowkit/imaging/lut_library.h"
#include "hollowkit/recording/media_library.h"
#include "hollowkit/recording/movie_temporaries.h"
#include "lumenhollow/model/credentials.h"
#include "lumenhollow/model/scene_store.h"
#include "lumenhollow/model/stored_settings.h"

namespace lumenhollow {

namespace {

template <typename T, typename Make, typename... Args>
std::shared_ptr<T> makeShared(const Make& make, Args&&... args) {
    if (make) return make(std::forward<Args>(args)...);
    return std::make_shared<T>(std::forward<Args>(args)...);
}

}  // namespace

std::shared_ptr<CameraModel> CameraModel::create(CameraModelServices services) {
    std::shared_ptr<CameraModel> model(new CameraModel(std::move(services)));
    // The handlers set while constructing hold the model weakly, so it must
    // already be shared.
    model->construct();
    return model;
}

CameraModel::CameraModel(CameraModelServices services)
    : services_(std::move(services)),
      main_(services_.main),
      settings_(
          services_.settings, [this](const std::string& why) { tellNotSaved("Settings", why); },
          [this] { notSavedShown_ = false; }) {}

CameraModel::~CameraModel() {
    // The closures hold the model weakly and would do nothing; cancelling
    // keeps repeating timers from firing for ever.
    for (hollowkit::TaskId task : {levelTimer_, diskTimer_, route_.pendingRetry, recording_.countdownTask,
                                   recording_.pictureWatch, recording_.cardStartPending, faces_.autoFrameTimer}) {
        main_.cancel(task);
    }
    for (const auto& [id, photo] : photos_.pending) main_.cancel(photo.giveUp);
    // Whoever waits for the photos hears; the writer, at its end, finishes
    // those handed to it.
    for (auto& waiter : std::exchange(photos_.doneWaiters, {})) main_.post(std::move(waiter));
    // Movies still being written or completed are completed rather than cut
    // off, before the model's end returns (each recorder completes a finish
    // asked for as it goes): none outlives the model to post to an executor
    // that may be gone by then. Whoever waits for them hears afterwards.
    // The tap lets go of them first, once no camera or microphone thread is
    // still handing one a sample: such a thread would otherwise hold the
    // last of a recorder and end it there, after the model.
    tap_->detach();
    if (recording_.recorder) recording_.recorder->finish(std::nullopt, {});
    recording_.recorder.reset();
    recording_.finishingMovies.clear();
    for (auto& waiter : std::exchange(recording_.movieFinishWaiters, {})) main_.post(std::move(waiter));
    endTakesWithTheModel();
    // The composition ends with the model; whoever waits for it hears so.
    takes_.composer.reset();
    if (takes_.composeCompletion) main_.post(std::exchange(takes_.composeCompletion, nullptr));
    for (auto& waiter : std::exchange(takes_.workWaiters, {})) main_.post(std::move(waiter));
    recording_.activity.end();
    if (route_.pendingResolution) main_.cancel(route_.pendingResolution->task);
    if (route_.pendingSwitch) main_.cancel(route_.pendingSwitch->watchdog);
    if (camera_) {
        camera_->setOnEvent(nullptr);
        camera_->setOnVideoSample(nullptr);
        camera_->setOnAudioSample(nullptr);
    }
}

void CameraModel::construct() {
    SettingsStore& settings = settings_;

    // Published values that are read rather than fixed, in this order.
    state_.showWelcome = !settings.get<bool>(settings_key::welcomed, false);
    const HomeWiFiPasswordStore homeWiFi(settings, services_.secrets);
    state_.homeNetwork = homeWiFi.load();
    LoadedScenes scenes = loadScenes(settings, kMaxScenes);
    state_.scenes = std::move(scenes.scenes);
    scenesReadInPart_ = scenes.readInPart;
    startLoadingLooks(settings);
    if (std::optional<Url> take = settings.get<Url>(settings_key::lastScreenTake)) {
        state_.lastScreenTake = take->path();
    }
    state_.wirelessMicID = settings.get<std::string>(settings_key::wirelessMicrophone, "");

    // Plain fields.
    displayLayer_ = services_.displayLayer;
    notchDisplayLayer_ = services_.notchDisplayLayer;
    notchPreviewActive_ = std::make_shared<AtomicFlag>(false);
    outputFolder_ = services_.outputFolder.empty() ? hollowkit::MediaLibrary::folder() : services_.outputFolder;
    processor_ = makeShared<hollowkit::FrameProcessor>(services_.imaging.processor);
    backgroundPreview_ = makeShared<hollowkit::BackgroundPreview>(services_.imaging.backgroundPreview);
    tap_ = std::make_shared<CaptureTap>(main_.clock());
    faceDetector_ = services_.imaging.faceDetector
                        ? services_.imaging.faceDetector(kFaceDetectionsPerSecond)
                        : std::make_shared<hollowkit::FaceDetector>(kFaceDetectionsPerSecond);
    faceFollower_ = services_.imaging.faceFollower ? services_.imaging.faceFollower()
                                                   : std::make_unique<hollowkit::FaceFollower>();

    state_.connection = services_.cameras.isPocketConnected() ? ConnectionMode::usb : ConnectionMode::wireless;
    readStoredSettings(settings, state_);

    // A fresh keychain read, not the published value.
    camera_ = makeCamera(state_.connection, homeWiFi.load());

    // Restore a built-in look; an imported one is selected once it has been
    // read (startLoadingLooks).
    if (std::optional<std::string> id = settings.get<std::string>(settings_key::selectedLUT)) {
        if (const hollowkit::ColorLUT* builtIn = hollowkit::LUTLibrary::builtInLook(*id)) {
            state_.selectedLUT = *builtIn;
        }
    }
    processor_->setLUT(state_.selectedLUT);

    applyPreviewStyle();

    framePath_ = std::make_shared<FramePath>(
        FramePath::Parts{processor_, tap_, faceDetector_, notchPreviewActive_, displayLayer_, notchDisplayLayer_,
                         backgroundPreview_},
        main_);
    attachCamera(*camera_);

    faceDetector_->setOnFaces([weak = weak_from_this(), main = &main_](
                                  const std::vector<hollowkit::NormalizedRect>& faces, hollowkit::TimePoint seenAt) {
        main->post([weak, faces, seenAt] {
            if (auto self = weak.lock()) self->handleFaceObservations(faces, seenAt);
        });
    });

    // A run that was killed may have left unfinished movies (hidden
    // temporaries) in the output folder; they are cleared off the main
    // executor, the files a running writer holds excepted.
    // A folder nothing could show (Open Output Folder, a take's reveal) is
    // told in the window instead: a log line is all the person would get.
    services_.desktop.setNotShownHandler([weak = weak_from_this(), main = &main_](const std::filesystem::path& folder) {
        main->post([weak, folder] {
            if (auto self = weak.lock()) self->folderNotShown(folder);
        });
    });

    leftoverQueue_ = std::make_unique<hollowkit::SerialQueue>("Lumenhollow.Leftovers");
    leftoverQueue_->post([folder = outputFolder_] { (void)hollowkit::MovieTemporaries::removeLeftovers(folder); });
}

CameraModel::ObserverId CameraModel::addObserver(Observer observer) {
    const ObserverId id = nextObserverId_++;
    observers_.emplace_back(id, std::make_shared<const Observer>(std::move(observer)));
    return id;
}

void CameraModel::removeObserver(ObserverId id) {
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void CameraModel::notify(Field field) {
    // Observers may add or remove observers while being told.
    const auto observers = observers_;
    for (const auto& [id, observer] : observers) (*observer)(field);
}

std::string folderNotShownNotice(const std::filesystem::path& folder) {
    return "No file manager to open it: the folder is " + folder.string();
}

std::string outcomeFolderNotShownNotice(const std::string& outcome, const std::filesystem::path& folder) {
    if (outcome.empty()) return folderNotShownNotice(folder);
    const char last = outcome.back();
    const bool ended = last == '.' || last == '!' || last == '?';
    return outcome + (ended ? " " : ". ") + folderNotShownNotice(folder);
}

void CameraModel::folderNotShown(const std::filesystem::path& folder) {
    // Told of a take's file: the notice saying what became of the take is
    // not replaced by the folder's, it is said with it.
    if (revealOutcome_ && revealOutcome_->first == std::filesystem::absolute(folder).lexically_normal()) {
        postNotice(outcomeFolderNotShownNotice(std::exchange(revealOutcome_, std::nullopt)->second, folder));
        return;
    }
    postNotice(folderNotShownNotice(folder));
}

void CameraModel::postNotice(std::string text) {
    // Numbered before it is announced: observers read the new number.
    ++noticeSerial_;
    publish<Field::notice>(std::move(text));
}

void CameraModel::clearNotice(uint64_t serial) {
    if (serial != noticeSerial_ || !state_.notice) return;
    publish<Field::notice>(std::nullopt);
}

void CameraModel::showMainWindow() {
    services_.shell.activateApplication();
    if (services_.shell.bringMainWindowForward()) return;
    if (openMainWindow_) openMainWindow_();
}

double CameraModel::previewAspect() const {
    if (state_.settledResolution && state_.settledResolution->height > 0) {
        return state_.settledResolution->width / state_.settledResolution->height;
    }
    if (state_.activeFormat && state_.activeFormat->height > 0) {
        return static_cast<double>(state_.activeFormat->width) / state_.activeFormat->height;
    }
    return 16.0 / 9.0;
}

std::string CameraModel::zoomLabel() const {
    // The steps publish the range they use before zooming, so the published
    // one is the only one to read.
    if (!state_.zoomRange) return "-";
    if (!state_.zoom) return "1.0x";
    char text[32];
    std::snprintf(text, sizeof text, "%.1fx", *state_.zoom / 100.0);
    return text;
}

std::optional<std::string> CameraModel::wirelessAudioNote() const {
    if (state_.connection != ConnectionMode::wireless) return std::nullopt;
    return "The camera's Wi-Fi preview has no audio. Recordings to the microSD card still include the "
           "camera's and your DJI Mic's sound.";
}

}  // namespace lumenhollow
