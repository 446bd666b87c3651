#pragma once

// A screen-and-camera take: its folder and the files it holds (ScreenTake),
// the running take's recorders (ScreenSession), and the composer that turns
// its two movies into the combined one (TakeComposer).
//
// A take folder holds up to five files with fixed names: "Screen.mov" (the
// screen from its first complete frame), "Camera.mov" (the camera from that
// same frame, on the same clock), "Cursor.json" (the pointer, counted from
// that frame), "Camera.json" (only when the camera's picture turned between
// landscape and portrait) and "Combined.mov".

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/base/held_folder.h"
#include "hollowkit/recording/cursor_recorder.h"
#include "hollowkit/recording/movie_recorder.h"
#include "hollowkit/recording/screen_composer.h"
#include "hollowkit/recording/screen_recorder.h"

namespace lumenhollow {

// One take folder. Plain value; the file tests touch the disk.
struct ScreenTake {
    static constexpr const char* kScreenFile = "Screen.mov";
    static constexpr const char* kCameraFile = "Camera.mov";
    static constexpr const char* kCursorFile = "Cursor.json";
    static constexpr const char* kCameraFramesFile = "Camera.json";
    static constexpr const char* kCombinedFile = "Combined.mov";

    std::filesystem::path folder;

    std::filesystem::path screenURL() const { return folder / kScreenFile; }
    std::filesystem::path cameraURL() const { return folder / kCameraFile; }
    std::filesystem::path cursorURL() const { return folder / kCursorFile; }
    std::filesystem::path cameraFramesURL() const { return folder / kCameraFramesFile; }
    std::filesystem::path combinedURL() const { return folder / kCombinedFile; }

    // Both movies are there (the camera's is looked for only when the
    // screen's is), so the take can be combined.
    bool hasScreenAndCamera() const;

    // The take in `held` as it is now: at the path `held` has now, wherever
    // the folder was moved (HeldFolder::currentPath); `take` itself when
    // `held` holds nothing. Reads the file system.
    static ScreenTake whereNow(const ScreenTake& take, const hollowkit::HeldFolder& held);
    // The take read through `held`: its files' paths lead through the held
    // descriptor (HeldFolder::pathOf), for the readers that take a path.
    static ScreenTake through(const hollowkit::HeldFolder& held);

    bool operator==(const ScreenTake&) const = default;
};

// What the log says of a take whose combined movie a quit left unmade
// (both movies written, the composition never begun or stopped): which
// folder, that its movies are whole, what an earlier "Combined.mov" there
// is, and the command that makes it. Reads whether "Combined.mov" exists.
std::string takeLeftToRebuild(const ScreenTake& take);

// Where one of a take's movies stood when a quit stopped waiting for it.
enum class TakeMovieState : uint8_t {
    whole,       // its recorder reported it complete
    failed,      // its recorder reported that it could not be written
    completing,  // still being completed: the program's end completes it
    none,        // never begun (a take without a camera picture)
};

// What the log says of a take whose movies a quit stopped waiting for:
// which folder, what of it is whole, what is still being completed (what
// reached the disk stays should the end be cut short), and the command that
// makes its combined movie when both movies can be there.
std::string takeLeftUnfinished(const ScreenTake& take, TakeMovieState screen, TakeMovieState camera);

// The running take, owned by the model while it records and by the stop's
// finish afterwards; the recorders' handlers hold it weakly. Main executor.
struct ScreenSession {
    ScreenTake take;
    // The take's folder, held from its making: its files are written there
    // whatever becomes of its path while the take records and finishes.
    hollowkit::HeldFolder folder;
    std::unique_ptr<hollowkit::ScreenRecorder> screen;
    std::unique_ptr<hollowkit::CursorRecorder> cursor;
    // Made at the first screen frame; null until then.
    std::shared_ptr<hollowkit::MovieRecorder> camera;
    // The first screen frame's capture time on the host clock.
    std::optional<hollowkit::TimePoint> startTime;
};

// Composes "Combined.mov" from a take's movies; one composition per
// composer. Progress and the result come on the main executor, every
// progress report before the result. Destroying the composer ends a
// running composition without a result, leaving the output as it was; a
// result made before is posted by the time the destructor returns.
class TakeComposer {
public:
    virtual ~TakeComposer() = default;
    virtual void compose(hollowkit::ComposeRequest request, hollowkit::ScreenComposer::Progress progress,
                         hollowkit::ScreenComposer::Completion completion) = 0;
};

using TakeComposerFactory = std::function<std::unique_ptr<TakeComposer>()>;

// A movie's length in seconds, 0 when it cannot be read. Reads the file, so
// it waits on the disk: never on the main executor. Any thread.
using MovieLengthProbe = std::function<double(const std::filesystem::path& movie)>;

// The library's movie reader behind MovieLengthProbe.
double readMovieSeconds(const std::filesystem::path& movie);

// The library's ScreenComposer behind the interface.
std::unique_ptr<TakeComposer> makeScreenComposer(hollowkit::Executor& main,
                                                 hollowkit::ScreenComposerOptions options = {});

}  // namespace lumenhollow
