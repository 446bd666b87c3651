#pragma once

// BubbleStyle: how the camera is shown in the combined screen-and-camera
// video: corner, size, shape, and what happens to the room behind the person.
// Each of the four enumerations has one string per case that is both shown in
// the pickers and written to the settings; cases are listed in picker order.
// Plain values, any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace hollowkit {

enum class BubbleCorner : uint8_t { topLeading, topTrailing, bottomLeading, bottomTrailing };
enum class BubbleSize : uint8_t { small, medium, large };
enum class BubbleShape : uint8_t { circle, cutout };
enum class BubbleBackground : uint8_t { keep, blur, remove };

inline constexpr std::array kAllBubbleCorners{BubbleCorner::topLeading, BubbleCorner::topTrailing,
                                              BubbleCorner::bottomLeading, BubbleCorner::bottomTrailing};
inline constexpr std::array kAllBubbleSizes{BubbleSize::small, BubbleSize::medium, BubbleSize::large};
inline constexpr std::array kAllBubbleShapes{BubbleShape::circle, BubbleShape::cutout};
inline constexpr std::array kAllBubbleBackgrounds{BubbleBackground::keep, BubbleBackground::blur,
                                                  BubbleBackground::remove};

// "Top Left", "Top Right", "Bottom Left", "Bottom Right".
std::string_view toString(BubbleCorner corner);
// "Small", "Medium", "Large".
std::string_view toString(BubbleSize size);
// "Circle", "Cutout".
std::string_view toString(BubbleShape shape);
// "Normal" (keep), "Blur", "Remove".
std::string_view toString(BubbleBackground background);

// Exact, case-sensitive matches of the strings above; anything else
// (other case, surrounding spaces, empty) yields nothing.
std::optional<BubbleCorner> parseBubbleCorner(std::string_view text);
std::optional<BubbleSize> parseBubbleSize(std::string_view text);
std::optional<BubbleShape> parseBubbleShape(std::string_view text);
std::optional<BubbleBackground> parseBubbleBackground(std::string_view text);

// True for the two left-hand corners.
constexpr bool isLeading(BubbleCorner corner) {
    return corner == BubbleCorner::topLeading || corner == BubbleCorner::bottomLeading;
}

// Built with all four fields; there is deliberately no default style here
// (the settings decide it).
struct BubbleStyle {
    BubbleCorner corner;
    BubbleSize size;
    BubbleShape shape;
    BubbleBackground background;

    BubbleStyle(BubbleCorner cornerValue, BubbleSize sizeValue, BubbleShape shapeValue,
                BubbleBackground backgroundValue)
        : corner(cornerValue), size(sizeValue), shape(shapeValue), background(backgroundValue) {}

    bool operator==(const BubbleStyle&) const = default;

    // Whether live frames need the person separated from the room: a cut-out,
    // or a room that is blurred or removed. False only for a circle over the
    // room as it is.
    bool needsSegmentation() const {
        return shape == BubbleShape::cutout || background != BubbleBackground::keep;
    }
};

}  // namespace hollowkit
