// The window controls' rules: link colours and pointer tracking, fitting a link to its text,
// opening a target with the browser fallback and its bounded command buffer, the failure texts,
// and the report list's last-column stretch.
#include "controls/HyperLink.h"
#include "controls/ReportList.h"
#include "support/FakeShell.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

constexpr ColorRef kHighlight = Rgb(1, 2, 3);

TEST(HyperLinkColours, AreStoredAsBlueGreenRed) {
    EXPECT_EQ(kLinkNormalColour, 0x00EE0000u);
    EXPECT_EQ(kLinkVisitedColour, 0x008B1A55u);
}

TEST(HyperLinkColours, FollowHoverAndTheLastClick) {
    SHyperLinkState link;
    link.strTarget = "http://a.test";
    link.crHover = kHighlight;
    CFakeShell shell;
    EXPECT_EQ(LinkTextColour(link), kLinkNormalColour);

    EXPECT_EQ(TrackPointer(link, true), EPointerChange::Entered);
    EXPECT_EQ(LinkTextColour(link), kHighlight);
    EXPECT_EQ(TrackPointer(link, true), EPointerChange::None);

    shell.openCode = 42;
    ClickLink(link, shell);
    EXPECT_EQ(LinkTextColour(link), kHighlight); // still under the pointer
    EXPECT_EQ(TrackPointer(link, false), EPointerChange::Left);
    EXPECT_EQ(LinkTextColour(link), kLinkVisitedColour);

    shell.openCode = 2; // a later failure, with no browser to fall back on
    TrackPointer(link, true);
    EXPECT_EQ(ClickLink(link, shell), 2);
    TrackPointer(link, false);
    EXPECT_EQ(LinkTextColour(link), kLinkNormalColour);
}

TEST(HyperLinkClick, TargetAndWindowTextStandInForEachOther) {
    SHyperLinkState link;
    link.strTarget = "http://target.test";
    std::string windowText;
    AttachLinkText(link, windowText);
    EXPECT_EQ(windowText, "http://target.test");

    SHyperLinkState plain;
    std::string caption = "Kelvorin Release Notes";
    AttachLinkText(plain, caption);
    EXPECT_EQ(plain.strTarget, "Kelvorin Release Notes");
    CFakeShell shell;
    shell.openCode = 33;
    EXPECT_EQ(ClickLink(plain, shell), 5) << "a caption is no web address";
    EXPECT_TRUE(shell.log.empty());
}

// Targets come from a catalogue fetched over plain http: only web addresses reach an opener, a
// bare host name (the catalogue's default "Software" "URL") as an http address.
TEST(HyperLinkClick, OnlyWebAddressesReachTheOpener) {
    EXPECT_EQ(LinkWebAddress("HTTPS://a.test/x?y=1"), "HTTPS://a.test/x?y=1");
    EXPECT_EQ(LinkWebAddress("www.kavro.example:8080/notes"),
              "http://www.kavro.example:8080/notes");
    CFakeShell shell;
    shell.openCode = 33;
    shell.browserCommand = "browser %1";
    for (const char* target :
         {"file:///etc/passwd", "/usr/bin/xterm", "smb://server/share/x", "ssh://host", "http://",
          "javascript:alert(1)", "-h", "localhost", "http://a.test/a b", "http://x/\" --evil",
          "http://a.test/\x01", "C:\\windows\\notepad.exe", ""}) {
        EXPECT_EQ(OpenTarget(shell, target), kLinkRefused) << target;
    }
    EXPECT_TRUE(shell.log.empty());
    EXPECT_EQ(
        OpenErrorText(kLinkRefused),
        "Unable to open hyperlink:\n\nThe operating system denied\naccess to the specified file.");
}

TEST(HyperLinkClick, CodesAbove32MeanOpenedAnd32DoesNot) {
    SHyperLinkState link;
    link.strTarget = "http://a.test";
    CFakeShell shell;
    shell.openCode = 33;
    EXPECT_EQ(ClickLink(link, shell), 33);
    EXPECT_TRUE(link.bOpened);
    shell.openCode = 32;
    ClickLink(link, shell);
    EXPECT_FALSE(link.bOpened);
}

TEST(HyperLinkClick, ANegativeShellCodeEndsTheOpenAndCountsAsFailure) {
    // Above 32 when compared unsigned, so the fallback does not run; not above 32 signed.
    SHyperLinkState link;
    link.strTarget = "http://a.test";
    CFakeShell shell;
    shell.openCode = -5;
    shell.browserCommand = "browser %1";
    EXPECT_EQ(ClickLink(link, shell), -5);
    EXPECT_FALSE(link.bOpened);
    EXPECT_EQ(shell.log, std::vector<std::string>{"open http://a.test"});
}

TEST(HyperLinkFit, EachAlignmentKeepsItsEdgeOrCentre) {
    const SRect rect{10, 20, 110, 40}; // 100 x 20
    const SSize text{31, 13};
    EXPECT_EQ(FitToText(rect, text, 0), (SRect{10, 20, 41, 33}));
    EXPECT_EQ(FitToText(rect, text, kSsRight), (SRect{79, 20, 110, 33}));
    // (100 - 31) / 2 = 34 each side, truncated: the fitted width is 32, not 31.
    EXPECT_EQ(FitToText(rect, text, kSsCenter), (SRect{44, 20, 76, 33}));
    // (20 - 13) / 2 = 3 each side: height 14.
    EXPECT_EQ(FitToText(rect, text, kSsCenterImage | kSsNotify), (SRect{10, 23, 41, 37}));
    EXPECT_EQ(FitToText(rect, text, kSsCenter | kSsRight), FitToText(rect, text, kSsCenter));
}

TEST(HyperLinkFit, ATextLargerThanTheControlWidensIt) {
    const SRect rect{10, 20, 20, 24}; // 10 x 4
    const SSize text{17, 9};
    // (10 - 17) / 2 = -3 and (4 - 9) / 2 = -2, truncated toward zero, not -4 and -3.
    EXPECT_EQ(FitToText(rect, text, kSsCenter | kSsCenterImage), (SRect{7, 18, 23, 26}));
    EXPECT_EQ(FitToText(rect, text, kSsRight), (SRect{3, 20, 20, 29}));
    EXPECT_EQ(FitToText(rect, SSize{0, 0}, 0), (SRect{10, 20, 10, 20}));
}

TEST(HyperLinkFallback, TheCommandIsCutAtItsPlaceholder) {
    EXPECT_EQ(CutAtPlaceholder("\"C:\\b\\browser.exe\" -osint -url \"%1\" --extra"),
              "\"C:\\b\\browser.exe\" -osint -url ");
    EXPECT_EQ(CutAtPlaceholder("browser --new %1 --after"), "browser --new ");
    EXPECT_EQ(CutAtPlaceholder("browser --new-window"), "browser --new-window");
    // The quoted form is looked for first, even behind a bare one.
    EXPECT_EQ(CutAtPlaceholder("browser %1 \"%1\""), "browser %1 ");
    EXPECT_EQ(CutAtPlaceholder("browser \"%1 x\""), "browser \"");
}

TEST(HyperLinkFallback, TheShellComesFirstAndTheBrowserOnlyAfterItFails) {
    CFakeShell shell;
    shell.openCode = 42;
    shell.browserCommand = "browser \"%1\" -x";
    EXPECT_EQ(OpenTarget(shell, "http://a.test"), 42);
    EXPECT_EQ(shell.log, std::vector<std::string>{"open http://a.test"});

    shell.log.clear();
    shell.openCode = 31;
    shell.runCode = 40;
    EXPECT_EQ(OpenTarget(shell, "http://a.test"), 40);
    EXPECT_EQ(shell.log, (std::vector<std::string>{"open http://a.test", "read",
                                                   "run browser |http://a.test"}));
    EXPECT_EQ(shell.runs.back().Joined(), "browser  http://a.test");

    shell.log.clear();
    shell.browserCommand.reset(); // no default browser: the shell's code stands
    EXPECT_EQ(OpenTarget(shell, "http://a.test"), 31);
    EXPECT_EQ(shell.log.back(), "read");
}

TEST(HyperLinkFallback, ACommandLineThatDoesNotFitIsNeverStarted) {
    const std::string command = std::string(200, 'p') + "%1 --after";
    // 200 + blank + 318 + terminating zero = 520: the buffer exactly.
    const std::optional<SCommandLine> fits = BrowserCommandLine(command, std::string(318, 'u'));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->Joined().size(), 519u);
    EXPECT_FALSE(BrowserCommandLine(command, std::string(319, 'u')));

    EXPECT_TRUE(BrowserCommandLine(std::string(259, 'c'), ""));
    EXPECT_FALSE(BrowserCommandLine(std::string(260, 'c'), "")); // not a readable value

    CFakeShell shell;
    shell.openCode = 2;
    shell.browserCommand = "browser %1";
    EXPECT_EQ(OpenTarget(shell, "http://" + std::string(504, 'u')), 2); // 8 + 1 + 511 + 1 = 521
    EXPECT_TRUE(shell.runs.empty());
    shell.browserCommand = std::string(300, 'p');
    EXPECT_EQ(OpenTarget(shell, "http://a.test"), 2);
    EXPECT_TRUE(shell.runs.empty());
}

TEST(HyperLinkErrors, TextsComeFromTheTableAndOthersAreUnknown) {
    const std::string prefix = "Unable to open hyperlink:\n\n";
    EXPECT_EQ(OpenErrorText(26), prefix + "A sharing violation occurred. ");
    EXPECT_EQ(OpenErrorText(4), prefix + "Unknown Error (4) occurred.");
    EXPECT_EQ(OpenErrorText(0), prefix + "The operating system is out\nof memory or resources.");
    EXPECT_EQ(OpenErrorText(31),
              prefix + "There is no application associated\nwith the given filename extension.");
    EXPECT_EQ(OpenErrorText(32), prefix + "The specified dynamic-link library was not found.");
    EXPECT_EQ(OpenErrorText(33), prefix + "Unknown Error (33) occurred.");
    EXPECT_EQ(OpenErrorText(-2), prefix + "Unknown Error (-2) occurred.");
    // A failed click names the address to copy; a refused target is not repeated.
    EXPECT_EQ(LinkErrorText(2, "www.a.test/x"), OpenErrorText(2) + "\n\nhttp://www.a.test/x");
    EXPECT_EQ(LinkErrorText(kLinkRefused, "file:///x"), OpenErrorText(kLinkRefused));
}

TEST(ReportListStretch, TheLastColumnFillsTheRestButKeepsItsHeading) {
    const std::array<int, 5> others{70, 135, 50, 70, 300};
    EXPECT_EQ(StretchedLastColumnWidth(800, others, 40), 800 - 625);
    EXPECT_EQ(StretchedLastColumnWidth(600, others, 40), 40);
    EXPECT_EQ(StretchedLastColumnWidth(300, {}, 40), 300);
}

} // namespace
