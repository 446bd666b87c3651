#pragma once

// CameraModelServices: everything the camera model is given from outside,
// and how it makes its imaging components. Every reference must outlive the
// model and every task it has posted.

#include <filesystem>
#include <functional>
#include <memory>

#include "hollowkit/base/executor.h"
#include "hollowkit/imaging/background_preview.h"
#include "hollowkit/imaging/face_detector.h"
#include "hollowkit/imaging/face_follower.h"
#include "hollowkit/imaging/frame_processor.h"
#include "hollowkit/recording/audio_input_backend.h"
#include "hollowkit/recording/movie_writer.h"
#include "hollowkit/recording/recording_system.h"
#include "hollowkit/recording/still_encoder.h"
#include "lumenhollow/model/app_shell.h"
#include "lumenhollow/model/camera_factory.h"
#include "lumenhollow/model/screen_take.h"
#include "lumenhollow/model/video_sink.h"
#include "lumenhollow/platform/desktop.h"
#include "lumenhollow/platform/disk_space.h"
#include "lumenhollow/platform/file_picker.h"
#include "lumenhollow/platform/power_assertion.h"
#include "lumenhollow/platform/secret_store.h"
#include "lumenhollow/platform/secure_random.h"
#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

// How the model makes its imaging components; an empty function means the
// library's own default. Tests pass fakes' backends and manual queues.
struct ImagingFactory {
    std::function<std::shared_ptr<hollowkit::FrameProcessor>()> processor;
    std::function<std::shared_ptr<hollowkit::BackgroundPreview>()> backgroundPreview;
    std::function<std::shared_ptr<hollowkit::FaceDetector>(double rate)> faceDetector;
    std::function<std::unique_ptr<hollowkit::FaceFollower>()> faceFollower;
    // Where imported looks are read and prepared; null: a queue of the model's own.
    hollowkit::Executor* lookQueue = nullptr;
};

// Everything the model uses from outside. Every reference must outlive the
// model and every task it has posted.
struct CameraModelServices {
    hollowkit::MainExecutor& main;
    SettingsStore& settings;
    SecretStore& secrets;
    SecureRandom& random;
    DiskSpace& disk;
    CameraFactory& cameras;
    AppShell& shell;
    Desktop& desktop;
    // The main window's and the notch island's previews.
    std::shared_ptr<VideoSink> displayLayer;
    std::shared_ptr<VideoSink> notchDisplayLayer;
    // Where recordings and photos go; empty means the user's usual folder.
    std::filesystem::path outputFolder;
    ImagingFactory imaging;
    // The computer's sound inputs, recorded over the wireless route; null:
    // there are none.
    hollowkit::AudioInputBackend* audioInputs = nullptr;
    // Keeps the computer awake while a movie is written; null: nothing is held.
    PowerAssertion* powerAssertion = nullptr;
    // How movies and photos are encoded; empty or null: the library's own.
    hollowkit::MovieWriterFactory movieWriters = {};
    const hollowkit::StillEncoder* stillEncoder = nullptr;
    // The chooser for importing looks and for a take to rebuild; null:
    // neither does anything.
    FilePicker* filePicker = nullptr;
    // The displays, pointer, key presses and screen capture of takes of the
    // screen; null: a take cannot start (Record says so).
    hollowkit::RecordingSystem* recordingSystem = nullptr;
    // Makes the composer of each combined movie; empty: the library's own.
    TakeComposerFactory takeComposers = {};
    // Reads the length of a rebuilt take's screen movie, on a worker of the
    // model's; empty: the library's reader.
    MovieLengthProbe movieLengths = {};
};

}  // namespace lumenhollow
