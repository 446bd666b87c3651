#include "hollowkit/simulation/scene_panorama.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace hollowkit {

namespace {

constexpr const char* kDataFolder = "/usr/share/doc/opencv-doc/examples/data/";

// The widest window the default limits allow is 80 x 60 degrees (zoom
// 1.0x, a 4:3 picture), centred at most 170 degrees to the side and 90 up or
// down: these margins keep every such window inside the stored scene.
constexpr double kSideMarginDegrees = 45;
constexpr double kTopMarginDegrees = 35;

// Where the horizon band meets the floor.
constexpr double kFloorTiltDegrees = -12;

int evenPixels(double pixels) { return std::max(2, 2 * static_cast<int>(std::lround(pixels / 2))); }

cv::Vec3b mix(const cv::Vec3d& a, const cv::Vec3d& b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    const cv::Vec3d v = a * (1 - t) + b * t;
    return {cv::saturate_cast<uchar>(v[0]), cv::saturate_cast<uchar>(v[1]), cv::saturate_cast<uchar>(v[2])};
}

// Sky from pale at the horizon to deep blue overhead; floor from warm brown
// to dark underfoot. One column, repeated across the turn.
cv::Mat backgroundColumn(int height, double centerY, double pixelsPerDegree) {
    cv::Mat column(height, 1, CV_8UC3);
    for (int y = 0; y < height; ++y) {
        const double tilt = (centerY - (y + 0.5)) / pixelsPerDegree;
        column.at<cv::Vec3b>(y) =
            tilt >= kFloorTiltDegrees
                ? mix({225, 205, 180}, {140, 70, 25}, (tilt - kFloorTiltDegrees) / 100.0)
                : mix({70, 100, 140}, {30, 40, 60}, (kFloorTiltDegrees - tilt) / 80.0);
    }
    return column;
}

// Copies `picture` to the canvas at (x, y), clipped; the canvas is one full
// turn, so a picture over its left or right end continues at the other end.
void hang(cv::Mat& canvas, const cv::Mat& picture, int x, int y) {
    for (int shift : {-canvas.cols, 0, canvas.cols}) {
        const cv::Rect target = cv::Rect(x + shift, y, picture.cols, picture.rows) & cv::Rect(0, 0, canvas.cols, canvas.rows);
        if (target.empty()) continue;
        picture(cv::Rect(target.x - x - shift, target.y - y, target.width, target.height)).copyTo(canvas(target));
    }
}

cv::Mat drawBackground(int width, int height, double centerX, double centerY, double pixelsPerDegree) {
    cv::Mat canvas;
    cv::repeat(backgroundColumn(height, centerY, pixelsPerDegree), 1, width, canvas);
    auto x = [&](double pan) { return static_cast<int>(std::lround(centerX + pan * pixelsPerDegree)); };
    auto y = [&](double tilt) { return static_cast<int>(std::lround(centerY - tilt * pixelsPerDegree)); };

    // A tinted wall panel every 30 degrees, so the direction shows at a glance.
    static constexpr std::array<std::array<double, 3>, 6> kTints{
        {{60, 60, 200}, {60, 170, 220}, {80, 190, 90}, {200, 170, 60}, {190, 80, 120}, {120, 120, 120}}};
    const cv::Rect wall(0, y(45), canvas.cols, y(kFloorTiltDegrees) - y(45));
    for (int panel = 0; panel < 12; ++panel) {
        const int left = x(-180 + 30 * panel);
        const cv::Rect band = cv::Rect(left, wall.y, x(-150 + 30 * panel) - left, wall.height) & wall;
        cv::Mat roi = canvas(band);
        const std::array<double, 3>& tint = kTints[static_cast<size_t>(panel) % kTints.size()];
        cv::addWeighted(roi, 0.65, cv::Mat(roi.size(), CV_8UC3, cv::Scalar(tint[0], tint[1], tint[2])), 0.35, 0,
                        roi);
    }

    const cv::Scalar line(45, 45, 45);
    for (int pan = -180; pan < 180; pan += 10) {
        cv::line(canvas, {x(pan), 0}, {x(pan), canvas.rows - 1}, line, pan % 30 == 0 ? 2 : 1);
    }
    for (int tilt = -120; tilt <= 120; tilt += 10) {
        if (y(tilt) < 0 || y(tilt) >= canvas.rows) continue;
        cv::line(canvas, {0, y(tilt)}, {canvas.cols - 1, y(tilt)}, line, tilt == 0 ? 3 : 1);
    }
    const double fontScale = pixelsPerDegree / 8;
    const int thickness = std::max(1, static_cast<int>(std::lround(pixelsPerDegree / 5)));
    char text[32];
    for (int pan = -180; pan < 180; pan += 30) {
        std::snprintf(text, sizeof text, "PAN %+d", pan);
        cv::putText(canvas, text, {x(pan) + thickness * 3, y(30)}, cv::FONT_HERSHEY_SIMPLEX, fontScale,
                    cv::Scalar(20, 20, 20), thickness, cv::LINE_AA);
        for (int tilt = -60; tilt <= 80; tilt += 20) {
            if (tilt == 20 || tilt == 0 || tilt == -20) continue;  // the pictures hang there
            std::snprintf(text, sizeof text, "%+d", tilt);
            cv::putText(canvas, text, {x(pan) + thickness * 3, y(tilt) - thickness * 3}, cv::FONT_HERSHEY_SIMPLEX,
                        fontScale * 0.7, cv::Scalar(235, 235, 235), thickness, cv::LINE_AA);
        }
    }
    return canvas;
}

// BGR to NV12, BT.709 limited range, with the same sums the imaging library
// inverts: luma from full-size pixels, chroma from 2x2 averages.
void convertToNv12(const cv::Mat& bgr, WritableVideoFrame& out) {
    constexpr double kr = 0.2126;
    constexpr double kb = 0.0722;
    constexpr double kg = 1 - kr - kb;
    constexpr double ys = 219.0 / 255.0;
    constexpr double cs = 224.0 / 255.0;
    const cv::Matx14d lumaMatrix(ys * kb, ys * kg, ys * kr, 16);
    const double cbScale = cs / (2 * (1 - kb));
    const double crScale = cs / (2 * (1 - kr));
    const cv::Matx<double, 2, 4> chromaMatrix(cbScale * (1 - kb), -cbScale * kg, -cbScale * kr, 128,  //
                                   -crScale * kb, -crScale * kg, crScale * (1 - kr), 128);
    cv::Mat luma(bgr.rows, bgr.cols, CV_8UC1, out.planeData(0), out.stride(0));
    cv::transform(bgr, luma, lumaMatrix);
    cv::Mat half;
    cv::resize(bgr, half, cv::Size(bgr.cols / 2, bgr.rows / 2), 0, 0, cv::INTER_AREA);
    cv::Mat chroma(half.rows, half.cols, CV_8UC2, out.planeData(1), out.stride(1));
    cv::transform(half, chroma, chromaMatrix);
}

}  // namespace

std::vector<ScenePanorama::Picture> ScenePanorama::defaultPictures() {
    const std::string data = kDataFolder;
    return {
        Picture{kFacePhotoPath, 0, 0, 80, 0.45, 0.33},
        Picture{data + "fruits.jpg", 75, 5, 40},
        Picture{data + "building.jpg", -75, 8, 50},
        Picture{data + "starry_night.jpg", 180, 10, 60},
    };
}

std::shared_ptr<const ScenePanorama> ScenePanorama::build(const Options& options) {
    std::shared_ptr<ScenePanorama> scene(new ScenePanorama());
    const double ppd = options.pixelsPerDegree;
    const int turnWidth = evenPixels(360 * ppd);
    const int height = evenPixels((180 + 2 * kTopMarginDegrees) * ppd);
    const int margin = evenPixels(kSideMarginDegrees * ppd);
    const double turnCenterX = turnWidth / 2.0;
    const double centerY = height / 2.0;

    cv::Mat turn = drawBackground(turnWidth, height, turnCenterX, centerY, ppd);
    for (const Picture& picture : options.pictures) {
        cv::Mat photo;
        std::error_code error;
        // OpenCV logs a warning for every file it cannot open.
        if (!std::filesystem::is_regular_file(picture.path, error)) continue;
        try {
            photo = cv::imread(picture.path, cv::IMREAD_COLOR);
        } catch (const cv::Exception&) {
            // A damaged file is left out like a missing one.
        }
        if (photo.empty()) continue;
        const int width = std::max(1, static_cast<int>(std::lround(picture.widthDegrees * ppd)));
        const int rows = std::max(1, static_cast<int>(std::lround(static_cast<double>(width) * photo.rows / photo.cols)));
        cv::Mat scaled;
        cv::resize(photo, scaled, cv::Size(width, rows), 0, 0, width > photo.cols ? cv::INTER_CUBIC : cv::INTER_AREA);
        const double x = turnCenterX + picture.panDegrees * ppd - picture.anchorX * width;
        const double y = centerY - picture.tiltDegrees * ppd - picture.anchorY * rows;
        hang(turn, scaled, static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
        scene->hung_.push_back(picture.path);
    }

    cv::Mat padded;
    cv::copyMakeBorder(turn, padded, 0, 0, margin, margin, cv::BORDER_WRAP);
    WritableVideoFrame nv12 = WritableVideoFrame::allocate(PixelFormat::nv12, padded.cols, padded.rows);
    convertToNv12(padded, nv12);
    scene->nv12_ = std::move(nv12).freeze(TimePoint{});
    scene->pixelsPerDegree_ = ppd;
    scene->centerX_ = margin + turnCenterX;
    scene->centerY_ = centerY;
    return scene;
}

VirtualLens ScenePanorama::lens(LensLimits limits) const {
    return VirtualLens(pixelsPerDegree_, centerX_, centerY_, limits);
}

VideoFrame ScenePanorama::render(const SceneWindow& window, int width, int height, TimePoint pts) const {
    if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0 || nv12_.isNull()) return {};
    WritableVideoFrame out = WritableVideoFrame::allocate(PixelFormat::nv12, width, height);
    if (out.isNull()) return {};
    // OpenCV reads through these headers only; the scene stays immutable.
    auto* sceneLuma = const_cast<uint8_t*>(nv12_.planeData(0));
    auto* sceneChroma = const_cast<uint8_t*>(nv12_.planeData(1));
    const cv::Mat srcLuma(nv12_.height(), nv12_.width(), CV_8UC1, sceneLuma, nv12_.stride(0));
    const cv::Mat srcChroma(nv12_.height() / 2, nv12_.width() / 2, CV_8UC2, sceneChroma, nv12_.stride(1));
    cv::Mat dstLuma(height, width, CV_8UC1, out.planeData(0), out.stride(0));
    cv::Mat dstChroma(height / 2, width / 2, CV_8UC2, out.planeData(1), out.stride(1));

    // Output pixel centre i maps to scene left + (i + 0.5) * step; in pixel
    // index terms that is one step per pixel from left + step / 2 - 0.5. A
    // chroma sample sits at the centre of its 2x2 block in both pictures.
    const double stepX = window.width / width;
    const double stepY = window.height / height;
    const cv::Matx23d lumaMap(stepX, 0, window.left() + stepX / 2 - 0.5,  //
                              0, stepY, window.top() + stepY / 2 - 0.5);
    const cv::Matx23d chromaMap(stepX, 0, (window.left() + stepX) / 2 - 0.5,  //
                                0, stepY, (window.top() + stepY) / 2 - 0.5);
    const int flags = cv::INTER_LINEAR | cv::WARP_INVERSE_MAP;
    cv::warpAffine(srcLuma, dstLuma, lumaMap, dstLuma.size(), flags, cv::BORDER_REPLICATE);
    cv::warpAffine(srcChroma, dstChroma, chromaMap, dstChroma.size(), flags, cv::BORDER_REPLICATE);
    return std::move(out).freeze(pts);
}

}  // namespace hollowkit
