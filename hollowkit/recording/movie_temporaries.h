#pragma once

// MovieTemporaries: the hidden files that stand beside a movie while it is
// being made (a recording until its first picture is on disk, its rewrite
// when it is completed, a combined movie until it is complete) or beside a
// photo until its bytes are on disk, and the removal at start-up of those a
// killed process left behind.
//
// Every writer holds an exclusive flock on its hidden file for as long as it
// writes, so the removal leaves the files of a process that still runs (a
// second instance) alone. A writer takes the lock right after it creates the
// file and then checks that the file still has its name: a removal that came
// in between is noticed and the file made again. Stateless; any thread.

#include <filesystem>
#include <string>
#include <string_view>

#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/unique_fd.h"

namespace hollowkit {

class MovieTemporaries {
public:
    MovieTemporaries() = delete;

    // The suffix of a combined movie's temporary: ".Combined.mov.partial".
    static constexpr std::string_view kPartialSuffix = ".partial";

    // A locked file ".<name of movie>.XXXXXX" beside `movie`, in its held
    // folder. `name` receives its name there. The error is an errno value.
    static Result<UniqueFd, int> createUnique(const FileInFolder& movie, std::string& name);

    // A locked file at `path`, created exclusively. A file already there is
    // replaced when no process holds it (the leftover of a killed process),
    // and refused with EBUSY when one does.
    static Result<UniqueFd, int> createExclusive(const std::filesystem::path& path);

    // A locked empty file reserving `movie`'s name, created exclusively: a
    // file already there is never replaced (EEXIST). Held, it is no killed
    // run's reservation to a removal of leftovers. The error is an errno
    // value.
    static Result<UniqueFd, int> reserveName(const std::filesystem::path& movie);
    static Result<UniqueFd, int> reserveName(const FileInFolder& movie);

    // Holds the empty file that reserves `movie`'s name, so no clearing
    // takes it for a killed run's while it waits for its first picture.
    // Invalid (nothing held) when there is no such empty file or another
    // holds it.
    static UniqueFd holdReservation(const std::filesystem::path& movie);
    static UniqueFd holdReservation(const FileInFolder& movie);

    // Whether `name` (a file name alone) is one of ours:
    // ".<name>.mov.XXXXXX" (XXXXXX six letters or digits) or
    // ".<name>.mov.partial".
    static bool isTemporaryName(std::string_view name);
    // Whether `name` is a photo's temporary: ".<name>.heic.XXXXXX".
    static bool isPhotoTemporaryName(std::string_view name);

    // Whether libavformat finds at least one picture in `movie`. A file it
    // cannot open, or one that ends before any picture, has none; one too
    // long to look through counts as having one.
    static bool holdsPicture(const std::filesystem::path& movie);
    // The same for the movie open as `fd`, whatever its name is now, read
    // through the descriptor (no /proc needed). One whose bytes cannot be
    // read counts as having a picture: what cannot be looked at is never
    // taken for nothing.
    static bool holdsPicture(int fd);

    struct Leftovers {
        int removed = 0;   // temporaries without a picture, and empty reserved names
        int restored = 0;  // recordings killed just before they took their name, put in place
        int kept = 0;      // temporaries that hold a picture, left where they are
        int photos = 0;    // photos' temporaries, and empty files under a photo's name
        int files = 0;     // temporaries of files written whole (a take's Cursor.json)

        bool operator==(const Leftovers&) const = default;
    };

    // Looks through `outputFolder` and the folders directly inside it (the
    // takes) for temporaries that no process holds. One without a picture is
    // removed, with the movie name it reserved when that is still empty; a
    // recording's that holds a picture while its movie name is still empty
    // takes that name. An empty ".mov" that nobody holds and no temporary
    // stands beside is a name reserved by a recording killed before its
    // writer began, and is removed too. A photo's temporary that nobody
    // holds was cut off before its photo was whole, and goes; so does an
    // empty ".heic" nobody holds (no photo is ever empty: such a name was
    // reserved by an earlier version killed before its photo came). A
    // writeFileAtomically temporary ".<name>.json.XXXXXX" nobody holds was
    // cut off before its rename, and goes. Nothing else is touched; the log
    // names every file removed or restored. Blocks on the disk: call it off
    // the main thread.
    static Leftovers removeLeftovers(const std::filesystem::path& outputFolder);
};

}  // namespace hollowkit
