#include "hollowkit/recording/fragmented_movie_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/recording/descriptor_input.h"
#include "hollowkit/recording/movie_temporaries.h"

namespace hollowkit {

namespace {

// Large enough that a fragment of a 1080p movie usually goes out in one write.
constexpr int kIoBufferBytes = 1 << 20;

constexpr const char* kMovieGone = "The movie file was removed while it was recorded";

std::string systemError(int errnoValue) {
    return std::strerror(errnoValue);
}

// Pictures the muxer has taken so far, whether or not on the disk yet.
int64_t picturesMuxed(const AVFormatContext& recording) {
    int64_t count = 0;
    for (unsigned i = 0; i < recording.nb_streams; ++i) {
        const AVStream* stream = recording.streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) count += stream->nb_frames;
    }
    return count;
}

bool takeExtradata(AVCodecParameters& target, const AVCodecParameters& source) {
    if (source.extradata_size <= 0) return true;
    av_freep(&target.extradata);
    target.extradata_size = 0;
    target.extradata = static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(source.extradata_size) +
                                                        AV_INPUT_BUFFER_PADDING_SIZE));
    if (target.extradata == nullptr) return false;
    std::memcpy(target.extradata, source.extradata, static_cast<size_t>(source.extradata_size));
    target.extradata_size = source.extradata_size;
    return true;
}

// Whether a sample read back is the one noted. Sound comes back byte for
// byte; video may have been rewritten from start codes to lengths, so its
// key frames must line up instead.
bool sameSample(const AVCodecParameters& track, int noteFlags, int noteSize, const AVPacket& packet) {
    if (track.codec_type == AVMEDIA_TYPE_VIDEO) {
        return (noteFlags & AV_PKT_FLAG_KEY) == (packet.flags & AV_PKT_FLAG_KEY);
    }
    return noteSize == packet.size;
}

}  // namespace

// An AVIOContext over a file descriptor that it borrows. With `writeback`
// every write also starts the kernel writing those pages to the disk, without
// waiting for it: the fragments of a live recording reach the disk within moments
// rather than at the kernel's next sweep, at no cost to the writer's thread.
struct FragmentedMovieFile::Output {
    Output(int descriptor, bool startWriteback) : fd(descriptor), writeback(startWriteback) {
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
        if (buffer == nullptr) return;
        io = avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &Output::write, &Output::seek);
        if (io == nullptr) av_free(buffer);
    }
    ~Output() {
        if (io == nullptr) return;
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    static int write(void* opaque, uint8_t* data, int size) {
        auto* self = static_cast<Output*>(opaque);
        const int64_t start = self->position;
        int done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(self->fd, data + done, static_cast<size_t>(size - done), self->position);
            if (n < 0) {
                if (errno == EINTR) continue;
                return AVERROR(errno);
            }
            done += static_cast<int>(n);
            self->position += n;
        }
        if (self->writeback) ::sync_file_range(self->fd, start, size, SYNC_FILE_RANGE_WRITE);
        return size;
    }

    static int64_t seek(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<Output*>(opaque);
        return seekDescriptor(self->fd, self->position, offset, whence);
    }

    const int fd;
    const bool writeback;
    int64_t position = 0;
    AVIOContext* io = nullptr;
};

FragmentedMovieFile::FragmentedMovieFile(FileInFolder place, std::string temporary, UniqueFd fd)
    : place_(std::move(place)),
      temporary_(std::move(temporary)),
      fd_(std::move(fd)),
      output_(std::make_unique<Output>(fd_.get(), true)) {}

FragmentedMovieFile::~FragmentedMovieFile() {
    // Dropped without complete (its owner went first): what is on the disk
    // stays if it holds a picture.
    if (!completed_) settleCutShort();
}

AVIOContext* FragmentedMovieFile::io() const {
    return output_->io;
}

Result<std::unique_ptr<FragmentedMovieFile>, std::string> FragmentedMovieFile::open(
    const std::filesystem::path& path) {
    auto place = FileInFolder::at(path);
    if (!place) return unexpected(place.error().message());
    return open(*place);
}

Result<std::unique_ptr<FragmentedMovieFile>, std::string> FragmentedMovieFile::open(const FileInFolder& place) {
    const int folder = place.folder.fd();
    // The name is the empty file reserved for this movie, made here when it
    // is missing; anything else belongs to someone and is left alone.
    mode_t mode = 0;
    {
        UniqueFd reserved(::openat(folder, place.name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
        if (!reserved) return unexpected(systemError(errno));
        struct stat status {};
        if (::fstat(reserved.get(), &status) != 0) return unexpected(systemError(errno));
        if (!S_ISREG(status.st_mode)) return unexpected(systemError(EISDIR));
        if (status.st_size > 0) return unexpected(systemError(EEXIST));
        mode = status.st_mode & 07777;
    }
    std::string temporary;
    auto created = MovieTemporaries::createUnique(place, temporary);
    if (!created) return unexpected(systemError(created.error()));
    UniqueFd fd = std::move(created.value());
    // The movie gets the mode its name was reserved with.
    if (::fchmod(fd.get(), mode) != 0) {
        const int error = errno;
        ::unlinkat(folder, temporary.c_str(), 0);
        return unexpected(systemError(error));
    }
    std::unique_ptr<FragmentedMovieFile> file(new FragmentedMovieFile(place, std::move(temporary), std::move(fd)));
    if (file->io() == nullptr) return unexpected(std::string("Out of memory"));
    return file;
}

void FragmentedMovieFile::addMuxerOptions(AVDictionary** options) {
    // An index-free start and a fragment at least every second (and at each
    // key frame), each handed to the file as soon as it is cut.
    av_dict_set(options, "movflags", "+empty_moov+frag_keyframe", 0);
    av_dict_set(options, "frag_duration", "1000000", 0);
    av_dict_set(options, "flush_packets", "1", 0);
    // Fragments after an empty index cannot carry edit lists; the muxer
    // shifts the tracks instead, and the rewrite restores the real times.
    av_dict_set(options, "use_editlist", "0", 0);
}

void FragmentedMovieFile::noteWritten(const AVPacket& packet) {
    written_.push_back(Written{packet.stream_index, packet.flags, packet.size, packet.pts, packet.dts,
                               packet.duration});
}

Result<void, std::string> FragmentedMovieFile::noteMuxed(const AVFormatContext& recording) {
    // Each of the muxer's writes is flushed as it ends: with nothing left in
    // the buffer, the file ends where a fragment ends. Noted after the write,
    // so a disk that fills at the next one keeps this one's piece.
    AVIOContext* io = output_->io;
    if (io->error < 0 || avio_tell(io) != output_->position) return {};
    // A piece written now holds every sample the muxer had taken before
    // this write; a picture among them is now on the disk.
    const bool grew = output_->position > wholeEnd_;
    wholeEnd_ = output_->position;
    // Looked at once a fragment (about a second), not at every packet: a
    // removed movie would otherwise record on into nothing until the stop.
    if (grew && removed()) return unexpected(std::string(kMovieGone));
    if (grew && videoMuxed_ > 0 && !temporary_.empty()) (void)putInPlace();
    videoMuxed_ = picturesMuxed(recording);
    return {};
}

// The file is gone once no name leads to it, its folder was removed, or,
// after it took its name, that name no longer holds it. Moved or renamed,
// the folder still has links and the file its name in it.
bool FragmentedMovieFile::removed() const {
    if (place_.folder.removed()) return true;
    struct stat status {};
    if (::fstat(fd_.get(), &status) == 0 && status.st_nlink == 0) return true;
    return temporary_.empty() && !atItsName();
}

// Gives the file the movie's name; errno when it cannot.
int FragmentedMovieFile::putInPlace() {
    // On the disk before it takes the name, or a power cut could leave the
    // name on a file whose fragments never arrived.
    // In the folder it was started in, wherever that now is.
    const int folder = place_.folder.fd();
    if (::fdatasync(fd_.get()) != 0 || ::renameat(folder, temporary_.c_str(), folder, place_.name.c_str()) != 0) {
        const int error = errno;
        if (!loggedPlaceFailure_) {
            loggedPlaceFailure_ = true;
            PocketLog::logf("Movie %s cannot take its name: %s", place_.name.c_str(), systemError(error).c_str());
        }
        return error;
    }
    temporary_.clear();
    struct stat status {};
    if (::fstat(fd_.get(), &status) == 0) placed_ = FileId{status.st_dev, status.st_ino};
    return 0;
}

// A movie that ends without its index (a full disk, or dropped by its owner)
// while still under its hidden name: it takes its name when its whole
// fragments hold a picture, and goes otherwise.
void FragmentedMovieFile::settleCutShort() {
    if (temporary_.empty()) return;
    // Pieces on the disk hold only samples the muxer had taken by the last
    // whole write.
    if (videoMuxed_ > 0 && MovieTemporaries::holdsPicture(fd_.get()) && putInPlace() == 0) return;
    ::unlinkat(place_.folder.fd(), temporary_.c_str(), 0);
    temporary_.clear();
}

bool FragmentedMovieFile::atItsName() const {
    struct stat status {};
    return ::fstatat(place_.folder.fd(), place_.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           FileId{status.st_dev, status.st_ino} == placed_;
}

Result<void, std::string> FragmentedMovieFile::complete(const AVFormatContext& recording) {
    completed_ = true;
    avio_flush(output_->io);
    if (const int error = output_->io->error; error < 0) {
        // Cutting back needs no room. What stays is the header and whole
        // fragments: every sample in it decodes.
        if (::ftruncate(fd_.get(), wholeEnd_) != 0 || ::fsync(fd_.get()) != 0) {
            PocketLog::logf("Movie %s could not be cut back to its last whole fragment: %s", place_.name.c_str(),
                            systemError(errno).c_str());
        }
        settleCutShort();
        return unexpected("Could not write to the movie file: " + ffmpeg::errorString(error));
    }
    if (!temporary_.empty()) {
        // The trailer wrote every sample out.
        if (picturesMuxed(recording) == 0) {
            PocketLog::logf("Movie %s holds no picture; removed", place_.name.c_str());
            ::unlinkat(place_.folder.fd(), temporary_.c_str(), 0);
            temporary_.clear();
            return {};
        }
        if (const int error = putInPlace(); error != 0) {
            return unexpected(error == ENOENT ? std::string(kMovieGone)
                                              : "Could not save the movie file: " + systemError(error));
        }
    }
    // Its folder or the file itself may have been removed while recording:
    // what is written then exists nowhere. A folder only moved or covered
    // still holds it.
    if (!atItsName()) return unexpected(std::string(kMovieGone));
    const auto rewriteStart = std::chrono::steady_clock::now();
    if (auto rewritten = rewrite(recording); rewritten) {
        // The one step a finish waits for that grows with the movie's length.
        PocketLog::logf("Movie %s completed in %.0f ms", place_.name.c_str(),
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - rewriteStart)
                            .count());
    } else {
        PocketLog::logf("Movie %s stays fragmented: %s", place_.name.c_str(), rewritten.error().c_str());
        if (::fsync(fd_.get()) != 0) return unexpected("Could not save the movie file: " + systemError(errno));
    }
    output_.reset();
    if (::close(fd_.release()) != 0 && errno != EINTR) {
        return unexpected("Could not close the movie file: " + systemError(errno));
    }
    if (!atItsName()) return unexpected(std::string(kMovieGone));
    return {};
}


Result<void, std::string> FragmentedMovieFile::rewrite(const AVFormatContext& recording) {
    // Read through the descriptor of the file written, never its name (nor
    // /proc, which a process may not see).
    const int folder = place_.folder.fd();
    auto opened = DescriptorInput::open(fd_.get());
    if (!opened) return unexpected("cannot read the fragments: " + ffmpeg::errorString(opened.error().averror));
    const std::unique_ptr<DescriptorInput> reader = std::move(opened).value();
    AVFormatContext* const input = reader->context();
    int rc = 0;
    if (input->nb_streams != recording.nb_streams) {
        return unexpected(std::string("the fragments have other tracks"));
    }

    // Hidden, so a rewrite cut short does not show among the user's files;
    // in the same folder, so the rename stays on one file system.
    std::string temporary;
    auto created = MovieTemporaries::createUnique(place_, temporary);
    if (!created) return unexpected("cannot create a temporary: " + systemError(created.error()));
    UniqueFd temporaryFd = std::move(created.value());
    struct Remover {
        int folder;
        const std::string* name;
        ~Remover() {
            if (name != nullptr) ::unlinkat(folder, name->c_str(), 0);
        }
    } remover{folder, &temporary};

    Output temporaryOutput(temporaryFd.get(), false);
    if (temporaryOutput.io == nullptr) return unexpected(std::string("out of memory"));
    AVFormatContext* rawOutput = nullptr;
    rc = avformat_alloc_output_context2(&rawOutput, nullptr, "mov", nullptr);
    if (rc < 0 || rawOutput == nullptr) return unexpected("QuickTime output: " + ffmpeg::errorString(rc));
    ffmpeg::FormatContextPtr output(rawOutput);
    output->pb = temporaryOutput.io;
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    av_dict_copy(&output->metadata, recording.metadata, 0);
    for (unsigned i = 0; i < recording.nb_streams; ++i) {
        const AVStream* source = recording.streams[i];
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (stream == nullptr) return unexpected(std::string("out of memory"));
        if ((rc = avcodec_parameters_copy(stream->codecpar, source->codecpar)) < 0) {
            return unexpected("track " + std::to_string(i) + ": " + ffmpeg::errorString(rc));
        }
        // The samples come back in the file's form (length-prefixed NAL
        // units), so the parameter sets must be in that form too, as the
        // recording's index has them; the encoder's start codes would make
        // the muxer convert the samples a second time.
        if (!takeExtradata(*stream->codecpar, *input->streams[i]->codecpar)) {
            return unexpected(std::string("out of memory"));
        }
        stream->time_base = source->time_base;
        stream->avg_frame_rate = source->avg_frame_rate;
        stream->disposition = source->disposition;
        av_dict_copy(&stream->metadata, source->metadata, 0);
    }
    AVDictionary* rawOptions = nullptr;
    // Edit lists carry the gap between the session start and the first
    // sample, and the encoders' start-up delay, so the movie lines up with
    // others started at the same moment.
    av_dict_set(&rawOptions, "use_editlist", "1", 0);
    av_dict_set(&rawOptions, "flush_packets", "0", 0);
    rc = avformat_write_header(output.get(), &rawOptions);
    av_dict_free(&rawOptions);
    if (rc < 0) return unexpected("cannot start the movie: " + ffmpeg::errorString(rc));

    // The samples come back per track in the order they were written; they
    // go out in the recording's order, with the recording's own times.
    std::vector<std::deque<ffmpeg::PacketPtr>> queued(recording.nb_streams);
    for (const Written& sample : written_) {
        auto& queue = queued[static_cast<size_t>(sample.stream)];
        while (queue.empty()) {
            ffmpeg::PacketPtr packet = ffmpeg::allocPacket();
            if (!packet) return unexpected(std::string("out of memory"));
            if ((rc = av_read_frame(input, packet.get())) < 0) {
                return unexpected("the fragments end early: " + ffmpeg::errorString(rc));
            }
            if (packet->stream_index < 0 || static_cast<unsigned>(packet->stream_index) >= queued.size()) continue;
            queued[static_cast<size_t>(packet->stream_index)].push_back(std::move(packet));
        }
        ffmpeg::PacketPtr packet = std::move(queue.front());
        queue.pop_front();
        if (!sameSample(*recording.streams[sample.stream]->codecpar, sample.flags, sample.size, *packet)) {
            return unexpected(std::string("the fragments hold other samples"));
        }
        av_packet_free_side_data(packet.get());
        packet->stream_index = sample.stream;
        packet->flags = sample.flags;
        packet->pts = sample.pts;
        packet->dts = sample.dts;
        packet->duration = sample.duration;
        packet->pos = -1;
        av_packet_rescale_ts(packet.get(), recording.streams[sample.stream]->time_base,
                             output->streams[sample.stream]->time_base);
        if ((rc = av_interleaved_write_frame(output.get(), packet.get())) < 0) {
            return unexpected("cannot write: " + ffmpeg::errorString(rc));
        }
    }
    if ((rc = av_write_trailer(output.get())) < 0) {
        return unexpected("cannot complete the movie: " + ffmpeg::errorString(rc));
    }
    avio_flush(temporaryOutput.io);
    if (temporaryOutput.io->error < 0) {
        return unexpected("cannot write: " + ffmpeg::errorString(temporaryOutput.io->error));
    }

    // The movie keeps the mode the recording's file was created with.
    struct stat status {};
    if (::fstat(fd_.get(), &status) != 0 || ::fchmod(temporaryFd.get(), status.st_mode & 07777) != 0 ||
        ::fstat(temporaryFd.get(), &status) != 0) {
        return unexpected("cannot set the mode: " + systemError(errno));
    }
    // Flushed before the rename, or a power cut soon after could leave the
    // name pointing at a file whose data never reached the disk. Renamed
    // while still open, so its lock holds until it has the movie's name.
    if (::fsync(temporaryFd.get()) != 0) return unexpected("cannot save: " + systemError(errno));
    if (::renameat(folder, temporary.c_str(), folder, place_.name.c_str()) != 0) {
        return unexpected("cannot rename: " + systemError(errno));
    }
    remover.name = nullptr;
    placed_ = FileId{status.st_dev, status.st_ino};
    temporaryFd.reset();
    // Makes the rename itself durable; the movie is in place either way.
    place_.folder.sync();
    return {};
}

}  // namespace hollowkit
