#pragma once

// DescriptorInput: a movie opened for reading by libavformat through a file
// descriptor it borrows, never through a path: the file is read whatever
// its name is now, and without /proc (a process that cannot see its own
// descriptors there still reads what it holds). Reads go by pread at the
// input's own offset, so the descriptor's offset is left alone. One thread
// at a time.

#include <cstdint>
#include <memory>

#include "hollowkit/base/result.h"
#include "hollowkit/media/ffmpeg_handles.h"

struct AVIOContext;

namespace hollowkit {

// libavformat's seek over a descriptor read or written at an offset of the
// caller's own (`position`): moves it and answers AVSEEK_SIZE from fstat.
// Returns the new offset, or a negative AVERROR.
int64_t seekDescriptor(int fd, int64_t& position, int64_t offset, int whence);

class DescriptorInput {
public:
    struct Failure {
        int averror = 0;
        bool unreadable = false;  // the file would not give its bytes (not: they are no movie)
    };

    // Opens the movie in `fd` as a QuickTime movie.
    static Result<std::unique_ptr<DescriptorInput>, Failure> open(int fd);

    ~DescriptorInput();
    DescriptorInput(const DescriptorInput&) = delete;
    DescriptorInput& operator=(const DescriptorInput&) = delete;

    AVFormatContext* context() const { return context_.get(); }
    // The first read that failed (an errno value), or 0: an input that ends
    // early because the disk would not give its bytes is unreadable, not
    // short.
    int readError() const { return readError_; }

private:
    explicit DescriptorInput(int fd) : fd_(fd) {}

    static int read(void* opaque, unsigned char* data, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    const int fd_;
    int64_t position_ = 0;
    int readError_ = 0;
    AVIOContext* io_ = nullptr;
    ffmpeg::FormatContextPtr context_;
};

}  // namespace hollowkit
