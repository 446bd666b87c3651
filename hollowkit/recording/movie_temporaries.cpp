#include "hollowkit/recording/movie_temporaries.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <set>
#include <system_error>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "hollowkit/base/new_file.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/recording/descriptor_input.h"

namespace hollowkit {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMovieExtension = ".mov";
constexpr std::string_view kPhotoExtension = ".heic";
// Files written whole by writeFileAtomically (a take's "Cursor.json").
constexpr std::string_view kDataExtension = ".json";
constexpr std::string_view kUniqueLetters = "XXXXXX";
// A removal between creating a file and locking it is rare; two of them in
// a row would be a second instance sweeping in a loop.
constexpr int kCreateAttempts = 3;
// Packets read in search of a picture before a file counts as holding one.
constexpr int kMaxPacketsLooked = 20000;

bool isLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

int lockExclusive(int fd, int flags) {
    while (::flock(fd, LOCK_EX | flags) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

// Locks a file just created. False when it lost its name before the lock
// was taken: a removal of leftovers took it for one.
Result<bool, int> lockCreated(int fd) {
    if (const int error = lockExclusive(fd, 0); error != 0) return unexpected(error);
    struct stat status {};
    if (::fstat(fd, &status) != 0) return unexpected(errno);
    return status.st_nlink > 0;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Unlinks `name` in `folder` when it is still the file open as `fd`.
bool unlinkIfSame(int folder, const char* name, int fd) {
    struct stat named {};
    struct stat open {};
    if (::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || ::fstat(fd, &open) != 0) return false;
    return sameFile(named, open) && ::unlinkat(folder, name, 0) == 0;
}

// The movie name a recording's temporary reserved: ".X.mov.abc123" stands
// for "X.mov". Empty for a combined movie's temporary, whose movie is never
// a reservation.
std::string reservedName(std::string_view temporary) {
    if (temporary.ends_with(MovieTemporaries::kPartialSuffix)) return {};
    temporary.remove_prefix(1);
    temporary.remove_suffix(kUniqueLetters.size() + 1);
    return std::string(temporary);
}

bool isEmptyRegular(int folder, const std::string& name) {
    struct stat status {};
    return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
           status.st_size == 0;
}

// Removes `name` when it is an empty file that no process holds: the name a
// recording reserved and never filled.
bool removeEmptyName(int folder, const std::string& name) {
    // Most are movies with contents: looked at without opening them.
    if (!isEmptyRegular(folder, name)) return false;
    UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != 0) return false;
    if (lockExclusive(fd.get(), LOCK_NB) != 0) return false;
    return unlinkIfSame(folder, name.c_str(), fd.get());
}

// Whether `name` ends in ".XXXXXX" after something ending in `extension`
// that follows the leading dot.
bool isHiddenUnique(std::string_view name, std::string_view extension) {
    if (!name.starts_with('.')) return false;
    constexpr size_t kTail = kUniqueLetters.size() + 1;
    if (name.size() < kTail || name[name.size() - kTail] != '.') return false;
    for (size_t i = name.size() - kUniqueLetters.size(); i < name.size(); ++i) {
        if (!isLetterOrDigit(name[i])) return false;
    }
    name.remove_suffix(kTail);
    return name.size() > 1 + extension.size() && name.ends_with(extension);
}

// Removes the file `name` when no process holds it.
bool removeUnheld(int folder, const std::string& name) {
    UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    if (lockExclusive(fd.get(), LOCK_NB) != 0) return false;
    return unlinkIfSame(folder, name.c_str(), fd.get());
}

// What one clearing did, with the name of each file it removed or restored
// (relative to the output folder) for the log.
struct Sweep {
    MovieTemporaries::Leftovers counts;
    std::vector<std::string> removedMovies;
    std::vector<std::string> restoredMovies;  // quoted already: "<temporary>" as "<movie>"
    std::vector<std::string> removedPhotos;
    std::vector<std::string> removedFiles;
};

// One temporary: removed when nobody holds it and it has no picture (with
// the empty name it reserved), put in place when it has one and its name is
// still empty. False when it stays.
bool clearTemporary(int folder, const fs::path& path, const std::string& shownFolder, Sweep& sweep) {
    MovieTemporaries::Leftovers& counts = sweep.counts;
    const std::string name = path.filename().string();
    UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    // Held: a process still writes it.
    if (lockExclusive(fd.get(), LOCK_NB) != 0) return false;
    const std::string reserved = reservedName(name);
    if (MovieTemporaries::holdsPicture(fd.get())) {
        // Killed between the first picture reaching the disk and the rename
        // that gives it its name: it is the movie.
        if (!reserved.empty() && isEmptyRegular(folder, reserved) &&
            ::renameat(folder, name.c_str(), folder, reserved.c_str()) == 0) {
            ++counts.restored;
            sweep.restoredMovies.push_back("\"" + shownFolder + name + "\" as \"" + reserved + "\"");
            return true;
        }
        ++counts.kept;
        return false;
    }
    if (!unlinkIfSame(folder, name.c_str(), fd.get())) return false;
    ++counts.removed;
    sweep.removedMovies.push_back(shownFolder + name);
    if (!reserved.empty() && removeEmptyName(folder, reserved)) {
        ++counts.removed;
        sweep.removedMovies.push_back(shownFolder + reserved);
    }
    return true;
}

// `shownFolder` is the folder as the log names it: empty for the output
// folder, "<take>/" for a take's.
void sweepFolder(const fs::path& folder, const std::string& shownFolder, Sweep& sweep) {
    MovieTemporaries::Leftovers& counts = sweep.counts;
    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) return;
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entries(folder, error); !error && entries != fs::directory_iterator();
         entries.increment(error)) {
        names.push_back(entries->path().filename().string());
    }
    // Names a temporary that stays still stands for: its writer runs, or it
    // holds a picture.
    std::set<std::string> claimed;
    for (const std::string& name : names) {
        if (!MovieTemporaries::isTemporaryName(name)) continue;
        if (!clearTemporary(directory.get(), folder / name, shownFolder, sweep)) {
            claimed.insert(reservedName(name));
        }
    }
    // An empty movie with no temporary beside it: killed before its writer
    // began. A running recorder holds its name until it is filled.
    for (const std::string& name : names) {
        if (name.starts_with('.') || !name.ends_with(kMovieExtension) || claimed.count(name) != 0) continue;
        if (removeEmptyName(directory.get(), name)) {
            ++counts.removed;
            sweep.removedMovies.push_back(shownFolder + name);
        }
    }
    // A photo's temporary nobody writes was cut off before its photo was
    // whole; an empty photo is nobody's photo.
    for (const std::string& name : names) {
        bool removed = false;
        if (MovieTemporaries::isPhotoTemporaryName(name)) {
            removed = removeUnheld(directory.get(), name);
        } else if (!name.starts_with('.') && name.ends_with(kPhotoExtension)) {
            removed = removeEmptyName(directory.get(), name);
        }
        if (removed) {
            ++counts.photos;
            sweep.removedPhotos.push_back(shownFolder + name);
        }
    }
    // A file written whole whose writer was killed before the rename (its
    // writer holds it until then).
    for (const std::string& name : names) {
        if (isHiddenUnique(name, kDataExtension) && removeUnheld(directory.get(), name)) {
            ++counts.files;
            sweep.removedFiles.push_back(shownFolder + name);
        }
    }
}

std::string quotedList(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) text += ", ";
        text += "\"" + name + "\"";
    }
    return text;
}

enum class Look : uint8_t { none, picture };

// Whether the open movie has a picture before it ends. One too long to look
// through counts as having one.
Look lookForPicture(AVFormatContext& input) {
    bool hasVideoTrack = false;
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        AVStream* stream = input.streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            hasVideoTrack = true;
        } else {
            stream->discard = AVDISCARD_ALL;
        }
    }
    if (!hasVideoTrack) return Look::none;
    ffmpeg::PacketPtr packet = ffmpeg::allocPacket();
    if (!packet) return Look::picture;
    for (int i = 0; i < kMaxPacketsLooked; ++i) {
        if (av_read_frame(&input, packet.get()) < 0) return Look::none;
        const bool picture = packet->size > 0 &&
                             input.streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        av_packet_unref(packet.get());
        if (picture) return Look::picture;
    }
    return Look::picture;
}

}  // namespace

Result<UniqueFd, int> MovieTemporaries::createUnique(const FileInFolder& movie, std::string& name) {
    const std::string prefix = "." + movie.name + ".";
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string created;
        auto fd = createUniqueFile(movie.folder, prefix, created);
        if (!fd) return unexpected(fd.error().value());
        auto locked = lockCreated(fd->get());
        if (!locked) {
            ::unlinkat(movie.folder.fd(), created.c_str(), 0);
            return unexpected(locked.error());
        }
        if (!*locked) continue;
        name = std::move(created);
        return std::move(fd).value();
    }
    return unexpected(EAGAIN);
}

Result<UniqueFd, int> MovieTemporaries::createExclusive(const fs::path& path) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        Result<UniqueFd, int> created = reserveName(path);
        if (created || created.error() != EEXIST) return created;
        // A file of that name: the leftover of a killed process, unless one
        // that runs still holds it.
        UniqueFd old(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!old) {
            if (errno == ENOENT) continue;
            return unexpected(errno);
        }
        if (const int error = lockExclusive(old.get(), LOCK_NB); error != 0) {
            return unexpected(error == EWOULDBLOCK ? EBUSY : error);
        }
        const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
        UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!directory) return unexpected(errno);
        unlinkIfSame(directory.get(), path.filename().c_str(), old.get());
    }
    return unexpected(EEXIST);
}

Result<UniqueFd, int> MovieTemporaries::reserveName(const fs::path& movie) {
    auto place = FileInFolder::at(movie);
    if (!place) return unexpected(place.error().value());
    return reserveName(*place);
}

Result<UniqueFd, int> MovieTemporaries::reserveName(const FileInFolder& movie) {
    const int folder = movie.folder.fd();
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        UniqueFd fd(::openat(folder, movie.name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd) return unexpected(errno);
        auto locked = lockCreated(fd.get());
        if (!locked) {
            ::unlinkat(folder, movie.name.c_str(), 0);
            return unexpected(locked.error());
        }
        if (*locked) return fd;
    }
    return unexpected(EAGAIN);
}

bool MovieTemporaries::isTemporaryName(std::string_view name) {
    if (!name.starts_with('.')) return false;
    if (!name.ends_with(kPartialSuffix)) return isHiddenUnique(name, kMovieExtension);
    name.remove_suffix(kPartialSuffix.size());
    // Something before the extension: ".mov.partial" alone is nobody's.
    return name.size() > 1 + kMovieExtension.size() && name.ends_with(kMovieExtension);
}

bool MovieTemporaries::isPhotoTemporaryName(std::string_view name) {
    return isHiddenUnique(name, kPhotoExtension);
}

bool MovieTemporaries::holdsPicture(int fd) {
    // Through the descriptor: the file may have lost the name it was made
    // under, or its folder its path, and /proc may not show it.
    auto input = DescriptorInput::open(fd);
    if (!input) return input.error().unreadable;
    const Look look = lookForPicture(*input.value()->context());
    return look == Look::picture || input.value()->readError() != 0;
}

bool MovieTemporaries::holdsPicture(const fs::path& movie) {
    const std::string url = "file:" + movie.string();
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, url.c_str(), av_find_input_format("mov"), nullptr) < 0) return false;
    ffmpeg::FormatContextPtr input(raw);
    return lookForPicture(*input) == Look::picture;
}

UniqueFd MovieTemporaries::holdReservation(const fs::path& movie) {
    auto place = FileInFolder::at(movie);
    if (!place) return {};
    return holdReservation(*place);
}

UniqueFd MovieTemporaries::holdReservation(const FileInFolder& movie) {
    UniqueFd fd(::openat(movie.folder.fd(), movie.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != 0 ||
        lockExclusive(fd.get(), LOCK_NB) != 0) {
        return {};
    }
    return fd;
}

MovieTemporaries::Leftovers MovieTemporaries::removeLeftovers(const fs::path& outputFolder) {
    Sweep sweep;
    sweepFolder(outputFolder, {}, sweep);
    std::error_code error;
    fs::directory_iterator entries(outputFolder, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        // Take folders only; a link may lead anywhere.
        std::error_code kind;
        if (entries->is_directory(kind) && !entries->is_symlink(kind)) {
            sweepFolder(entries->path(), entries->path().filename().string() + "/", sweep);
        }
    }
    // A kept one (a finished rewrite beside its movie) is no news each start.
    // Every file removed or moved is named: the person may look for it.
    const Leftovers& counts = sweep.counts;
    const std::string shown = outputFolder.filename().string();
    if (counts.removed > 0 || counts.restored > 0) {
        std::string names;
        if (!sweep.removedMovies.empty()) names += "; removed " + quotedList(sweep.removedMovies);
        for (size_t i = 0; i < sweep.restoredMovies.size(); ++i) {
            names += (i == 0 ? "; restored " : ", ") + sweep.restoredMovies[i];
        }
        PocketLog::logf("Unfinished movies of an earlier run in %s: %d removed, %d restored, %d kept%s", shown.c_str(),
                        counts.removed, counts.restored, counts.kept, names.c_str());
    }
    if (counts.photos > 0) {
        PocketLog::logf("Unfinished photos of an earlier run in %s: %d removed (%s)", shown.c_str(), counts.photos,
                        quotedList(sweep.removedPhotos).c_str());
    }
    if (counts.files > 0) {
        PocketLog::logf("Unfinished files of an earlier run in %s: %d removed (%s)", shown.c_str(), counts.files,
                        quotedList(sweep.removedFiles).c_str());
    }
    return counts;
}

}  // namespace hollowkit
