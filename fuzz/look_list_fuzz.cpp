// The imported looks' list as the settings file stores it ("customLUTPaths")
// on arbitrary settings text: paths in any spelling, of every kind of file a
// user or script can leave (good tables, damaged ones, a FIFO, a link to
// /dev/zero, a folder, a huge sparse file, pictures too costly to decode).
// The paths are read relative to a fixture folder made at start, so short
// inputs reach real files. Loading never hangs or crashes; the list keeps
// one look per file, within its bounds, each look named by a stored path
// without a NUL; saving the list and loading it again gives the same looks.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "lumenhollow/model/look_list.h"
#include "lumenhollow/model/scene_store.h"
#include "lumenhollow/platform/settings_json.h"

namespace {

namespace fs = std::filesystem;
using namespace lumenhollow;

void check(bool condition) {
    if (!condition) std::abort();
}

class DocumentStore final : public SettingsStore {
public:
    explicit DocumentStore(SettingsDocument document) : document_(std::move(document)) {}
    std::optional<SettingsValue> value(std::string_view key) const override {
        const auto found = document_.values.find(key);
        if (found == document_.values.end()) return std::nullopt;
        return found->second;
    }
    bool contains(std::string_view key) const override {
        return document_.values.find(key) != document_.values.end() ||
               document_.foreign.find(key) != document_.foreign.end();
    }
    SettingsSaveResult set(std::string_view key, SettingsValue value) override {
        document_.values.insert_or_assign(std::string(key), std::move(value));
        return {};
    }
    SettingsSaveResult remove(std::string_view key) override {
        document_.values.erase(std::string(key));
        return {};
    }
    hollowkit::Result<std::string, std::string> keepCopy(std::string_view) override { return std::string("copy"); }

private:
    SettingsDocument document_;
};

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string cube(int size, int entries) {
    std::string text = "TITLE \"fixture\"\nLUT_3D_SIZE " + std::to_string(size) + "\n";
    for (int i = 0; i < entries; ++i) text += "0.1 0.2 0.3\n";
    return text;
}

// Names a fuzzer finds by mutating the seeds' paths.
void makeFixture() {
    char pattern[] = "/tmp/look_list_fuzz.XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    const fs::path root = pattern;
    fs::create_directories(root / "sub");
    writeFile(root / "a.cube", cube(2, 8));
    writeFile(root / "B.CUBE", cube(3, 27));
    writeFile(root / "sub" / "c.cube", cube(2, 8));
    writeFile(root / "short.cube", cube(2, 7));
    writeFile(root / "long.cube", cube(2, 9));
    writeFile(root / "oned.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    // Headers only: sizes of tables and of pictures too costly to decode.
    writeFile(root / "grid.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x40\0\0\0\x40\x08\x06\0\0\0", 29));
    writeFile(root / "big.tif", std::string("II*\0\x08\0\0\0\x02\0\x00\x01\x04\0\x01\0\0\0\0\x10\0\0"
                                            "\x01\x01\x04\0\x01\0\0\0\0\x10\0\0", 34));
    ::mkfifo((root / "fifo.cube").c_str(), 0600);
    ::symlink("/dev/zero", (root / "zero.png").c_str());
    ::symlink("a.cube", (root / "link.cube").c_str());
    fs::create_directories(root / "folder.cube");
    if (const int fd = ::open((root / "huge.cube").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600); fd >= 0) {
        (void)::write(fd, "LUT_3D_SIZE 2\n", 14);
        (void)::ftruncate(fd, off_t{600} << 20);
        ::close(fd);
    }
    fs::current_path(root);
    static fs::path made;
    made = root;
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(made, ignored);
    });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeFixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto document = parseSettingsJson(text);
    if (!document) return 0;
    DocumentStore store(std::move(document).value().document);
    const StringArray stored = store.get<StringArray>(settings_key::customLUTPaths, {});

    const auto looks = loadCustomLUTs(store);
    check(looks.size() <= LookListLimits{}.maxLooks);
    std::set<std::string> identities;
    int64_t tableBytes = 0;
    for (const auto& look : looks) {
        check(look.id.find('\0') == std::string::npos);
        check(std::find(stored.begin(), stored.end(), look.id) != stored.end());
        const auto identity = lookIdentity(look.id);
        check(identity.has_value());
        check(identities.insert(*identity).second);  // one look per file
        check(look.dimension >= hollowkit::ColorLUT::kMinDimension);
        check(look.rgba.size() == size_t{4} * static_cast<size_t>(look.dimension) * look.dimension * look.dimension);
        tableBytes += lookTableBytes(look);
    }
    check(tableBytes <= LookListLimits{}.maxTableBytes);

    // What the list stores reads back as the same looks.
    saveCustomLUTPaths(store, looks);
    const auto again = loadCustomLUTs(store);
    check(again.size() == looks.size());
    for (size_t i = 0; i < looks.size(); ++i) check(again[i].id == looks[i].id && again[i].rgba == looks[i].rgba);
    return 0;
}
