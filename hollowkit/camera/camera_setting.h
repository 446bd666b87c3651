#pragma once

// CameraSetting and its vocabulary: the recording settings the camera takes
// over the Wi-Fi route. The five enumerations' values are the camera's own
// codes; each offers its cases in declaration order (allCases), a checked
// construction from a code (fromRawValue) and a display title. Plain values,
// any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <variant>

#include "hollowkit/media/video_codec.h"

namespace hollowkit {

enum class CameraResolution : uint8_t {
    p1080 = 0x0A,
    p2_7K = 0x2D,
    p4K = 0x10,
    vertical1080 = 0x42,
    vertical2_7K = 0x43,
    vertical3K = 0x6C,
};

enum class CameraFrameRate : uint8_t {
    fps24 = 1,
    fps25 = 2,
    fps30 = 3,
    fps48 = 4,
    fps50 = 5,
    fps60 = 6,
};

enum class ColorProfile : uint8_t {
    normal = 0x3F,
    dLog = 0x17,
    dLog2 = 0x41,
    hdr = 0x3C,
};

// `automatic` stands for the camera's "auto" case (a C++ keyword).
enum class ExposureMode : uint8_t {
    automatic = 1,
    manual = 4,
};

// The codes jump from 0 to 2: 1 is no ISO.
enum class CameraISO : uint8_t {
    automatic = 0,
    iso50 = 2,
    iso100 = 3,
    iso200 = 4,
    iso400 = 5,
    iso800 = 6,
    iso1600 = 7,
    iso3200 = 8,
    iso6400 = 9,
};

std::string_view title(CameraResolution value);
std::string_view title(CameraFrameRate value);
std::string_view title(ColorProfile value);
std::string_view title(ExposureMode value);
std::string_view title(CameraISO value);

template <typename E>
struct CameraSettingCases;

template <>
struct CameraSettingCases<CameraResolution> {
    static constexpr std::array values{
        CameraResolution::p1080,        CameraResolution::p2_7K,        CameraResolution::p4K,
        CameraResolution::vertical1080, CameraResolution::vertical2_7K, CameraResolution::vertical3K,
    };
};

template <>
struct CameraSettingCases<CameraFrameRate> {
    static constexpr std::array values{
        CameraFrameRate::fps24, CameraFrameRate::fps25, CameraFrameRate::fps30,
        CameraFrameRate::fps48, CameraFrameRate::fps50, CameraFrameRate::fps60,
    };
};

template <>
struct CameraSettingCases<ColorProfile> {
    static constexpr std::array values{
        ColorProfile::normal, ColorProfile::dLog, ColorProfile::dLog2, ColorProfile::hdr,
    };
};

template <>
struct CameraSettingCases<ExposureMode> {
    static constexpr std::array values{ExposureMode::automatic, ExposureMode::manual};
};

template <>
struct CameraSettingCases<CameraISO> {
    static constexpr std::array values{
        CameraISO::automatic, CameraISO::iso50,   CameraISO::iso100,
        CameraISO::iso200,    CameraISO::iso400,  CameraISO::iso800,
        CameraISO::iso1600,   CameraISO::iso3200, CameraISO::iso6400,
    };
};

template <typename E>
concept CameraSettingEnum = requires { CameraSettingCases<E>::values; };

// Every case in declaration order.
template <CameraSettingEnum E>
constexpr std::span<const E> allCases() {
    return CameraSettingCases<E>::values;
}

template <CameraSettingEnum E>
constexpr uint8_t rawValue(E value) {
    return static_cast<uint8_t>(value);
}

// The case whose code is `raw`, or nothing for any other code.
template <CameraSettingEnum E>
constexpr std::optional<E> fromRawValue(uint8_t raw) {
    for (E value : allCases<E>()) {
        if (rawValue(value) == raw) {
            return value;
        }
    }
    return std::nullopt;
}

// One setting request; equal when case and payload are equal.
struct CameraSetting {
    struct VideoFormat {
        CameraResolution resolution = CameraResolution::p1080;
        CameraFrameRate frameRate = CameraFrameRate::fps30;
        bool operator==(const VideoFormat&) const = default;
    };
    struct Compression {
        VideoCodec codec = VideoCodec::hevc;
        bool operator==(const Compression&) const = default;
    };
    struct Color {
        ColorProfile profile = ColorProfile::normal;
        bool operator==(const Color&) const = default;
    };
    struct Exposure {
        ExposureMode mode = ExposureMode::automatic;
        bool operator==(const Exposure&) const = default;
    };
    struct Iso {
        CameraISO iso = CameraISO::automatic;
        bool operator==(const Iso&) const = default;
    };
    struct ExposureCompensation {
        int thirdStops = 0;
        bool operator==(const ExposureCompensation&) const = default;
    };
    struct WhiteBalance {
        std::optional<int> kelvin;  // absent = automatic
        bool operator==(const WhiteBalance&) const = default;
    };

    using Value = std::variant<VideoFormat, Compression, Color, Exposure, Iso,
                               ExposureCompensation, WhiteBalance>;

    Value value;

    bool operator==(const CameraSetting&) const = default;

    static CameraSetting videoFormat(CameraResolution resolution, CameraFrameRate frameRate) {
        return {VideoFormat{resolution, frameRate}};
    }
    static CameraSetting compression(VideoCodec codec) { return {Compression{codec}}; }
    static CameraSetting colorProfile(ColorProfile profile) { return {Color{profile}}; }
    static CameraSetting exposureMode(ExposureMode mode) { return {Exposure{mode}}; }
    static CameraSetting iso(CameraISO value) { return {Iso{value}}; }
    static CameraSetting exposureCompensation(int thirdStops) {
        return {ExposureCompensation{thirdStops}};
    }
    static CameraSetting whiteBalance(std::optional<int> kelvin) { return {WhiteBalance{kelvin}}; }
};

}  // namespace hollowkit
