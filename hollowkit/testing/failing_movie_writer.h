#pragma once

// FailingMovieWriters: movie writers that write through other writers (real
// ones, so the files are real) until a test makes one fail as a full disk
// would: from then on it refuses every sample, tells its failure handler
// once (on the test's thread, standing in for the writer's own), and its
// finish completes what was written and returns the failure's text.
// Thread-safe.

#include <memory>
#include <string>

#include "hollowkit/recording/movie_writer.h"

namespace hollowkit {

class FailingMovieWriters {
public:
    explicit FailingMovieWriters(MovieWriterFactory inner);
    ~FailingMovieWriters();

    FailingMovieWriters(const FailingMovieWriters&) = delete;
    FailingMovieWriters& operator=(const FailingMovieWriters&) = delete;

    // Makes the writers; it may outlive this object.
    MovieWriterFactory factory();

    // Fails the latest writer made for a file named `fileName` (the name
    // alone, as "Screen.mov"). False, and nothing happens, when that writer
    // is not writing: never made, not started, finished or failed already.
    bool fail(const std::string& fileName, const std::string& error);

    // Samples the latest writer of `fileName` took.
    int samplesTaken(const std::string& fileName) const;

    struct Shared;

private:
    MovieWriterFactory factory_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace hollowkit
