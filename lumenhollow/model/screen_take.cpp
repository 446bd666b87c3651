#include "lumenhollow/model/screen_take.h"

#include <string>
#include <system_error>
#include <utility>

#include "hollowkit/recording/movie_reader.h"

namespace lumenhollow {

namespace {

bool fileExists(const std::filesystem::path& file) {
    std::error_code error;
    return std::filesystem::exists(file, error);
}

class LibraryComposer final : public TakeComposer {
public:
    LibraryComposer(hollowkit::Executor& main, hollowkit::ScreenComposerOptions options)
        : composer_(main, std::move(options)) {}

    void compose(hollowkit::ComposeRequest request, hollowkit::ScreenComposer::Progress progress,
                 hollowkit::ScreenComposer::Completion completion) override {
        composer_.compose(std::move(request), std::move(progress), std::move(completion));
    }

private:
    hollowkit::ScreenComposer composer_;
};

}  // namespace

bool ScreenTake::hasScreenAndCamera() const {
    return fileExists(screenURL()) && fileExists(cameraURL());
}

ScreenTake ScreenTake::whereNow(const ScreenTake& take, const hollowkit::HeldFolder& held) {
    return held.valid() ? ScreenTake{held.currentPath()} : take;
}

ScreenTake ScreenTake::through(const hollowkit::HeldFolder& held) {
    return ScreenTake{held.pathOf("")};
}

std::string takeLeftToRebuild(const ScreenTake& take) {
    // Combined.mov only ever takes its name whole (the composer renames it
    // into place), so one there is an earlier composition's.
    std::string text = "the combined video of the take in " + take.folder.string() + " was not made";
    if (fileExists(take.combinedURL())) text += " anew (its Combined.mov is an earlier one)";
    return text +
           "; its Screen.mov and Camera.mov are whole, and \"Rebuild Another Take…\" under \"Record Screen and "
           "Camera\" makes it from that folder";
}

std::string takeLeftUnfinished(const ScreenTake& take, TakeMovieState screen, TakeMovieState camera) {
    const auto said = [](const char* movie, TakeMovieState state) -> std::string {
        switch (state) {
            case TakeMovieState::whole: return std::string("its ") + movie + " is whole";
            case TakeMovieState::failed: return std::string("its ") + movie + " could not be written";
            case TakeMovieState::completing:
                return std::string("its ") + movie + " is completed as the program ends, keeping what reached the disk";
            case TakeMovieState::none: return std::string("it has no ") + movie;
        }
        return {};
    };
    std::string text = "the take in " + take.folder.string() + " was not finished: " +
                       said(ScreenTake::kScreenFile, screen) + ", " + said(ScreenTake::kCameraFile, camera);
    const auto usable = [](TakeMovieState state) {
        return state == TakeMovieState::whole || state == TakeMovieState::completing;
    };
    if (!usable(screen) || !usable(camera)) return text + "; it has no combined video";
    return text + "; \"Rebuild Another Take…\" under \"Record Screen and Camera\" makes its combined video from that "
                  "folder";
}

double readMovieSeconds(const std::filesystem::path& movie) {
    auto reader = hollowkit::MovieReader::open(movie);
    if (!reader) return 0;
    const double seconds = (*reader)->duration();
    return seconds > 0 ? seconds : 0;
}

std::unique_ptr<TakeComposer> makeScreenComposer(hollowkit::Executor& main,
                                                 hollowkit::ScreenComposerOptions options) {
    return std::make_unique<LibraryComposer>(main, std::move(options));
}

}  // namespace lumenhollow
