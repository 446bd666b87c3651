#pragma once

// FragmentedMovieFile: the file under a movie being written, kept playable
// whatever happens to the process. While recording, the muxer writes it as a
// fragmented QuickTime movie, a self-contained piece about every second, and
// each fragment is pushed toward the disk as it is written; a kill or a power
// cut loses the last second or two, not the movie. At the end complete()
// rewrites it as a regular movie (one index at the end, edit lists and all)
// into a hidden temporary in the same folder, flushes that to the disk and
// renames it over the fragments, so players see the movie they always saw.
// The writer's thread owns it (one thread at a time). If the rewrite fails
// the fragmented movie stays in place: playable, only less common.
//
// A movie without a picture is no movie: until the first piece holding a
// picture is on the disk, the file is a hidden, locked temporary beside the
// movie's name (MovieTemporaries), and the name stays the empty file that
// reserved it. That piece gives the file its name. A movie completed
// without any picture is removed, leaving the name empty for its owner to
// remove; a killed one leaves a temporary for the next start to clear.
//
// Everything is done in the folder the movie was started in, held open,
// never by its path: a folder renamed, moved aside and replaced (by a link,
// a file, another folder) or covered by a mount while the movie records
// still gets the whole, finished movie under its name. The movie counts as
// removed only when its name is gone from that folder.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/unique_fd.h"

struct AVDictionary;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace hollowkit {

class FragmentedMovieFile {
public:
    // Creates the file, or takes the empty one reserved for it. A file with
    // contents belongs to someone else and is refused (EEXIST's text).
    static Result<std::unique_ptr<FragmentedMovieFile>, std::string> open(const FileInFolder& place);
    // The same in the folder `path` names now.
    static Result<std::unique_ptr<FragmentedMovieFile>, std::string> open(const std::filesystem::path& path);

    ~FragmentedMovieFile();
    FragmentedMovieFile(const FragmentedMovieFile&) = delete;
    FragmentedMovieFile& operator=(const FragmentedMovieFile&) = delete;

    // The output the muxer writes through; it stays owned by this object.
    AVIOContext* io() const;

    // The muxer options that cut the movie into fragments. The recording
    // context must also carry AVFMT_FLAG_CUSTOM_IO.
    static void addMuxerOptions(AVDictionary** options);

    // Remembers a packet's times and size as it goes to the muxer (times in
    // its stream's time base), so the rewrite can restore exactly what the
    // fragments had to shift. Called just before the packet's write.
    void noteWritten(const AVPacket& packet);

    // Called after each of the muxer's packet writes, when the file ends
    // with a whole piece (the header or a fragment): notes that end, and
    // gives the file its name once a fragment with a picture is on the disk.
    // At each new fragment it also looks whether the movie was removed (its
    // folder, or the file under its name or its hidden one): the error then
    // says so, and nothing more written can be kept. A folder only moved
    // still holds it.
    Result<void, std::string> noteMuxed(const AVFormatContext& recording);

    // After the recording's trailer: rewrites the movie as a regular one and
    // puts it in place. The error is for a file that could not be written or
    // closed at all, or that is no longer at its name (its folder or the
    // file itself was removed); a failed rewrite of fragments still in place
    // is only logged. A file whose writing failed (a full disk) is cut back
    // to its last whole fragment, so no piece cut off half-way ends it, and
    // stays fragmented. A movie without a picture is removed and succeeds:
    // its name is left empty.
    Result<void, std::string> complete(const AVFormatContext& recording);

private:
    struct Written {
        int stream = 0;
        int flags = 0;
        int size = 0;
        int64_t pts = 0;
        int64_t dts = 0;
        int64_t duration = 0;
    };

    struct FileId {
        uint64_t device = 0;
        uint64_t inode = 0;
        bool operator==(const FileId&) const = default;
    };

    FragmentedMovieFile(FileInFolder place, std::string temporary, UniqueFd fd);
    Result<void, std::string> rewrite(const AVFormatContext& recording);
    int putInPlace();
    void settleCutShort();
    bool atItsName() const;
    bool removed() const;

    struct Output;

    const FileInFolder place_;
    std::string temporary_;  // the hidden name in place_'s folder while no picture is on disk; empty once in place
    UniqueFd fd_;            // locked until closed
    std::unique_ptr<Output> output_;
    std::vector<Written> written_;
    int64_t wholeEnd_ = 0;      // where the last whole fragment written ends
    int64_t videoMuxed_ = 0;    // pictures the muxer had taken at that point
    FileId placed_;             // the file under place_'s name once in place
    bool loggedPlaceFailure_ = false;
    bool completed_ = false;
};

}  // namespace hollowkit
