#pragma once

// MediaLibrary: where the app's recordings, photos and take folders go and
// what they are called. The output folder is "Lumenhollow" inside the user's
// videos folder; names carry the kind and the local date to the second
// ("Lumenhollow Video 2024-05-01 at 14.03.22.mov").
//
// A name handed out is reserved on disk at once (the empty file, or the take
// folder, is created exclusively), or, for a file whose contents are ready
// at once (a photo), taken by the finished file itself in a rename that
// replaces nothing. A name already taken gets " 2", " 3" … before its
// extension, so two recordings in the same second, or in the hour that
// repeats when summer time ends, never overwrite each other. Stateless; any
// thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

// A folder or name that could not be created. The callers show notice().
struct MediaLibraryError {
    enum class Kind : uint8_t {
        none = 0,
        outputFolder,  // the output folder itself (or a folder above it)
        file,          // a file in the output folder, which exists
        takeFolder,    // a take folder in the output folder, which exists
    };

    std::error_code code;
    std::filesystem::path path;
    Kind kind = Kind::outputFolder;

    // The system's text for the failure and the path, e.g.
    // "Permission denied (/home/ann/Videos/Lumenhollow)".
    std::string userMessage() const;

    // What the user is told: "Could not create the output folder: " +
    // userMessage(), or for what could not be made inside it, its name:
    // "Could not create the file Lumenhollow Video 2024-05-01 at
    // 14.03.22.mov: Permission denied" ("the folder …" for a take).
    std::string notice() const;

    bool operator==(const MediaLibraryError&) const = default;
};

// The parts of the environment that locate the videos folder.
struct UserDirsEnvironment {
    std::string home;           // $HOME (or the password database's entry)
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME, empty when unset

    bool operator==(const UserDirsEnvironment&) const = default;
};

class MediaLibrary {
public:
    MediaLibrary() = delete;

    static constexpr std::string_view kAppName = "Lumenhollow";
    static constexpr std::string_view kFolderName = "Lumenhollow";
    static constexpr std::string_view kVideoKind = "Video";
    static constexpr std::string_view kPhotoKind = "Photo";
    static constexpr std::string_view kScreenRecordingKind = "Screen Recording";
    // Past this many suffixes a name counts as unavailable.
    static constexpr int kMaxSuffix = 9999;
    // A real user-dirs.dirs holds a few hundred bytes.
    static constexpr uint64_t kMaxUserDirsBytes = uint64_t{64} << 10;

    // Callers take it from their Clock's wallNow().
    using Date = WallTime;

    // The output folder for this user: "Lumenhollow" inside the videos
    // folder. Not created here.
    static std::filesystem::path folder();
    static std::filesystem::path folder(const UserDirsEnvironment& environment);

    // The user's videos folder: XDG_VIDEOS_DIR from user-dirs.dirs in the
    // configuration folder when it names one, else ~/Videos.
    static std::filesystem::path videosDirectory(const UserDirsEnvironment& environment);
    static UserDirsEnvironment currentEnvironment();
    // XDG_VIDEOS_DIR from the text of a user-dirs.dirs file, "$HOME"
    // replaced by `home`: the last assignment that is "$HOME/…" or absolute
    // wins, as in the shell. Nothing when there is none.
    static std::optional<std::filesystem::path> videosDirFromUserDirs(std::string_view fileText,
                                                                      std::string_view home);

    // Creates `folder` (with its parents) and reserves a new, empty file
    // "<fileName(kind, date)>.<extension>" in it, suffixed when taken.
    // Returns the reserved file's path. Never touches an existing file.
    static Result<std::filesystem::path, MediaLibraryError> fileURL(
        const std::filesystem::path& folder, std::string_view kind, std::string_view extension,
        Date date);

    // Creates `folder` with its parents when it is missing; a failure is of
    // the kind outputFolder.
    static Result<void, MediaLibraryError> ensureFolder(const std::filesystem::path& folder);

    // Gives the finished file `temporary`, which lies in `folder`, its name
    // there: "<fileName(kind, date)>.<extension>", suffixed when taken. A
    // rename that replaces nothing, so no file of that name is touched and
    // nothing stands under the name before its contents do. Returns the
    // name taken; a failure (of the kind file) leaves `temporary` where it is.
    static Result<std::filesystem::path, MediaLibraryError> moveIntoPlace(
        const std::filesystem::path& temporary, const std::filesystem::path& folder, std::string_view kind,
        std::string_view extension, Date date);
    // The same for the file `temporary` in a held folder, named there
    // wherever the folder now is. The path returned, and the one a failure
    // names (the name that could not be taken), are under the folder's
    // opening path.
    static Result<std::filesystem::path, MediaLibraryError> moveIntoPlace(const HeldFolder& folder,
                                                                          const std::string& temporary,
                                                                          std::string_view kind,
                                                                          std::string_view extension, Date date);

    // Creates `folder` (with its parents) and a new take folder
    // "<fileName(kind, date)>" inside it, suffixed when taken.
    static Result<std::filesystem::path, MediaLibraryError> takeFolderURL(
        const std::filesystem::path& folder, std::string_view kind, Date date);

    // "Lumenhollow " + kind + " " + the date as "yyyy-MM-dd at HH.mm.ss" in
    // the local time zone, with Western digits and a 24-hour clock whatever
    // the user's locale.
    static std::string fileName(std::string_view kind, Date date);
};

}  // namespace hollowkit
