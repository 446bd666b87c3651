#pragma once

// ColorLUT: a colour look as a three-dimensional lookup table, read from a
// ".cube" text file or from a lookup-table image. An immutable value; the
// readers are pure functions (any thread) apart from the file read itself.
// Nothing is ever written back. Loading fails with a LoadError whose
// userMessage() is the sentence shown to the user; no partial table is
// returned.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/stop_flag.h"

namespace hollowkit {

// A table's floats, shared by every copy of its look: a look is held by the
// list, the published selection and the frame processor at once, and the
// largest table takes 256 MB. Immutable once made; any thread.
class LutEntries {
public:
    LutEntries() = default;
    // Takes the values over (implicit, so a table is assigned like a vector).
    LutEntries(std::vector<float> values)  // NOLINT(google-explicit-constructor)
        : values_(std::make_shared<const std::vector<float>>(std::move(values))) {}

    size_t size() const { return values_ ? values_->size() : 0; }
    bool empty() const { return size() == 0; }
    const float* data() const { return values_ ? values_->data() : nullptr; }
    const float& operator[](size_t i) const { return (*values_)[i]; }
    const float* begin() const { return data(); }
    const float* end() const { return data() + size(); }
    // A copy to change (tests, tools).
    std::vector<float> toVector() const { return values_ ? *values_ : std::vector<float>(); }

    bool operator==(const LutEntries& other) const {
        return values_ == other.values_ || std::equal(begin(), end(), other.begin(), other.end());
    }

private:
    std::shared_ptr<const std::vector<float>> values_;
};

struct ColorLUT {
    // Points per axis accepted by every reader. Fewer than two cannot be
    // interpolated; more than 256 is far beyond any real look and would cost
    // gigabytes.
    static constexpr int kMinDimension = 2;
    static constexpr int kMaxDimension = 256;

    struct LoadError {
        enum class Kind : uint8_t {
            none = 0,
            wrongEntryCount,         // expected, found
            unsupportedImageLayout,  // width, height
            unreadable,
            missingSize,
            malformedKeyword,        // keyword, expected (numbers it takes)
            emptyDomain,
            oneDimensional,
            refusedFile,  // keyword: why ("is not a regular file" ...)
            tooCostly,    // found: the bytes reading it would take, expected: the limit
            sizeOutOfRange,   // keyword: the size as written
            nonFiniteEntry,   // found: the entry's number, from 1
            overBudget,       // found: the table's bytes, expected: the bytes allowed
            stopped,
        };

        Kind kind = Kind::none;
        int64_t expected = 0;
        int64_t found = 0;
        int64_t width = 0;
        int64_t height = 0;
        std::string keyword = {};

        static LoadError wrongEntryCount(int64_t expected, int64_t found);
        static LoadError unsupportedImageLayout(int64_t width, int64_t height);
        static LoadError unreadable();
        static LoadError missingSize();
        // A DOMAIN_MIN, DOMAIN_MAX or LUT_3D_INPUT_RANGE line whose values
        // are not `count` finite numbers.
        static LoadError malformedKeyword(std::string keyword, int64_t count);
        // An input range whose minimum is not below its maximum on some axis.
        static LoadError emptyDomain();
        // A ".cube" file holding a one-dimensional table (LUT_1D_SIZE).
        static LoadError oneDimensional();
        // A file refused before or while reading it: not a regular file, too
        // large, or a path that cannot name a file. `reason` completes "The
        // LUT file ...".
        static LoadError refusedFile(std::string reason);
        // A picture whose decoding would take more memory than one look may.
        static LoadError tooCostly(int64_t costBytes, int64_t limitBytes);
        // A ".cube" file whose last LUT_3D_SIZE is an integer outside
        // kMinDimension...kMaxDimension; `written` is that integer as written.
        static LoadError sizeOutOfRange(std::string written);
        // A ".cube" entry holding NaN, an infinity or a number beyond float.
        static LoadError nonFiniteEntry(int64_t entryNumber);
        // A table larger than LoadOptions::maxTableBytes, refused once its
        // size is known (a ".cube" size line, a picture's header).
        static LoadError overBudget(int64_t tableBytes, int64_t limitBytes);
        // LoadOptions::stop was set while reading.
        static LoadError stopped();

        std::string userMessage() const;
        bool operator==(const LoadError&) const = default;
    };

    // For a file, its full path; for a built-in look "builtin." and its key.
    std::string id;
    // For a file, the file name without its extension.
    std::string name;
    // Points N along each axis.
    int dimension = 0;
    // N³ entries of red, green, blue, alpha (alpha 1), red index fastest:
    // entry (r, g, b) starts at 4 · (r + g·N + b·N²). Stored as read, not
    // clamped (every reader refuses non-finite values). Shared, not copied,
    // with the look.
    LutEntries rgba;
    // The input range the grid spans on each axis (red, green, blue): a
    // pixel value x is looked up at (x − min) / (max − min) along the axis,
    // held at the ends outside the range. 0...1 unless a ".cube" file gives
    // another; every reader makes sure both are finite and min < max.
    std::array<float, 3> domainMin{0.0f, 0.0f, 0.0f};
    std::array<float, 3> domainMax{1.0f, 1.0f, 1.0f};

    // True when the domain can be used: finite, minimum below maximum on
    // every axis.
    bool hasUsableDomain() const;

    // Tables are the same look when their ids are equal, whatever they hold.
    bool operator==(const ColorLUT& other) const { return id == other.id; }

    // The most memory reading one look may take: the largest table (256
    // points, 256 MB) and its picture decoded at 16 bits per channel.
    static constexpr int64_t kMaxLoadCostBytes = int64_t{384} << 20;
    // What the largest table's entries take.
    static constexpr int64_t kMaxTableBytes =
        int64_t{kMaxDimension} * kMaxDimension * kMaxDimension * 4 * int64_t{sizeof(float)};

    struct LoadOptions {
        // The most the table may take (16 bytes an entry), for a caller
        // that shares a memory budget among several looks.
        int64_t maxTableBytes = kMaxTableBytes;
        // Checked while reading; once set, the reading ends as `stopped`.
        const StopFlag* stop = nullptr;
    };

    // Reads `path`: ".cube" text when its extension, lower-cased, is "cube",
    // otherwise an image. A ".cube" file is read line by line and refused at
    // its first line that cannot belong to any table (its size line when the
    // table is over `options.maxTableBytes`); a picture's cost and table are
    // judged from its header before any pixel is decoded. Running out of
    // memory fails this look, never the process.
    static Result<ColorLUT, LoadError> load(const std::string& path);
    static Result<ColorLUT, LoadError> load(const std::string& path, const LoadOptions& options);
    static Result<ColorLUT, LoadError> readCubeFile(const std::string& path);
    static Result<ColorLUT, LoadError> readCubeFile(const std::string& path, const LoadOptions& options);
    static Result<ColorLUT, LoadError> readImageFile(const std::string& path);
    static Result<ColorLUT, LoadError> readImageFile(const std::string& path, const LoadOptions& options);

    // ".cube" text as UTF-8.
    static Result<ColorLUT, LoadError> parseCube(std::string_view text, std::string id,
                                                 std::string name);
    static Result<ColorLUT, LoadError> parseCube(std::string_view text, std::string id,
                                                 std::string name, const LoadOptions& options);

    // An encoded image (PNG, JPEG, anything OpenCV decodes) held in memory.
    static Result<ColorLUT, LoadError> decodeImage(ByteView encoded, std::string id,
                                                   std::string name);
    static Result<ColorLUT, LoadError> decodeImage(ByteView encoded, std::string id,
                                                   std::string name, const LoadOptions& options);

    // A decoded picture: `rgba` holds width·height pixels of 8-bit red, green,
    // blue and alpha with alpha premultiplied, rows top to bottom.
    static Result<ColorLUT, LoadError> parseImage(std::span<const uint8_t> rgba, int width,
                                                  int height, std::string id, std::string name);

    // The points per axis an image of this size holds (tiles of 16, 32 or 64
    // points, or a strip of N³ pixels), or 0 when it is no lookup table.
    // Depends only on the size, so it is checked before decoding.
    static int imageDimension(int64_t width, int64_t height);
};

}  // namespace hollowkit

template <>
struct std::hash<hollowkit::ColorLUT> {
    size_t operator()(const hollowkit::ColorLUT& lut) const noexcept {
        return std::hash<std::string>{}(lut.id);
    }
};
