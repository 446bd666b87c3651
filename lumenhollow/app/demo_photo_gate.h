#pragma once

// DemoPhotoGate: the library's photo encoder behind a gate, for tests that
// must quit or end the demonstration while photos are still waiting to be
// written: nothing is encoded until the gate's file exists (looked for
// every 20 ms on the writer's queue), then everything is, as usual.
// Thumbnails are not held. Any thread.

#include <filesystem>
#include <string>
#include <utility>

#include "hollowkit/recording/still_encoder.h"

namespace lumenhollow {

class DemoPhotoGate final : public hollowkit::StillEncoder {
public:
    explicit DemoPhotoGate(std::filesystem::path gate) : gate_(std::move(gate)) {}

    hollowkit::Result<hollowkit::Bytes, std::string> encodeHeif(const hollowkit::VideoFrame& frame,
                                                                int qualityPercent) const override;
    hollowkit::Result<hollowkit::Bytes, std::string> encodeJpeg(const hollowkit::VideoFrame& frame, int width,
                                                                int height, int qualityPercent) const override;

private:
    const std::filesystem::path gate_;
};

}  // namespace lumenhollow
