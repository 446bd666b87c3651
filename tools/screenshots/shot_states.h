#pragma once

// The named states of the main window the screenshot tool renders: the
// real window over the camera model with every service faked, fed a drawn
// picture of colour bars, on a frozen clock, with the Inter font, the
// Fusion style and no animation. Needs a QApplication; GUI thread.

#include <QImage>

#include <optional>
#include <string>
#include <vector>

namespace lumenhollow::shots {

struct ShotState {
    std::string name;
    int windowWidth = 0;
    int windowHeight = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    // Without the controls: the picture alone.
    bool chrome = true;
};

const std::vector<ShotState>& shotStates();
const ShotState* findShotState(const std::string& name);

// The look every shot shares (style, palette, font); once per process.
void prepareShotLook();

// The window's content in `state`; a null image when the state is unknown.
QImage renderShot(const ShotState& state);

// Colour bars with a white border, BGRA, so the picture's edges show.
std::vector<unsigned char> colourBars(int width, int height);

}  // namespace lumenhollow::shots
