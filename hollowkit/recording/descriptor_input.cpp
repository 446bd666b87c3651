#include "hollowkit/recording/descriptor_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

extern "C" {
#include <libavformat/avformat.h>
}

namespace hollowkit {
namespace {

constexpr int kReadBufferBytes = 64 * 1024;

}  // namespace

Result<std::unique_ptr<DescriptorInput>, DescriptorInput::Failure> DescriptorInput::open(int fd) {
    std::unique_ptr<DescriptorInput> input(new DescriptorInput(fd));
    auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBufferBytes));
    if (buffer == nullptr) return unexpected(Failure{AVERROR(ENOMEM), false});
    input->io_ = avio_alloc_context(buffer, kReadBufferBytes, 0, input.get(), &DescriptorInput::read, nullptr,
                                    &DescriptorInput::seek);
    if (input->io_ == nullptr) {
        av_free(buffer);
        return unexpected(Failure{AVERROR(ENOMEM), false});
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) return unexpected(Failure{AVERROR(ENOMEM), false});
    raw->pb = input->io_;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    // On failure the context is freed by the call itself.
    const int rc = avformat_open_input(&raw, nullptr, av_find_input_format("mov"), nullptr);
    if (rc < 0) {
        if (input->readError_ != 0) return unexpected(Failure{AVERROR(input->readError_), true});
        return unexpected(Failure{rc, false});
    }
    input->context_.reset(raw);
    return input;
}

DescriptorInput::~DescriptorInput() {
    // The context first: it reads nothing more, and leaves a caller's I/O
    // to the caller.
    context_.reset();
    if (io_ == nullptr) return;
    av_freep(&io_->buffer);
    avio_context_free(&io_);
}

int DescriptorInput::read(void* opaque, unsigned char* data, int size) {
    auto* self = static_cast<DescriptorInput*>(opaque);
    for (;;) {
        const ssize_t n = ::pread(self->fd_, data, static_cast<size_t>(size), self->position_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (self->readError_ == 0) self->readError_ = errno;
            return AVERROR(errno);
        }
        if (n == 0) return AVERROR_EOF;
        self->position_ += n;
        return static_cast<int>(n);
    }
}

int64_t seekDescriptor(int fd, int64_t& position, int64_t offset, int whence) {
    struct stat status {};
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        if (::fstat(fd, &status) != 0) return AVERROR(errno);
        return status.st_size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += position;
        break;
    case SEEK_END:
        if (::fstat(fd, &status) != 0) return AVERROR(errno);
        offset += status.st_size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0) return AVERROR(EINVAL);
    position = offset;
    return offset;
}

int64_t DescriptorInput::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<DescriptorInput*>(opaque);
    return seekDescriptor(self->fd_, self->position_, offset, whence);
}

}  // namespace hollowkit
