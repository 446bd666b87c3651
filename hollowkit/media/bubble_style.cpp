#include "hollowkit/media/bubble_style.h"

#include "hollowkit/base/enum_names.h"

namespace hollowkit {

std::string_view toString(BubbleCorner corner) {
    switch (corner) {
    case BubbleCorner::topLeading:
        return "Top Left";
    case BubbleCorner::topTrailing:
        return "Top Right";
    case BubbleCorner::bottomLeading:
        return "Bottom Left";
    case BubbleCorner::bottomTrailing:
        return "Bottom Right";
    }
    return {};
}

std::string_view toString(BubbleSize size) {
    switch (size) {
    case BubbleSize::small:
        return "Small";
    case BubbleSize::medium:
        return "Medium";
    case BubbleSize::large:
        return "Large";
    }
    return {};
}

std::string_view toString(BubbleShape shape) {
    switch (shape) {
    case BubbleShape::circle:
        return "Circle";
    case BubbleShape::cutout:
        return "Cutout";
    }
    return {};
}

std::string_view toString(BubbleBackground background) {
    switch (background) {
    case BubbleBackground::keep:
        return "Normal";
    case BubbleBackground::blur:
        return "Blur";
    case BubbleBackground::remove:
        return "Remove";
    }
    return {};
}

std::optional<BubbleCorner> parseBubbleCorner(std::string_view text) {
    return parseEnumName(text, kAllBubbleCorners);
}

std::optional<BubbleSize> parseBubbleSize(std::string_view text) {
    return parseEnumName(text, kAllBubbleSizes);
}

std::optional<BubbleShape> parseBubbleShape(std::string_view text) {
    return parseEnumName(text, kAllBubbleShapes);
}

std::optional<BubbleBackground> parseBubbleBackground(std::string_view text) {
    return parseEnumName(text, kAllBubbleBackgrounds);
}

}  // namespace hollowkit
