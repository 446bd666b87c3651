#include "hollowkit/imaging/color_lut.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include "hollowkit/base/bounded_file.h"
#include "hollowkit/base/utf8.h"
#include "hollowkit/imaging/cube_parser.h"
#include "hollowkit/imaging/lut_file.h"

namespace hollowkit {

namespace {

// A table of 256 points per axis is about 400 MB of ".cube" text; anything
// larger cannot be a table we accept. This is the only bound on the length:
// a later LUT_3D_SIZE line replaces an earlier one, so a size read so far
// says nothing about how long the file may still be. The entries kept stay
// within the table budget whatever the length (see CubeParser).
constexpr uint64_t kMaxCubeFileBytes = uint64_t{512} << 20;
constexpr size_t kChunkBytes = size_t{64} << 10;
// No line of a table, its title or a comment is anywhere near this long.
constexpr size_t kMaxLineBytes = size_t{1} << 20;


Result<ColorLUT, ColorLUT::LoadError> streamCube(const std::string& path, const ColorLUT::LoadOptions& options) {
    using LoadError = ColorLUT::LoadError;
    auto file = BoundedFile::open(path, kMaxCubeFileBytes);
    if (!file) return unexpected(lutfile::loadError(file.error()));

    // Read in chunks and hand the parser one line at a time, so a file is
    // refused at its first line that cannot belong to any table (and the
    // rest is never read) and memory stays at the table plus one chunk.
    cube::CubeParser parser(file->statedSizeBytes(), options.maxTableBytes);
    std::string pending;  // the bytes of the current line not yet handed over
    size_t scanned = 0;   // bytes of `pending` known to hold no newline
    std::array<uint8_t, kChunkBytes> chunk{};
    bool more = true;
    while (more) {
        if (options.stop && options.stop->isSet()) return unexpected(LoadError::stopped());
        auto n = file->read(chunk);
        if (!n) return unexpected(lutfile::loadError(n.error()));
        more = *n > 0;
        pending.append(reinterpret_cast<const char*>(chunk.data()), *n);

        size_t start = 0;
        size_t i = scanned;
        while (i < pending.size()) {
            const auto newline = cube::newlineLength(pending, i, more);
            if (!newline) break;  // known only with the next chunk
            if (*newline == 0) {
                ++i;
                continue;
            }
            const std::string_view line(pending.data() + start, i - start);
            if (!isValidUtf8(line)) return unexpected(LoadError::unreadable());
            if (!parser.line(line)) return unexpected(*parser.error());
            i += *newline;
            start = i;
        }
        pending.erase(0, start);
        scanned = i - start;
        if (!more && !pending.empty()) {
            if (!isValidUtf8(pending)) return unexpected(LoadError::unreadable());
            if (!parser.line(pending)) return unexpected(*parser.error());
        }
        if (pending.size() > kMaxLineBytes) return unexpected(LoadError::unreadable());
    }
    return parser.finish(path, lutfile::nameOf(path));
}

std::pair<std::string, std::string> byteSizes(int64_t first, int64_t second) {
    return byteSizeTexts(static_cast<uint64_t>(std::max<int64_t>(first, 0)),
                         static_cast<uint64_t>(std::max<int64_t>(second, 0)));
}

Result<ColorLUT, ColorLUT::LoadError> parseCubeText(std::string_view text, std::string id, std::string name,
                                                    const ColorLUT::LoadOptions& options) {
    cube::CubeParser parser(text.size(), options.maxTableBytes);
    size_t start = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t newline = *cube::newlineLength(text, i, false);
        if (newline == 0) {
            ++i;
            continue;
        }
        if (i > start && !parser.line(text.substr(start, i - start))) return unexpected(*parser.error());
        i += newline;
        start = i;
    }
    if (start < text.size() && !parser.line(text.substr(start))) return unexpected(*parser.error());
    return parser.finish(std::move(id), std::move(name));
}

}  // namespace

ColorLUT::LoadError ColorLUT::LoadError::wrongEntryCount(int64_t expected, int64_t found) {
    return {.kind = Kind::wrongEntryCount, .expected = expected, .found = found};
}

ColorLUT::LoadError ColorLUT::LoadError::unsupportedImageLayout(int64_t width, int64_t height) {
    return {.kind = Kind::unsupportedImageLayout, .width = width, .height = height};
}

ColorLUT::LoadError ColorLUT::LoadError::unreadable() { return {.kind = Kind::unreadable}; }

ColorLUT::LoadError ColorLUT::LoadError::missingSize() { return {.kind = Kind::missingSize}; }

ColorLUT::LoadError ColorLUT::LoadError::malformedKeyword(std::string keyword, int64_t count) {
    return {.kind = Kind::malformedKeyword, .expected = count, .keyword = std::move(keyword)};
}

ColorLUT::LoadError ColorLUT::LoadError::emptyDomain() { return {.kind = Kind::emptyDomain}; }

ColorLUT::LoadError ColorLUT::LoadError::oneDimensional() { return {.kind = Kind::oneDimensional}; }

ColorLUT::LoadError ColorLUT::LoadError::refusedFile(std::string reason) {
    return {.kind = Kind::refusedFile, .keyword = std::move(reason)};
}

ColorLUT::LoadError ColorLUT::LoadError::tooCostly(int64_t costBytes, int64_t limitBytes) {
    return {.kind = Kind::tooCostly, .expected = limitBytes, .found = costBytes};
}

ColorLUT::LoadError ColorLUT::LoadError::sizeOutOfRange(std::string written) {
    return {.kind = Kind::sizeOutOfRange, .keyword = std::move(written)};
}

ColorLUT::LoadError ColorLUT::LoadError::nonFiniteEntry(int64_t entryNumber) {
    return {.kind = Kind::nonFiniteEntry, .found = entryNumber};
}

ColorLUT::LoadError ColorLUT::LoadError::overBudget(int64_t tableBytes, int64_t limitBytes) {
    return {.kind = Kind::overBudget, .expected = limitBytes, .found = tableBytes};
}

ColorLUT::LoadError ColorLUT::LoadError::stopped() { return {.kind = Kind::stopped}; }

std::string ColorLUT::LoadError::userMessage() const {
    char text[128];
    switch (kind) {
        case Kind::wrongEntryCount:
            std::snprintf(text, sizeof text, "Expected %lld LUT entries, found %lld",
                          static_cast<long long>(expected), static_cast<long long>(found));
            return text;
        case Kind::unsupportedImageLayout:
            std::snprintf(text, sizeof text, "Unsupported PNG LUT layout %lldx%lld",
                          static_cast<long long>(width), static_cast<long long>(height));
            return text;
        case Kind::unreadable:
            return "The LUT file could not be read";
        case Kind::missingSize:
            return "The .cube file has no LUT_3D_SIZE line";
        case Kind::malformedKeyword:
            std::snprintf(text, sizeof text, "The .cube file's %.40s line must hold %lld finite numbers",
                          keyword.c_str(), static_cast<long long>(expected));
            return text;
        case Kind::emptyDomain:
            return "The .cube file's input range is empty: each minimum must be below its maximum";
        case Kind::oneDimensional:
            return "1D LUTs (LUT_1D_SIZE) are not supported: use a 3D .cube file";
        case Kind::refusedFile:
            return "The LUT file " + keyword;
        case Kind::tooCostly: {
            const auto [cost, limit] = byteSizes(found, expected);
            return "The LUT picture would take " + cost + " of memory to read; at most " + limit + " is allowed";
        }
        case Kind::sizeOutOfRange:
            std::snprintf(text, sizeof text, "The .cube file's LUT_3D_SIZE is %.24s: it must be from %d to %d",
                          keyword.c_str(), kMinDimension, kMaxDimension);
            return text;
        case Kind::nonFiniteEntry:
            std::snprintf(text, sizeof text, "The .cube file's entry %lld is not a finite number",
                          static_cast<long long>(found));
            return text;
        case Kind::overBudget: {
            const auto [table, limit] = byteSizes(found, expected);
            return "The LUT's table would take " + table + " of memory; at most " + limit + " is allowed";
        }
        case Kind::stopped:
            return "The LUT file was not read: loading was stopped";
        case Kind::none:
            break;
    }
    return {};
}

bool ColorLUT::hasUsableDomain() const {
    for (size_t axis = 0; axis < 3; ++axis) {
        const float lo = domainMin[axis];
        const float hi = domainMax[axis];
        if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi)) return false;
    }
    return true;
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::load(const std::string& path) { return load(path, LoadOptions{}); }

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::load(const std::string& path, const LoadOptions& options) {
    std::string extension(lutfile::extension(path));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return extension == "cube" ? readCubeFile(path, options) : readImageFile(path, options);
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::readCubeFile(const std::string& path) {
    return readCubeFile(path, LoadOptions{});
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::readCubeFile(const std::string& path, const LoadOptions& options) {
    return lutfile::withinMemory([&]() -> Result<ColorLUT, LoadError> { return streamCube(path, options); });
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::parseCube(std::string_view text, std::string id,
                                                          std::string name) {
    return parseCube(text, std::move(id), std::move(name), LoadOptions{});
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::parseCube(std::string_view text, std::string id,
                                                          std::string name, const LoadOptions& options) {
    return lutfile::withinMemory([&]() -> Result<ColorLUT, LoadError> {
        return parseCubeText(text, std::move(id), std::move(name), options);
    });
}

}  // namespace hollowkit
