// The program's own pictures as data: the application icon (a battery with a charging bolt), the
// main window's side picture and the download window's, each a list of shapes in pixels for the
// size asked for. One description, so both front ends show the same motifs, colours and
// proportions; each has a small painter that walks the list (gui/qt/Artwork.cpp with QPainter,
// gui/win32/Artwork.cpp with GDI) and chooses only what its toolkit does differently: the font
// family and how a gradient or an edge is rasterised.
#pragma once

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

namespace crenovix {

enum class ESidePicture { Main, Download };

namespace artwork {

struct SColour {
    std::uint8_t r, g, b;
};

struct SPoint {
    double x, y;
};

struct SBox {
    double left, top, width, height; // pixels
};

// The whole picture, shaded from `top` at its first row to `bottom` at its last.
struct SSky {
    SColour top, bottom;
};

// A filled box with rounded corners of `radius` pixels, no outline.
struct SRoundBox {
    SBox box;
    double radius;
    SColour fill;
};

// A closed polygon, filled; when `outlineWidth` (pixels) is above 0, edged in `outline`.
struct SPolygon {
    std::vector<SPoint> points;
    SColour fill;
    SColour outline;
    double outlineWidth;
};

// One line of text across the whole width of the picture, centred in the band from `top` down to
// `top + height` (fractions of the picture's height, so a painter that works in whole pixels
// rounds the band's edges, not its height), `pixelSize` pixels high, in the painter's sans-serif
// font.
struct STextLine {
    std::string_view text;
    double top, height;
    int pixelSize;
    bool bold;
    SColour colour;
};

using SShape = std::variant<SSky, SRoundBox, SPolygon, STextLine>;

// What to draw, in order, on a picture of `width` x `height` pixels. A transparent picture
// starts clear; the others are covered by their first shape.
struct SPicture {
    int width, height;
    bool transparent;
    std::vector<SShape> shapes;
};

// The application icon, `size` pixels square, on a clear background.
SPicture AppIcon(int size);
SPicture SidePicture(ESidePicture picture, int width, int height);

} // namespace artwork
} // namespace crenovix
