#include "hollowkit/camera/pocket_model.h"

#include <string>

namespace hollowkit {

std::optional<PocketModel> pocketModelFromName(std::string_view name) {
    std::string folded;
    folded.reserve(name.size());
    for (char c : name) {
        if (c == ' ') {
            continue;
        }
        folded.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    // The Pro's name also contains "pocket4", so it is tested first.
    if (folded.find("pocket4p") != std::string::npos) {
        return PocketModel::pocket4Pro;
    }
    if (folded.find("pocket4") != std::string::npos) {
        return PocketModel::pocket4;
    }
    if (folded.find("pocket3") != std::string::npos) {
        return PocketModel::pocket3;
    }
    return std::nullopt;
}

ZoomRange zoomRange(PocketModel model) {
    return model == PocketModel::pocket4Pro ? ZoomRange{100, 300} : ZoomRange{100, 400};
}

}  // namespace hollowkit
