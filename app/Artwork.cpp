#include "app/Artwork.h"

#include <algorithm>

namespace crenovix::artwork {

namespace {
constexpr SColour kBody{0x1F, 0x4E, 0x79};
constexpr SColour kBolt{0xFF, 0xC8, 0x2E};
constexpr SColour kCharge{0x4C, 0xAF, 0x50};
constexpr SColour kPale{0xE8, 0xEE, 0xF4};
constexpr SColour kSkyTop{0x2C, 0x6E, 0xA8};
constexpr SColour kSkyBottom{0x0E, 0x2A, 0x47};

// A battery standing upright in `area`, its charge level 0..1, with a bolt across it.
void AddBattery(std::vector<SShape>& shapes, const SBox& area, double level) {
    const double w = area.width;
    const double h = area.height;
    shapes.push_back(
        SRoundBox{{area.left + w * 0.35, area.top, w * 0.3, h * 0.08}, w * 0.05, kBody});
    const SBox body{area.left, area.top + h * 0.07, w, h * 0.93};
    shapes.push_back(SRoundBox{body, w * 0.12, kBody});
    const SBox inner{body.left + w * 0.1, body.top + w * 0.1, body.width - w * 0.2,
                     body.height - w * 0.2};
    shapes.push_back(SRoundBox{inner, w * 0.06, kPale});
    shapes.push_back(SRoundBox{
        {inner.left, inner.top + inner.height * (1 - level), inner.width, inner.height * level},
        w * 0.06,
        kCharge});

    const double cx = inner.left + inner.width / 2;
    const double top = inner.top + inner.height * 0.12;
    const double bottom = inner.top + inner.height * 0.88;
    const double mid = (top + bottom) / 2;
    shapes.push_back(SPolygon{{{cx + w * 0.12, top},
                               {cx - w * 0.22, mid + h * 0.04},
                               {cx - w * 0.01, mid + h * 0.04},
                               {cx - w * 0.12, bottom},
                               {cx + w * 0.22, mid - h * 0.04},
                               {cx + w * 0.01, mid - h * 0.04}},
                              kBolt,
                              kBody,
                              std::max(1.0, w * 0.03)});
}

// Two centred lines under the picture: a bold title at `top` and a subtitle below it. Sizes and
// heights are fractions of the picture so the captions scale with it.
struct SCaptions {
    std::string_view title;
    std::string_view subtitle;
    double top;
    double titleHeight;
    double subtitleHeight;
    int titleDivisor;    // title pixel size = width / titleDivisor
    int subtitleDivisor; // likewise
};

void AddCaptions(SPicture& picture, const SCaptions& captions) {
    const int width = picture.width;
    picture.shapes.push_back(STextLine{captions.title, captions.top, captions.titleHeight,
                                       std::max(8, width / captions.titleDivisor), true, kPale});
    picture.shapes.push_back(
        STextLine{captions.subtitle, captions.top + captions.titleHeight, captions.subtitleHeight,
                  std::max(7, width / captions.subtitleDivisor), false, kPale});
}
} // namespace

SPicture AppIcon(int size) {
    SPicture picture{size, size, true, {}};
    const double margin = size * 0.12;
    AddBattery(picture.shapes, {size * 0.22, margin, size * 0.56, size - 2 * margin}, 0.6);
    return picture;
}

SPicture SidePicture(ESidePicture which, int width, int height) {
    SPicture picture{width, height, false, {SSky{kSkyTop, kSkyBottom}}};
    if (which == ESidePicture::Main) {
        const double w = width * 0.5;
        AddBattery(picture.shapes, {(width - w) / 2, height * 0.2, w, w * 1.9}, 0.8);
        AddCaptions(picture, {"Kelvorin", "Firmware Update", 0.72, 0.1, 0.08, 7, 10});
        return picture;
    }
    // A downward arrow over the battery: the file comes down to the charger.
    const double cx = width / 2.0;
    const double unit = width * 0.09;
    const double top = height * 0.1;
    picture.shapes.push_back(SPolygon{{{cx - unit, top},
                                       {cx + unit, top},
                                       {cx + unit, top + unit * 3},
                                       {cx + unit * 2.5, top + unit * 3},
                                       {cx, top + unit * 5.5},
                                       {cx - unit * 2.5, top + unit * 3},
                                       {cx - unit, top + unit * 3}},
                                      kBolt,
                                      kBolt,
                                      0});
    const double w = width * 0.56;
    const double batteryTop = top + unit * 7;
    const double h = std::min(w * 1.9, height * 0.76 - batteryTop);
    AddBattery(picture.shapes, {cx - w / 2, batteryTop, w, h}, 0.45);
    AddCaptions(picture, {"Kelvorin", "Updates", 0.8, 0.08, 0.07, 6, 8});
    return picture;
}

} // namespace crenovix::artwork
