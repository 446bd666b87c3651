#include "tests/journeys/live_pictures.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace lumenhollow::journey {
namespace {

int livePixelDistance(uint32_t a, uint32_t b) {
    int worst = 0;
    for (int shift : {16, 8, 0}) {
        worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    }
    return worst;
}

uint32_t liveFaded(uint32_t pixel) {
    uint32_t faded = 0;
    for (int shift : {16, 8, 0}) faded |= (((pixel >> shift) & 0xFF) / 3) << shift;
    return faded;
}

}  // namespace

PictureVerdict comparePictures(const ScreenPicture& actual, const ScreenPicture& reference,
                               const PictureTolerance& tolerance) {
    PictureVerdict verdict;
    verdict.sameSize = actual.width == reference.width && actual.height == reference.height &&
                       actual.pixels.size() == reference.pixels.size();
    if (!verdict.sameSize || reference.pixels.empty()) return verdict;
    verdict.diff.width = reference.width;
    verdict.diff.height = reference.height;
    verdict.diff.pixels.resize(reference.pixels.size());
    const int tile = std::max(1, tolerance.tile);
    const int tilesAcross = (reference.width + tile - 1) / tile;
    const int tilesDown = (reference.height + tile - 1) / tile;
    std::vector<int> tileCounts(static_cast<size_t>(tilesAcross) * static_cast<size_t>(tilesDown), 0);
    for (int y = 0; y < reference.height; ++y) {
        for (int x = 0; x < reference.width; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(reference.width) + static_cast<size_t>(x);
            const bool differs = livePixelDistance(actual.pixels[i], reference.pixels[i]) > tolerance.channel;
            verdict.diff.pixels[i] = differs ? 0xFF0000 : liveFaded(reference.pixels[i]);
            if (!differs) continue;
            ++verdict.differing;
            ++tileCounts[static_cast<size_t>(y / tile) * static_cast<size_t>(tilesAcross) + static_cast<size_t>(x / tile)];
        }
    }
    verdict.share = static_cast<double>(verdict.differing) / static_cast<double>(reference.pixels.size());
    for (int ty = 0; ty < tilesDown; ++ty) {
        for (int tx = 0; tx < tilesAcross; ++tx) {
            // Edge tiles are judged on the pixels they have.
            const int w = std::min(tile, reference.width - tx * tile);
            const int h = std::min(tile, reference.height - ty * tile);
            const double share =
                tileCounts[static_cast<size_t>(ty) * static_cast<size_t>(tilesAcross) + static_cast<size_t>(tx)] /
                static_cast<double>(w * h);
            verdict.worstTile = std::max(verdict.worstTile, share);
        }
    }
    verdict.passes = verdict.share <= tolerance.share && verdict.worstTile <= tolerance.tileShare;
    return verdict;
}

ScreenPicture cropPicture(const ScreenPicture& picture, const ScreenRect& rect) {
    const int left = std::clamp(rect.x, 0, picture.width);
    const int top = std::clamp(rect.y, 0, picture.height);
    const int right = std::clamp(rect.x + rect.width, left, picture.width);
    const int bottom = std::clamp(rect.y + rect.height, top, picture.height);
    ScreenPicture cut;
    cut.width = right - left;
    cut.height = bottom - top;
    cut.pixels.reserve(static_cast<size_t>(cut.width) * static_cast<size_t>(cut.height));
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) cut.pixels.push_back(picture.at(x, y));
    }
    return cut;
}

std::optional<ScreenPicture> loadPicture(const std::filesystem::path& path) {
    const cv::Mat bgr = cv::imread(path.string(), cv::IMREAD_COLOR);
    if (bgr.empty() || bgr.type() != CV_8UC3) return std::nullopt;
    ScreenPicture picture;
    picture.width = bgr.cols;
    picture.height = bgr.rows;
    picture.pixels.reserve(static_cast<size_t>(bgr.cols) * static_cast<size_t>(bgr.rows));
    for (int y = 0; y < bgr.rows; ++y) {
        const auto* row = bgr.ptr<cv::Vec3b>(y);
        for (int x = 0; x < bgr.cols; ++x) {
            picture.pixels.push_back((uint32_t{row[x][2]} << 16) | (uint32_t{row[x][1]} << 8) | row[x][0]);
        }
    }
    return picture;
}

bool savePicture(const ScreenPicture& picture, const std::filesystem::path& path) {
    if (picture.width <= 0 || picture.height <= 0) return false;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    cv::Mat bgr(picture.height, picture.width, CV_8UC3);
    for (int y = 0; y < picture.height; ++y) {
        auto* row = bgr.ptr<cv::Vec3b>(y);
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t pixel = picture.at(x, y);
            row[x] = cv::Vec3b(pixel & 0xFF, (pixel >> 8) & 0xFF, (pixel >> 16) & 0xFF);
        }
    }
    // The strongest zlib level: the references live in the repository.
    return cv::imwrite(path.string(), bgr, {cv::IMWRITE_PNG_COMPRESSION, 9});
}

}  // namespace lumenhollow::journey
