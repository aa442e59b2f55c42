#include "app/win32/Artwork.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace crenovix::win32 {

namespace {
constexpr COLORREF kBody = RGB(0x1F, 0x4E, 0x79);
constexpr COLORREF kBolt = RGB(0xFF, 0xC8, 0x2E);
constexpr COLORREF kCharge = RGB(0x4C, 0xAF, 0x50);
constexpr COLORREF kPale = RGB(0xE8, 0xEE, 0xF4);
constexpr COLORREF kSkyTop = RGB(0x2C, 0x6E, 0xA8);
constexpr COLORREF kSkyBottom = RGB(0x0E, 0x2A, 0x47);

int Round(double value) {
    return static_cast<int>(std::lround(value));
}

// Selects a solid brush and a pen (none when `penWidth` is 0) for the life of the object.
class CPaint {
public:
    CPaint(HDC dc, COLORREF fill, COLORREF outline = 0, int penWidth = 0)
        : dc_(dc), brush_(CreateSolidBrush(fill)),
          pen_(penWidth > 0 ? CreatePen(PS_SOLID, penWidth, outline) : nullptr) {
        oldBrush_ = SelectObject(dc_, brush_);
        oldPen_ = SelectObject(dc_, pen_ != nullptr ? pen_ : GetStockObject(NULL_PEN));
    }
    ~CPaint() {
        SelectObject(dc_, oldBrush_);
        SelectObject(dc_, oldPen_);
        DeleteObject(brush_);
        if (pen_ != nullptr) {
            DeleteObject(pen_);
        }
    }
    CPaint(const CPaint&) = delete;
    CPaint& operator=(const CPaint&) = delete;

private:
    HDC dc_;
    HBRUSH brush_;
    HPEN pen_;
    HGDIOBJ oldBrush_;
    HGDIOBJ oldPen_;
};

struct SBox {
    double left, top, width, height;
};

void RoundBox(HDC dc, const SBox& box, double radius, COLORREF colour) {
    if (box.width <= 0 || box.height <= 0) {
        return;
    }
    CPaint paint(dc, colour);
    // A null pen leaves out the right and bottom edge: one pixel more on both sides.
    RoundRect(dc, Round(box.left), Round(box.top), Round(box.left + box.width) + 1,
              Round(box.top + box.height) + 1, Round(radius * 2), Round(radius * 2));
}

// A battery standing upright in `area`, its charge level 0..1, with a bolt across it.
void DrawBattery(HDC dc, const SBox& area, double level) {
    const double w = area.width;
    const double h = area.height;
    RoundBox(dc, {area.left + w * 0.35, area.top, w * 0.3, h * 0.08}, w * 0.05, kBody);
    const SBox body{area.left, area.top + h * 0.07, w, h * 0.93};
    RoundBox(dc, body, w * 0.12, kBody);
    const SBox inner{body.left + w * 0.1, body.top + w * 0.1, body.width - w * 0.2,
                     body.height - w * 0.2};
    RoundBox(dc, inner, w * 0.06, kPale);
    RoundBox(
        dc, {inner.left, inner.top + inner.height * (1 - level), inner.width, inner.height * level},
        w * 0.06, kCharge);

    const double cx = inner.left + inner.width / 2;
    const double top = inner.top + inner.height * 0.12;
    const double bottom = inner.top + inner.height * 0.88;
    const double mid = (top + bottom) / 2;
    const std::array<POINT, 6> bolt = {{
        {Round(cx + w * 0.12), Round(top)},
        {Round(cx - w * 0.22), Round(mid + h * 0.04)},
        {Round(cx - w * 0.01), Round(mid + h * 0.04)},
        {Round(cx - w * 0.12), Round(bottom)},
        {Round(cx + w * 0.22), Round(mid - h * 0.04)},
        {Round(cx + w * 0.01), Round(mid - h * 0.04)},
    }};
    CPaint paint(dc, kBolt, kBody, std::max(1, Round(w * 0.03)));
    Polygon(dc, bolt.data(), static_cast<int>(bolt.size()));
}

int Mix(int from, int to, int step, int steps) {
    return from + (to - from) * step / std::max(1, steps);
}

void FillSky(HDC dc, int width, int height) {
    for (int y = 0; y < height; ++y) {
        const COLORREF colour = RGB(Mix(GetRValue(kSkyTop), GetRValue(kSkyBottom), y, height - 1),
                                    Mix(GetGValue(kSkyTop), GetGValue(kSkyBottom), y, height - 1),
                                    Mix(GetBValue(kSkyTop), GetBValue(kSkyBottom), y, height - 1));
        const HBRUSH brush = CreateSolidBrush(colour);
        const RECT row{0, y, width, y + 1};
        FillRect(dc, &row, brush);
        DeleteObject(brush);
    }
}

// Tahoma scales to any size on every Windows; the dialog font may be a bitmap font.
void DrawLine(HDC dc, const char* text, const RECT& area, int pixelHeight, bool bold) {
    const HFONT font = CreateFontA(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                                   FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   CLEARTYPE_QUALITY, VARIABLE_PITCH, "Tahoma");
    const HGDIOBJ old = SelectObject(dc, font);
    RECT box = area;
    DrawTextA(dc, text, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(font);
}

// Two centred lines: a bold title at `top` (a fraction of the height) and a subtitle below it.
void DrawCaptions(HDC dc, int width, int height, const char* title, const char* subtitle,
                  double top, double titleHeight, double subtitleHeight, int titleDivisor,
                  int subtitleDivisor) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kPale);
    const int titleTop = Round(height * top);
    const int subtitleTop = Round(height * (top + titleHeight));
    DrawLine(dc, title, {0, titleTop, width, subtitleTop}, std::max(8, width / titleDivisor), true);
    DrawLine(dc, subtitle,
             {0, subtitleTop, width, Round(height * (top + titleHeight + subtitleHeight))},
             std::max(7, width / subtitleDivisor), false);
}

void DrawMain(HDC dc, int width, int height) {
    FillSky(dc, width, height);
    const double w = width * 0.5;
    DrawBattery(dc, {(width - w) / 2, height * 0.2, w, w * 1.9}, 0.8);
    DrawCaptions(dc, width, height, "Kelvorin", "Firmware Update", 0.72, 0.1, 0.08, 7, 10);
}

void DrawDownload(HDC dc, int width, int height) {
    FillSky(dc, width, height);
    // A downward arrow over the battery: the file comes down to the charger.
    const double cx = width / 2.0;
    const double unit = width * 0.09;
    const double top = height * 0.1;
    const std::array<POINT, 7> arrow = {{
        {Round(cx - unit), Round(top)},
        {Round(cx + unit), Round(top)},
        {Round(cx + unit), Round(top + unit * 3)},
        {Round(cx + unit * 2.5), Round(top + unit * 3)},
        {Round(cx), Round(top + unit * 5.5)},
        {Round(cx - unit * 2.5), Round(top + unit * 3)},
        {Round(cx - unit), Round(top + unit * 3)},
    }};
    {
        CPaint paint(dc, kBolt);
        Polygon(dc, arrow.data(), static_cast<int>(arrow.size()));
    }
    const double w = width * 0.56;
    const double batteryTop = top + unit * 7;
    const double h = std::min(w * 1.9, height * 0.76 - batteryTop);
    DrawBattery(dc, {cx - w / 2, batteryTop, w, h}, 0.45);
    DrawCaptions(dc, width, height, "Kelvorin", "Updates", 0.8, 0.08, 0.07, 6, 8);
}
} // namespace

HBITMAP DrawSidePicture(ESidePicture picture, int width, int height) {
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24; // no alpha: a themed static then shows it as it is
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        return nullptr;
    }
    const HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) {
        DeleteObject(bitmap);
        return nullptr;
    }
    const HGDIOBJ old = SelectObject(dc, bitmap);
    if (picture == ESidePicture::Main) {
        DrawMain(dc, width, height);
    } else {
        DrawDownload(dc, width, height);
    }
    GdiFlush();
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

HBITMAP ShowSidePicture(HWND control, ESidePicture picture) {
    RECT client{};
    if (control == nullptr || !GetClientRect(control, &client)) {
        return nullptr;
    }
    const HBITMAP bitmap = DrawSidePicture(picture, client.right, client.bottom);
    if (bitmap == nullptr) {
        return nullptr;
    }
    const auto previous = reinterpret_cast<HBITMAP>(
        SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    if (previous != nullptr && previous != bitmap) {
        DeleteObject(previous);
    }
    return bitmap;
}

} // namespace crenovix::win32
