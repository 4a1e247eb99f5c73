#include "app/window_geometry.h"

namespace tessera {

std::vector<Rect> opaqueRuns(std::span<const std::uint8_t> pixels, int width, int height, std::uint8_t red,
                             std::uint8_t green, std::uint8_t blue) {
    std::vector<Rect> runs;
    if (width <= 0 || height <= 0 || pixels.size() < static_cast<std::size_t>(width) * height * 4) return runs;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels.data() + static_cast<std::size_t>(y) * width * 4;
        int x = 0;
        while (x < width) {
            auto opaque = [&](int i) {
                const std::uint8_t* p = row + static_cast<std::size_t>(i) * 4;
                return p[0] != blue || p[1] != green || p[2] != red;
            };
            while (x < width && !opaque(x))
                ++x;
            if (x == width) break;
            const int start = x;
            while (x < width && opaque(x))
                ++x;
            runs.push_back({start, y, x, y + 1});
        }
    }
    return runs;
}

Point splashPosition(int style, int screenWidth, int screenHeight, const Rect& parent, int width, int height) {
    if (style & kSplashCentreOnScreen) return {(screenWidth - width) / 2, (screenHeight - height) / 2};
    if (style & kSplashCentreOnParent)
        return {parent.left + (parent.right - parent.left - width) / 2,
                parent.top + (parent.bottom - parent.top - height) / 2};
    return {0, 0};
}

Point progressPosition(Point clientOrigin, const Rect& mainWindow, const Rect& progressWindow) {
    return {clientOrigin.x + (mainWindow.right - progressWindow.right) / 2,
            clientOrigin.y + (mainWindow.bottom - progressWindow.bottom) / 2};
}

} // namespace tessera
