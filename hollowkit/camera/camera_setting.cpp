#include "hollowkit/camera/camera_setting.h"

namespace hollowkit {

std::string_view title(CameraResolution value) {
    switch (value) {
    case CameraResolution::p1080: return "1080p";
    case CameraResolution::p2_7K: return "2.7K";
    case CameraResolution::p4K: return "4K";
    case CameraResolution::vertical1080: return "1080p 9:16";
    case CameraResolution::vertical2_7K: return "2.7K 9:16";
    case CameraResolution::vertical3K: return "3K 9:16";
    }
    return "";
}

std::string_view title(CameraFrameRate value) {
    switch (value) {
    case CameraFrameRate::fps24: return "24 FPS";
    case CameraFrameRate::fps25: return "25 FPS";
    case CameraFrameRate::fps30: return "30 FPS";
    case CameraFrameRate::fps48: return "48 FPS";
    case CameraFrameRate::fps50: return "50 FPS";
    case CameraFrameRate::fps60: return "60 FPS";
    }
    return "";
}

std::string_view title(ColorProfile value) {
    switch (value) {
    case ColorProfile::normal: return "Normal";
    case ColorProfile::dLog: return "D-Log (10-bit)";
    case ColorProfile::dLog2: return "D-Log 2 (10-bit)";
    case ColorProfile::hdr: return "HDR (10-bit)";
    }
    return "";
}

std::string_view title(ExposureMode value) {
    switch (value) {
    case ExposureMode::automatic: return "Auto";
    case ExposureMode::manual: return "Manual";
    }
    return "";
}

std::string_view title(CameraISO value) {
    switch (value) {
    case CameraISO::automatic: return "Auto";
    case CameraISO::iso50: return "50";
    case CameraISO::iso100: return "100";
    case CameraISO::iso200: return "200";
    case CameraISO::iso400: return "400";
    case CameraISO::iso800: return "800";
    case CameraISO::iso1600: return "1600";
    case CameraISO::iso3200: return "3200";
    case CameraISO::iso6400: return "6400";
    }
    return "";
}

}  // namespace hollowkit
