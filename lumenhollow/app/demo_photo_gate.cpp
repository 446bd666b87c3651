#include "lumenhollow/app/demo_photo_gate.h"

#include <chrono>
#include <system_error>
#include <thread>

namespace lumenhollow {

hollowkit::Result<hollowkit::Bytes, std::string> DemoPhotoGate::encodeHeif(const hollowkit::VideoFrame& frame,
                                                                           int qualityPercent) const {
    std::error_code error;
    while (!std::filesystem::exists(gate_, error)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return standard().encodeHeif(frame, qualityPercent);
}

hollowkit::Result<hollowkit::Bytes, std::string> DemoPhotoGate::encodeJpeg(const hollowkit::VideoFrame& frame,
                                                                           int width, int height,
                                                                           int qualityPercent) const {
    return standard().encodeJpeg(frame, width, height, qualityPercent);
}

}  // namespace lumenhollow
