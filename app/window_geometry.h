#pragma once
// The arithmetic of the Windows application's windows, kept apart from the window calls so that it is
// tested natively: the splash picture's shape, the splash's and the progress window's positions.

#include <cstdint>
#include <span>
#include <vector>

namespace tessera {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const Rect&) const = default;
};

struct Point {
    int x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

// One rectangle per maximal run of pixels that differ from the transparent colour, row by row from the top,
// each one row high. pixels: 4 bytes per pixel, blue, green, red, unused; rows from the top.
std::vector<Rect> opaqueRuns(std::span<const std::uint8_t> pixels, int width, int height, std::uint8_t red,
                             std::uint8_t green, std::uint8_t blue);

// The splash's style bits.
inline constexpr int kSplashFadeIn = 1, kSplashFadeOut = 2, kSplashShadow = 4, kSplashCentreOnScreen = 8,
                     kSplashCentreOnParent = 16, kSplashHideOnInput = 32;

// Where the splash goes: centred on the screen's full-screen area, else inside the parent, else at 0, 0.
Point splashPosition(int style, int screenWidth, int screenHeight, const Rect& parent, int width, int height);

// Where the progress window moves to: the main window's client origin plus half of the difference of the
// right and bottom edges of the two windows (as the progress window was first created), each division
// truncating towards zero.
Point progressPosition(Point clientOrigin, const Rect& mainWindow, const Rect& progressWindow);

// The progress bar's positions, each held for one step time.
inline constexpr int kProgressSteps[] = {1, 25, 49, 73, 97};

} // namespace tessera
