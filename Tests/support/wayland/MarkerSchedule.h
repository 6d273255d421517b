#pragma once

// What the marker window (wayland_marker_window) draws, so that a test can
// tell from a recorded picture what it shows:
//  - a dark grey background (backgroundRgb);
//  - along the top-left edge, `counterBits` squares of `counterCell` pixels
//    giving the window's frame number in binary, most significant bit first
//    (white 1, black 0): a new frame number is a new picture;
//  - a `markerSize` square marker, step i at markerAt(i, screen) in
//    markerRgb(i), moving to the next step every period.
// The window prints one line per event on its standard output:
//   size W H                     the window covers W×H from the top left
//   marker I X Y S RRGGBB NS     step I drawn at X,Y with side S, NS = the
//                                CLOCK_MONOTONIC nanoseconds of the frame
//   still NS / moving NS         the picture stops / starts changing

#include <QPoint>
#include <QRect>
#include <QSize>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>

namespace markerschedule {

constexpr std::uint32_t backgroundRgb = 0x202020;
constexpr int counterBits = 16;
constexpr int counterCell = 24;
constexpr int markerSize = 120;

inline std::uint32_t markerRgb(int step)
{
    static constexpr std::uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF};
    return colours[step % 6];
}

// Spread over the screen, clear of the counter strip; steps differ in place.
inline QPoint markerAt(int step, QSize screen)
{
    const int spanX = std::max(1, screen.width() - markerSize - 2 * 40);
    const int spanY = std::max(1, screen.height() - markerSize - 2 * 40 - counterCell);
    return {40 + (step * 397) % spanX, 40 + counterCell + (step * 211) % spanY};
}

inline QRect markerRect(int step, QSize screen)
{
    return {markerAt(step, screen), QSize(markerSize, markerSize)};
}

inline QRect counterRect()
{
    return {0, 0, counterBits * counterCell, counterCell};
}

// One "marker" line of the window's output.
struct MarkerLine {
    int step = 0;
    QRect rect;
    std::uint32_t rgb = 0;
    std::int64_t hostTime = 0;  // ns
};

inline std::optional<MarkerLine> parseMarkerLine(const std::string& line)
{
    std::istringstream in(line);
    std::string word, colour;
    MarkerLine m;
    int x = 0, y = 0, side = 0;
    if (!(in >> word) || word != "marker" || !(in >> m.step >> x >> y >> side >> colour >> m.hostTime)) return {};
    m.rect = QRect(x, y, side, side);
    m.rgb = std::uint32_t(std::stoul(colour, nullptr, 16));
    return m;
}

} // namespace markerschedule
