#include "gui/win32/Artwork.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace crenovix::win32 {

namespace {
COLORREF Colour(const artwork::SColour& colour) {
    return RGB(colour.r, colour.g, colour.b);
}

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

int Mix(int from, int to, int step, int steps) {
    return from + (to - from) * step / std::max(1, steps);
}

// One solid row per pixel row: GDI has no gradient brush.
void FillSky(HDC dc, const artwork::SSky& sky, int width, int height) {
    const COLORREF top = Colour(sky.top);
    const COLORREF bottom = Colour(sky.bottom);
    for (int y = 0; y < height; ++y) {
        const COLORREF colour = RGB(Mix(GetRValue(top), GetRValue(bottom), y, height - 1),
                                    Mix(GetGValue(top), GetGValue(bottom), y, height - 1),
                                    Mix(GetBValue(top), GetBValue(bottom), y, height - 1));
        const HBRUSH brush = CreateSolidBrush(colour);
        const RECT row{0, y, width, y + 1};
        FillRect(dc, &row, brush);
        DeleteObject(brush);
    }
}

void RoundBox(HDC dc, const artwork::SRoundBox& shape) {
    const artwork::SBox& box = shape.box;
    if (box.width <= 0 || box.height <= 0) {
        return;
    }
    CPaint paint(dc, Colour(shape.fill));
    // A null pen leaves out the right and bottom edge: one pixel more on both sides.
    RoundRect(dc, Round(box.left), Round(box.top), Round(box.left + box.width) + 1,
              Round(box.top + box.height) + 1, Round(shape.radius * 2), Round(shape.radius * 2));
}

void FillPolygon(HDC dc, const artwork::SPolygon& polygon) {
    std::vector<POINT> points;
    for (const artwork::SPoint& point : polygon.points) {
        points.push_back({Round(point.x), Round(point.y)});
    }
    CPaint paint(dc, Colour(polygon.fill), Colour(polygon.outline), Round(polygon.outlineWidth));
    Polygon(dc, points.data(), static_cast<int>(points.size()));
}

// Tahoma scales to any size on every Windows; the dialog font may be a bitmap font.
void DrawLine(HDC dc, const artwork::STextLine& line, int width, int height) {
    const HFONT font =
        CreateFontA(-line.pixelSize, 0, 0, 0, line.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                    VARIABLE_PITCH, "Tahoma");
    const HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Colour(line.colour));
    RECT box{0, Round(height * line.top), width, Round(height * (line.top + line.height))};
    const std::string text(line.text);
    DrawTextA(dc, text.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(font);
}

void Paint(HDC dc, const artwork::SPicture& picture) {
    for (const artwork::SShape& shape : picture.shapes) {
        if (const auto* sky = std::get_if<artwork::SSky>(&shape)) {
            FillSky(dc, *sky, picture.width, picture.height);
        } else if (const auto* box = std::get_if<artwork::SRoundBox>(&shape)) {
            RoundBox(dc, *box);
        } else if (const auto* polygon = std::get_if<artwork::SPolygon>(&shape)) {
            FillPolygon(dc, *polygon);
        } else if (const auto* line = std::get_if<artwork::STextLine>(&shape)) {
            DrawLine(dc, *line, picture.width, picture.height);
        }
    }
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
    Paint(dc, artwork::SidePicture(picture, width, height));
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
