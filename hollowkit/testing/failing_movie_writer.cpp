#include "hollowkit/testing/failing_movie_writer.h"

#include <map>
#include <utility>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

// One writer's switch, reachable from the test while the writer is owned
// by a recorder.
struct FailSwitch {
    Mutex mutex;
    MovieWriter::FailureHandler handler HK_GUARDED_BY(mutex);
    bool started HK_GUARDED_BY(mutex) = false;
    bool finishing HK_GUARDED_BY(mutex) = false;
    std::string error HK_GUARDED_BY(mutex);  // set once failed
    int samples HK_GUARDED_BY(mutex) = 0;
};

struct FailingMovieWriters::Shared {
    mutable Mutex mutex;
    std::map<std::string, std::shared_ptr<FailSwitch>> latest HK_GUARDED_BY(mutex);
};

namespace {

class FailingMovieWriter final : public MovieWriter {
public:
    FailingMovieWriter(std::unique_ptr<MovieWriter> inner, std::shared_ptr<FailSwitch> state)
        : inner_(std::move(inner)), state_(std::move(state)) {}

    void setOnFailure(FailureHandler handler) override {
        MutexLock lock(state_->mutex);
        state_->handler = std::move(handler);
    }

    Result<void, std::string> start(const MovieWriterSettings& settings, TimePoint sessionStart) override {
        auto started = inner_->start(settings, sessionStart);
        if (started) {
            MutexLock lock(state_->mutex);
            state_->started = true;
        }
        return started;
    }

    bool isWriting() const override { return !failed() && inner_->isWriting(); }
    bool readyForVideo() const override { return !failed() && inner_->readyForVideo(); }
    bool readyForAudio() const override { return !failed() && inner_->readyForAudio(); }

    bool appendVideo(const VideoFrame& frame) override { return taken(!failed() && inner_->appendVideo(frame)); }
    bool appendAudio(const AudioChunk& chunk) override { return taken(!failed() && inner_->appendAudio(chunk)); }

    std::string errorText() const override {
        {
            MutexLock lock(state_->mutex);
            if (!state_->error.empty()) return state_->error;
        }
        return inner_->errorText();
    }

    Result<void, std::string> finish(std::optional<TimePoint> endTime) override {
        {
            MutexLock lock(state_->mutex);
            state_->finishing = true;
        }
        auto finished = inner_->finish(endTime);
        MutexLock lock(state_->mutex);
        if (!state_->error.empty()) return unexpected(state_->error);
        return finished;
    }

private:
    bool failed() const {
        MutexLock lock(state_->mutex);
        return !state_->error.empty();
    }
    bool taken(bool took) {
        if (took) {
            MutexLock lock(state_->mutex);
            ++state_->samples;
        }
        return took;
    }

    std::unique_ptr<MovieWriter> inner_;
    std::shared_ptr<FailSwitch> state_;
};

}  // namespace

FailingMovieWriters::FailingMovieWriters(MovieWriterFactory inner)
    : factory_(std::move(inner)), shared_(std::make_shared<Shared>()) {}

FailingMovieWriters::~FailingMovieWriters() = default;

MovieWriterFactory FailingMovieWriters::factory() {
    return [shared = shared_, inner = factory_](const FileInFolder& output) -> std::unique_ptr<MovieWriter> {
        std::unique_ptr<MovieWriter> made = inner(output);
        if (!made) return nullptr;
        auto state = std::make_shared<FailSwitch>();
        {
            MutexLock lock(shared->mutex);
            shared->latest[output.name] = state;
        }
        return std::make_unique<FailingMovieWriter>(std::move(made), std::move(state));
    };
}

bool FailingMovieWriters::fail(const std::string& fileName, const std::string& error) {
    std::shared_ptr<FailSwitch> state;
    {
        MutexLock lock(shared_->mutex);
        auto found = shared_->latest.find(fileName);
        if (found == shared_->latest.end()) return false;
        state = found->second;
    }
    MovieWriter::FailureHandler handler;
    {
        MutexLock lock(state->mutex);
        if (!state->started || state->finishing || !state->error.empty()) return false;
        state->error = error.empty() ? "unknown" : error;
        handler = state->handler;
    }
    if (handler) handler(error);
    return true;
}

int FailingMovieWriters::samplesTaken(const std::string& fileName) const {
    MutexLock lock(shared_->mutex);
    auto found = shared_->latest.find(fileName);
    if (found == shared_->latest.end()) return 0;
    MutexLock stateLock(found->second->mutex);
    return found->second->samples;
}

}  // namespace hollowkit
