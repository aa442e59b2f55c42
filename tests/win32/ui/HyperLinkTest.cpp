// The link on real static controls under wine: the colour it asks for when the static paints,
// the pointer's hover with mouse capture, a click reported by the static and reflected by the
// parent, a failed click, and the fit to the text.
#include "gui/win32/CHyperLink.h"

#include "support/FakeShell.h"
#include "win32/ui/ControlTestWindow.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace crenovix {
// Readable rectangles in failure messages.
inline void PrintTo(const SRect& rect, std::ostream* out) {
    *out << "{" << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom
         << "}";
}
} // namespace crenovix

namespace crenovix::win32 {
namespace {

class HyperLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window_.Created()); }

    HWND AddStatic(const char* text, DWORD style, RECT place) {
        const HWND control = window_.AddChild("STATIC", text, style, nextId_++, place);
        EXPECT_NE(control, nullptr);
        return control;
    }

    // Has the control paint itself now and returns the colour answer its paint received.
    SColourAnswer Painted(HWND control) {
        window_.colourAnswers.clear();
        RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        return LastAnswerFor(control);
    }

    SColourAnswer LastAnswerFor(HWND control) const {
        for (auto answer = window_.colourAnswers.rbegin(); answer != window_.colourAnswers.rend();
             ++answer) {
            if (answer->control == control) {
                return *answer;
            }
        }
        ADD_FAILURE() << "the control asked for no colour";
        return {};
    }

    static void MovePointer(HWND control, int x, int y) {
        SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    }

    static void ClickAt(HWND control, int x, int y) {
        SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }

    CControlTestWindow window_;
    testsupport::CFakeShell shell_;
    int nextId_ = 1023;
};

TEST_F(HyperLinkTest, ColourFollowsThePointerAndTheClicks) {
    const HWND control = AddStatic("https://example.invalid/notes", SS_LEFT, {20, 20, 400, 44});
    CHyperLink link(shell_);
    link.Attach(control);

    const SColourAnswer normal = Painted(control);
    EXPECT_EQ(normal.textColour, kLinkNormalColour);
    EXPECT_EQ(normal.backgroundMode, TRANSPARENT);
    EXPECT_EQ(normal.brush, reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));

    // The pointer arrives: painted in the highlight colour before the movement returns.
    window_.colourAnswers.clear();
    MovePointer(control, 3, 3);
    EXPECT_EQ(LastAnswerFor(control).textColour, GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(GetCapture(), control);

    // The static reports the click only because the link made it notify; the parent reflects
    // it; a link attached without a target opens its own text.
    ClickAt(control, 3, 3);
    EXPECT_EQ(shell_.log, std::vector<std::string>{"open https://example.invalid/notes"});
    EXPECT_EQ(Painted(control).textColour, GetSysColor(COLOR_HIGHLIGHT)); // still over it

    window_.colourAnswers.clear();
    MovePointer(control, -4, 3);
    EXPECT_EQ(LastAnswerFor(control).textColour, kLinkVisitedColour);
    EXPECT_EQ(GetCapture(), nullptr);

    // Another window taking the mouse ends the hover; nothing else would.
    MovePointer(control, 5, 5);
    ASSERT_EQ(GetCapture(), control);
    window_.colourAnswers.clear();
    SetCapture(window_.Handle());
    EXPECT_FALSE(link.State().bPointerInside);
    EXPECT_EQ(LastAnswerFor(control).textColour, kLinkVisitedColour);
    ReleaseCapture();
}

TEST_F(HyperLinkTest, FailedClickBeepsShowsTheReasonAndDropsTheVisitedColour) {
    const HWND control = AddStatic("Release notes", SS_LEFT, {20, 60, 300, 84});
    CHyperLink link(shell_);
    int beeps = 0;
    std::vector<std::string> boxes;
    link.beepHandler = [&] { ++beeps; };
    link.messageBoxHandler = [&](const std::string& text) { boxes.push_back(text); };
    link.SetTarget("https://example.invalid/release");
    link.Attach(control);

    ClickAt(control, 2, 2);
    ASSERT_EQ(Painted(control).textColour, kLinkVisitedColour);
    EXPECT_EQ(beeps, 0);

    shell_.openCode = 2; // file not found, and no browser command to fall back on
    ClickAt(control, 2, 2);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(boxes,
              std::vector<std::string>{OpenErrorText(2) + "\n\nhttps://example.invalid/release"});
    EXPECT_EQ(Painted(control).textColour, kLinkNormalColour);
    EXPECT_EQ(shell_.log,
              (std::vector<std::string>{"open https://example.invalid/release",
                                        "open https://example.invalid/release", "read"}));
}

TEST_F(HyperLinkTest, FitsToItsTextKeepingTheAlignedEdge) {
    struct SCase {
        const char* text;
        DWORD style;
        std::uint32_t fitStyle;
        RECT place;
    };
    const std::vector<SCase> cases = {
        {"Please download the newly released version", SS_LEFT, 0, {40, 100, 440, 140}},
        {"Release notes", SS_RIGHT, kSsRight, {40, 150, 440, 190}},
        {"", SS_CENTER | SS_CENTERIMAGE, kSsCenter | kSsCenterImage, {40, 200, 440, 260}},
        {"A text wider than its control", SS_CENTER, kSsCenter, {200, 270, 230, 280}},
    };
    const std::string target = "https://example.invalid/centred";
    for (const SCase& test : cases) {
        SCOPED_TRACE(test.style);
        const HWND control = AddStatic(test.text, test.style, test.place);
        CHyperLink link(shell_);
        link.SetTarget(target);
        link.Attach(control);

        char text[256] = {};
        GetWindowTextA(control, text, sizeof text);
        EXPECT_EQ(std::string(text), *test.text != '\0' ? std::string(test.text) : target);

        // Measured here with the font the control draws with now, the link's own.
        SIZE extent{};
        const HDC dc = GetDC(control);
        const HGDIOBJ previous =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
        GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &extent);
        SelectObject(dc, previous);
        ReleaseDC(control, dc);

        RECT placed{};
        GetWindowRect(control, &placed);
        MapWindowPoints(HWND_DESKTOP, window_.Handle(), reinterpret_cast<POINT*>(&placed), 2);
        const SRect expected = crenovix::FitToText(
            {test.place.left, test.place.top, test.place.right, test.place.bottom},
            {extent.cx, extent.cy}, test.fitStyle);
        EXPECT_EQ((SRect{placed.left, placed.top, placed.right, placed.bottom}), expected);
    }
}

} // namespace
} // namespace crenovix::win32
