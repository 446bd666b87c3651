#include "lumenhollow/model/screen_take.h"

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
