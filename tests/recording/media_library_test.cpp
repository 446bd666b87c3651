#include "hollowkit/recording/media_library.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/hostile_files.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/testing/test_support.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;
using Date = MediaLibrary::Date;

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> old_;
};

Date utc(int year, int month, int day, int hour, int minute, int second) {
    const auto days = std::chrono::sys_days(std::chrono::year(year) / month / day);
    return Date(days) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
           std::chrono::seconds(second);
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Names are dated from a clock's calendar time, which a ManualClock moves
// with its virtual time: the name follows the local date across midnight,
// the new year and a summer-time change, and a jump of the system time.
TEST(MediaLibraryTest, NamesAreDatedFromTheClocksLocalTime) {
    using std::chrono::hours;
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    struct Case {
        const char* zone;
        Date wallAtStart;
        Duration advance;  // virtual time passed before the name is made
        std::string_view kind;
        const char* expected;
    };
    const Case cases[] = {
        {"UTC", utc(2024, 5, 1, 14, 3, 22), {}, "Video", "Lumenhollow Video 2024-05-01 at 14.03.22"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc(2024, 5, 1, 14, 3, 22), {}, "Video",
         "Lumenhollow Video 2024-05-01 at 16.03.22"},
        {"EST5EDT,M3.2.0,M11.1.0", utc(2024, 1, 1, 3, 0, 5), {}, "Photo", "Lumenhollow Photo 2023-12-31 at 22.00.05"},
        // A fraction of a second is dropped, never rounded up.
        {"UTC", utc(2024, 12, 31, 23, 59, 59), milliseconds(999), "Screen Recording",
         "Lumenhollow Screen Recording 2024-12-31 at 23.59.59"},
        {"UTC", utc(2024, 12, 31, 23, 59, 59), seconds(1), "Video", "Lumenhollow Video 2025-01-01 at 00.00.00"},
        {"UTC", utc(2024, 2, 28, 23, 0, 0), hours(1) + seconds(7), "Photo", "Lumenhollow Photo 2024-02-29 at 00.00.07"},
        // Local midnight and new year while UTC is still in the old day.
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc(2024, 12, 31, 22, 59, 0), seconds(60), "Video",
         "Lumenhollow Video 2025-01-01 at 00.00.00"},
        // Summer time ends: 02:59:59 summer time is followed by 02:00:00.
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc(2024, 10, 27, 0, 59, 59), seconds(1), "Video",
         "Lumenhollow Video 2024-10-27 at 02.00.00"},
    };
    for (const Case& c : cases) {
        ScopedTimeZone zone(c.zone);
        ManualClock clock;
        clock.advance(hours(5));  // the calendar time is set, not taken from the start
        clock.setWall(c.wallAtStart);
        const TimePoint monotonic = clock.now();
        clock.advance(c.advance);
        EXPECT_EQ(MediaLibrary::fileName(c.kind, clock.wallNow()), c.expected) << c.zone << " " << c.expected;
        EXPECT_EQ(clock.now() - monotonic, c.advance);
    }
}

// The system time set back (a clock correction) dates the next name earlier
// while the monotonic time runs on.
TEST(MediaLibraryTest, ASystemTimeJumpMovesOnlyTheDate) {
    ScopedTimeZone zone("UTC");
    ManualClock clock;
    clock.setWall(utc(2025, 1, 1, 0, 0, 30));
    const TimePoint before = clock.now();
    clock.advanceSeconds(2);
    EXPECT_EQ(MediaLibrary::fileName("Video", clock.wallNow()), "Lumenhollow Video 2025-01-01 at 00.00.32");
    clock.setWall(utc(2024, 12, 31, 23, 59, 50));
    EXPECT_EQ(clock.now() - before, std::chrono::seconds(2));
    EXPECT_EQ(MediaLibrary::fileName("Video", clock.wallNow()), "Lumenhollow Video 2024-12-31 at 23.59.50");
    clock.advanceSeconds(10.5);
    EXPECT_EQ(MediaLibrary::fileName("Video", clock.wallNow()), "Lumenhollow Video 2025-01-01 at 00.00.00");
}

// The same second twice (a quick second recording, or the hour that repeats
// when summer time ends) must never hand out a name that is taken.
TEST(MediaLibraryTest, NamesInTheSameSecondNeverCollide) {
    ScopedTimeZone zone("UTC");
    testsupport::TempDir dir;
    const fs::path folder = dir.path() / "Videos" / "Lumenhollow";
    const Date date = utc(2024, 5, 1, 14, 3, 22);
    const std::string base = "Lumenhollow Video 2024-05-01 at 14.03.22";

    const auto first = MediaLibrary::fileURL(folder, "Video", "mov", date);
    ASSERT_TRUE(first.has_value()) << first.error().userMessage();
    EXPECT_EQ(first.value(), folder / (base + ".mov"));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::exists(first.value()));  // reserved at once

    writeFile(first.value(), "recorded movie");
    const auto second = MediaLibrary::fileURL(folder, "Video", "mov", date);
    const auto third = MediaLibrary::fileURL(folder, "Video", "mov", date);
    ASSERT_TRUE(second.has_value());
    ASSERT_TRUE(third.has_value());
    EXPECT_EQ(second.value(), folder / (base + " 2.mov"));
    EXPECT_EQ(third.value(), folder / (base + " 3.mov"));
    EXPECT_EQ(readFile(first.value()), "recorded movie");

    const auto take = MediaLibrary::takeFolderURL(folder, "Screen Recording", date);
    const auto secondTake = MediaLibrary::takeFolderURL(folder, "Screen Recording", date);
    ASSERT_TRUE(take.has_value());
    ASSERT_TRUE(secondTake.has_value());
    EXPECT_EQ(take.value(), folder / "Lumenhollow Screen Recording 2024-05-01 at 14.03.22");
    EXPECT_EQ(secondTake.value(), folder / "Lumenhollow Screen Recording 2024-05-01 at 14.03.22 2");
    EXPECT_TRUE(fs::is_directory(secondTake.value()));
}

TEST(MediaLibraryTest, FolderThatCannotBeCreatedIsAnError) {
    testsupport::TempDir dir;
    const fs::path file = dir.path() / "plain file";
    writeFile(file, "x");
    const Date date = ManualClock().wallNow();
    const auto movie = MediaLibrary::fileURL(file / "Lumenhollow", "Video", "mov", date);
    ASSERT_FALSE(movie.has_value());
    EXPECT_NE(movie.error().userMessage().find("Not a directory"), std::string::npos)
        << movie.error().userMessage();
    EXPECT_FALSE(MediaLibrary::takeFolderURL(file, "Screen Recording", date).has_value());
}

// What the user is told names what could not be made: the output folder,
// or inside the existing folder the movie's file or the take's folder.
TEST(MediaLibraryTest, TheNoticeNamesWhatCouldNotBeCreated) {
    testsupport::TempDir dir;
    writeFile(dir.path() / "plain file", "x");
    // Its names are too long to go in, yet it exists.
    const fs::path deep = testsupport::deepFolder(dir.path(), 4060);
    const Date date = ManualClock().wallNow();
    const std::string movie = MediaLibrary::fileName("Video", date) + ".mov";
    const std::string take = MediaLibrary::fileName("Screen Recording", date);
    const struct {
        const char* name;
        Result<fs::path, MediaLibraryError> result;
        MediaLibraryError::Kind kind;
        std::string notice;
    } cases[] = {
        {"the output folder", MediaLibrary::fileURL(dir.path() / "plain file" / "Lumenhollow", "Video", "mov", date),
         MediaLibraryError::Kind::outputFolder,
         "Could not create the output folder: Not a directory (" + (dir.path() / "plain file" / "Lumenhollow").string() +
             ")"},
        {"a movie in the folder", MediaLibrary::fileURL(deep, "Video", "mov", date), MediaLibraryError::Kind::file,
         "Could not create the file " + movie + ": File name too long"},
        {"a take in the folder", MediaLibrary::takeFolderURL(deep, "Screen Recording", date),
         MediaLibraryError::Kind::takeFolder, "Could not create the folder " + take + ": File name too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.result.has_value());
        EXPECT_EQ(c.result.error().kind, c.kind);
        EXPECT_EQ(c.result.error().notice(), c.notice);
    }
}

TEST(MediaLibraryTest, VideosFolderComesFromUserDirsOrDefaultsToVideos) {
    testsupport::TempDir dir;
    const std::string home = (dir.path() / "home").string();
    const fs::path config = dir.path() / "config";
    fs::create_directories(fs::path(home) / ".config");
    fs::create_directories(config);
    struct Case {
        const char* userDirs;  // nullptr: no file
        bool inXdgConfigHome;
        fs::path expected;
    };
    const Case cases[] = {
        {nullptr, false, fs::path(home) / "Videos"},
        {"XDG_VIDEOS_DIR=\"$HOME/Filme\"\n", false, fs::path(home) / "Filme"},
        {"# comment\nXDG_MUSIC_DIR=\"$HOME/Music\"\n  XDG_VIDEOS_DIR=\"/srv/videos\"\n", true, "/srv/videos"},
        {"XDG_VIDEOS_DIR=\"$HOMEfoo\"\n", true, fs::path(home) / "Videos"},
        {"XDG_VIDEOS_DIR=\"relative/videos\"\n", true, fs::path(home) / "Videos"},
        {"XDG_VIDEOS_DIR=\"$HOME/A\"\nXDG_VIDEOS_DIR=\"$HOME/My Videos\"\n", true, fs::path(home) / "My Videos"},
    };
    for (const Case& c : cases) {
        const fs::path configDir = c.inXdgConfigHome ? config : fs::path(home) / ".config";
        fs::remove(config / "user-dirs.dirs");
        fs::remove(fs::path(home) / ".config" / "user-dirs.dirs");
        if (c.userDirs) writeFile(configDir / "user-dirs.dirs", c.userDirs);
        const UserDirsEnvironment environment{home, c.inXdgConfigHome ? config.string() : ""};
        EXPECT_EQ(MediaLibrary::videosDirectory(environment), c.expected) << (c.userDirs ? c.userDirs : "none");
        EXPECT_EQ(MediaLibrary::folder(environment), c.expected / "Lumenhollow");
    }
    // A relative XDG_CONFIG_HOME is not a configuration folder.
    writeFile(config / "user-dirs.dirs", "XDG_VIDEOS_DIR=\"/elsewhere\"\n");
    EXPECT_EQ(MediaLibrary::videosDirectory({home, "config"}), fs::path(home) / "Videos");
}

// The value is read as the shell reads the file xdg-user-dirs-update wrote,
// which escapes $ ` " and \ inside its double quotes.
TEST(MediaLibraryTest, UserDirsValueIsReadAsTheShellReadsIt) {
    struct Case {
        const char* text;
        std::optional<fs::path> expected;
    };
    const Case cases[] = {
        {R"(XDG_VIDEOS_DIR="$HOME/My \"Best\" Videos")", fs::path("/home/ann/My \"Best\" Videos")},
        {R"(XDG_VIDEOS_DIR="/srv/media/../video\"s")", fs::path("/srv/video\"s")},
        {R"(XDG_VIDEOS_DIR="$HOME/back\\slash\\")", fs::path("/home/ann/back\\slash\\")},
        {R"(XDG_VIDEOS_DIR="$HOME/\$HOME and \`date\`")", fs::path("/home/ann/$HOME and `date`")},
        {R"(XDG_VIDEOS_DIR="$HOME/keep\n\a")", fs::path("/home/ann/keep\\n\\a")},
        {R"(XDG_VIDEOS_DIR="\$HOME/Videos")", std::nullopt},
        {R"(XDG_VIDEOS_DIR=$HOME/Un\ quoted\"  # comment)", fs::path("/home/ann/Un quoted\"")},
        {R"(XDG_VIDEOS_DIR='/srv/single \"q')", fs::path("/srv/single \\\"q")},
        {R"(XDG_VIDEOS_DIR="/srv/joined"'/parts'"/x")", fs::path("/srv/joined/parts/x")},
        {R"(XDG_VIDEOS_DIR="$HOME/open \")", std::nullopt},
        {R"(XDG_VIDEOS_DIR="/srv/$USER/videos")", std::nullopt},
        {R"(XDG_VIDEOS_DIR="$HOMEDIR/videos")", std::nullopt},
        {R"(XDG_VIDEOS_DIR="/srv/`id`")", std::nullopt},
        {"XDG_VIDEOS_DIR=\"/srv/a\"\nXDG_VIDEOS_DIR=\"/srv/\\\"broken\n", fs::path("/srv/a")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(MediaLibrary::videosDirFromUserDirs(c.text, "/home/ann"), c.expected);
    }
}

// Whatever stands in place of user-dirs.dirs, the start goes on promptly
// with the default folder, reads little, and says in the log why.
TEST(MediaLibraryTest, UserDirsThatIsNoSmallRegularFileGivesTheDefaultPromptly) {
    for (const auto kind : testsupport::allHostileFiles()) {
        SCOPED_TRACE(testsupport::toString(kind));
        testsupport::TempDir dir;
        const std::string home = (dir.path() / "home").string();
        fs::create_directories(fs::path(home) / ".config");
        testsupport::makeHostileFile(fs::path(home) / ".config" / "user-dirs.dirs", kind, uint64_t{1} << 30,
                                     "XDG_VIDEOS_DIR=\"/srv/videos\"\n");
        const auto outcome = testsupport::runInChild(
            [&] {
                testsupport::LogCapture log;
                const bool fallback = MediaLibrary::videosDirectory({home, ""}) == fs::path(home) / "Videos";
                return fallback && log.contains("user-dirs.dirs") ? 0 : 1;
            },
            std::chrono::seconds(10));
        testsupport::expectPromptAndSmall(outcome);
    }
}

}  // namespace
}  // namespace hollowkit
