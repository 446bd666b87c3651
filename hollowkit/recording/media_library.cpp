#include "hollowkit/recording/media_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "hollowkit/base/local_time.h"
#include "hollowkit/base/new_file.h"
#include "hollowkit/base/bounded_file.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/base/user_directories.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// One value of a shell assignment, read as the shell reads it: double
// quotes where a backslash keeps its meaning only before $ ` " \ and,
// outside quotes, takes any character; single quotes take everything. A
// leading unquoted or double-quoted $HOME is set apart (xdg-user-dirs
// expands nothing else); any other expansion or an open quote gives
// nothing, since its value is not in the text.
struct ShellWord {
    bool fromHome = false;
    std::string value;
};

std::optional<ShellWord> shellWord(std::string_view text) {
    constexpr std::string_view kHome = "$HOME";
    ShellWord word;
    enum class Quote { none, single, twin } quote = Quote::none;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == Quote::single) {
            if (c == '\'') {
                quote = Quote::none;
            } else {
                word.value += c;
            }
            continue;
        }
        if (c == '\\') {
            if (i + 1 == text.size()) return std::nullopt;
            const char next = text[i + 1];
            if (quote == Quote::twin && std::string_view("$`\"\\").find(next) == std::string_view::npos) {
                word.value += c;
                continue;
            }
            word.value += next;
            ++i;
            continue;
        }
        if (c == '"') {
            quote = quote == Quote::twin ? Quote::none : Quote::twin;
            continue;
        }
        if (quote == Quote::none && c == '\'') {
            quote = Quote::single;
            continue;
        }
        if (quote == Quote::none && (c == ' ' || c == '\t')) break;  // a comment or another word follows
        if (c == '$' && !word.fromHome && word.value.empty() && text.substr(i).starts_with(kHome)) {
            const char after = i + kHome.size() < text.size() ? text[i + kHome.size()] : '\0';
            if (std::isalnum(static_cast<unsigned char>(after)) || after == '_') return std::nullopt;
            word.fromHome = true;
            i += kHome.size() - 1;
            continue;
        }
        if (c == '$' || c == '`') return std::nullopt;
        word.value += c;
    }
    if (quote != Quote::none) return std::nullopt;
    return word;
}

MediaLibraryError errorFor(int errnoValue, const fs::path& path,
                           MediaLibraryError::Kind kind = MediaLibraryError::Kind::outputFolder) {
    return MediaLibraryError{std::error_code(errnoValue, std::generic_category()), path, kind};
}

Result<void, MediaLibraryError> createFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return unexpected(MediaLibraryError{error, folder});
    // create_directories reports success for an existing non-directory leaf
    // on some library versions; the caller needs a directory.
    if (!fs::is_directory(folder, error)) {
        return unexpected(errorFor(error ? error.value() : ENOTDIR, folder));
    }
    return {};
}

// Tries "<base>", "<base> 2", "<base> 3" … + suffix until `create` makes one
// that did not exist. `create` returns 0 or an errno value.
template <typename Create>
Result<fs::path, MediaLibraryError> reserve(const fs::path& folder, const std::string& base,
                                            std::string_view extension, MediaLibraryError::Kind kind,
                                            Create create) {
    // Built with append: g++ 12 at -O3 misreads literal + string as an
    // overlapping copy (-Wrestrict).
    for (int n = 1; n <= MediaLibrary::kMaxSuffix; ++n) {
        std::string name = base;
        if (n > 1) name.append(" ").append(std::to_string(n));
        if (!extension.empty()) name.append(".").append(extension);
        fs::path candidate = folder / name;
        const int result = create(candidate);
        if (result == 0) return candidate;
        if (result != EEXIST) return unexpected(errorFor(result, candidate, kind));
    }
    return unexpected(errorFor(EEXIST, folder / base, kind));
}

}  // namespace

std::string MediaLibraryError::userMessage() const {
    std::string text = code.message();
    if (!path.empty()) text += " (" + path.string() + ")";
    return text;
}

std::string MediaLibraryError::notice() const {
    switch (kind) {
    case Kind::file:
        return "Could not create the file " + path.filename().string() + ": " + code.message();
    case Kind::takeFolder:
        return "Could not create the folder " + path.filename().string() + ": " + code.message();
    case Kind::outputFolder:
    case Kind::none:
        break;
    }
    return "Could not create the output folder: " + userMessage();
}

std::optional<fs::path> MediaLibrary::videosDirFromUserDirs(std::string_view fileText, std::string_view home) {
    // The file is written by xdg-user-dirs-update as shell assignments whose
    // values are either "$HOME/…" or an absolute path; anything else is
    // ignored, as the format allows no other form.
    std::optional<fs::path> result;
    constexpr std::string_view kKey = "XDG_VIDEOS_DIR=";
    while (!fileText.empty()) {
        const size_t end = fileText.find('\n');
        std::string_view text = trim(fileText.substr(0, end));
        fileText.remove_prefix(end == std::string_view::npos ? fileText.size() : end + 1);
        if (!text.starts_with(kKey)) continue;
        text.remove_prefix(kKey.size());
        const auto word = shellWord(text);
        if (!word) continue;
        if (word->fromHome) {
            if (home.empty()) continue;
            if (!word->value.empty() && word->value.front() != '/') continue;
            result = fs::path(std::string(home) + word->value).lexically_normal();
        } else if (!word->value.empty() && word->value.front() == '/') {
            result = fs::path(word->value).lexically_normal();
        }
    }
    return result;
}

UserDirsEnvironment MediaLibrary::currentEnvironment() {
    UserDirsEnvironment environment;
    environment.home = homeDirectory();
    if (const char* config = std::getenv("XDG_CONFIG_HOME")) environment.xdgConfigHome = config;
    return environment;
}

fs::path MediaLibrary::videosDirectory(const UserDirsEnvironment& environment) {
    const fs::path home = environment.home.empty() ? fs::path("/") : fs::path(environment.home);
    // Read on the main thread while the app starts: a FIFO or a link to a
    // device in its place must neither hold the start up nor fill memory.
    auto text = readBoundedText(configHome(home, environment.xdgConfigHome) / "user-dirs.dirs", kMaxUserDirsBytes);
    if (text) {
        if (auto videos = videosDirFromUserDirs(*text, home.string())) return *videos;
    } else if (text.error().kind != FileReadError::Kind::cannotOpen || text.error().errorNumber != ENOENT) {
        PocketLog::logf("Videos folder: %s; using the default", text.error().userMessage().c_str());
    }
    return home / "Videos";
}

fs::path MediaLibrary::folder(const UserDirsEnvironment& environment) {
    return videosDirectory(environment) / kFolderName;
}

fs::path MediaLibrary::folder() {
    return folder(currentEnvironment());
}

std::string MediaLibrary::fileName(std::string_view kind, Date date) {
    std::string name(kAppName);
    name += ' ';
    name += kind;
    name += ' ';
    name += LocalTime::of(date).dateAtTime();
    return name;
}

Result<fs::path, MediaLibraryError> MediaLibrary::fileURL(const fs::path& folder,
                                                          std::string_view kind,
                                                          std::string_view extension, Date date) {
    if (auto created = createFolder(folder); !created) return unexpected(created.error());
    return reserve(folder, fileName(kind, date), extension, MediaLibraryError::Kind::file, [](const fs::path& path) {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        return fd.valid() ? 0 : errno;
    });
}

Result<void, MediaLibraryError> MediaLibrary::ensureFolder(const fs::path& folder) {
    return createFolder(folder);
}

Result<fs::path, MediaLibraryError> MediaLibrary::moveIntoPlace(const fs::path& temporary, const fs::path& folder,
                                                                std::string_view kind, std::string_view extension,
                                                                Date date) {
    return reserve(folder, fileName(kind, date), extension, MediaLibraryError::Kind::file,
                   [&temporary](const fs::path& path) { return renameWithoutReplacing(temporary, path).value(); });
}

Result<fs::path, MediaLibraryError> MediaLibrary::moveIntoPlace(const HeldFolder& folder, const std::string& temporary,
                                                                std::string_view kind, std::string_view extension,
                                                                Date date) {
    return reserve(folder.path(), fileName(kind, date), extension, MediaLibraryError::Kind::file,
                   [&](const fs::path& path) {
                       return renameWithoutReplacing(folder, temporary, folder, path.filename().string()).value();
                   });
}

Result<fs::path, MediaLibraryError> MediaLibrary::takeFolderURL(const fs::path& folder,
                                                                std::string_view kind, Date date) {
    if (auto created = createFolder(folder); !created) return unexpected(created.error());
    return reserve(folder, fileName(kind, date), "", MediaLibraryError::Kind::takeFolder, [](const fs::path& path) {
        return ::mkdir(path.c_str(), 0755) == 0 ? 0 : errno;
    });
}

}  // namespace hollowkit
