#include "protocol/UpdateLog.h"
#include "app/Settings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace crenovix;

namespace {

SUpdateRecord Sample() {
    SUpdateRecord record;
    record.time = "2026-12-08T17:14:47.123Z";
    record.programVersion = "V2.1";
    record.host = "bench";
    record.port = "HID1";
    record.type = "Kelvorin K4";
    record.serial = "SIM0001";
    record.file = "/tmp/fw.bin";
    record.fileVersion = "V1.05";
    record.fileSha256 = "ab12";
    record.ok = false;
    record.code = 1008;
    record.message = "1008: Error communication.\n";
    record.elapsedMs = 4321;
    return record;
}

TEST(UpdateLogTest, OneLineHoldsEveryFieldInItsOrder) {
    EXPECT_EQ(UpdateLogLine(Sample()),
              "{\"time\": \"2026-12-08T17:14:47.123Z\", \"program_version\": \"V2.1\", "
              "\"host\": \"bench\", \"port\": \"HID1\", \"type\": \"Kelvorin K4\", "
              "\"serial\": \"SIM0001\", \"file\": \"/tmp/fw.bin\", \"file_version\": \"V1.05\", "
              "\"file_sha256\": \"ab12\", \"ok\": false, \"code\": 1008, "
              "\"message\": \"1008: Error communication.\\n\", \"elapsed_ms\": 4321}");
}

// Texts from a file name, a charger or a box can hold anything: none may end the line, break
// the JSON or reach a terminal as a control.
TEST(UpdateLogTest, TextsAreEscapedSoNoRecordSpansTwoLines) {
    SUpdateRecord record = Sample();
    record.file = "C:\\fw \"new\".bin\r\n{\"ok\": true}";
    record.serial = std::string("S\x1b]0;x\x07", 7);
    record.type = "K\xff";
    const std::string line = UpdateLogLine(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_NE(line.find("\"file\": \"C:\\\\fw \\\"new\\\".bin\\r\\n{\\\"ok\\\": true}\""),
              std::string::npos);
    EXPECT_NE(line.find("\"serial\": \"S\\u001b]0;x\\u0007\""), std::string::npos);
    EXPECT_NE(line.find("\"type\": \"K\xc3\xbf\""), std::string::npos) << "kept as valid UTF-8";
}

TEST(UpdateLogTest, StampedAndRepairedBeforeAppending) {
    const SLogStamp stamp{"host-1", "V9.9", [] { return std::int64_t{1'765'213'687'123}; }};
    const std::string fresh = UpdateLogAppendText(Sample(), stamp, false);
    EXPECT_EQ(fresh.rfind("{\"time\": \"2025-12-08T17:08:07.123Z\", \"program_version\": "
                          "\"V9.9\", \"host\": \"host-1\", \"port\": \"HID1\"",
                          0),
              0u);
    EXPECT_EQ(fresh.back(), '\n');
    EXPECT_EQ(fresh.find('\n'), fresh.size() - 1);
    // After a record a power cut cut short, the next starts on a line of its own.
    EXPECT_EQ(UpdateLogAppendText(Sample(), stamp, true), "\n" + fresh);
}

TEST(UpdateLogTest, TimesAreUtcWithMilliseconds) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {951'825'600'007, "2000-02-29T12:00:00.007Z"},
        {1'709'251'199'999, "2024-02-29T23:59:59.999Z"},
        {4'102'444'800'000, "2100-01-01T00:00:00.000Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
    };
    for (const auto& [ms, text] : cases) {
        EXPECT_EQ(IsoUtcTime(ms), text) << ms;
    }
}

TEST(UpdateLogTest, DefaultPlaceIsTheUsersDataFolder) {
    EXPECT_EQ(LinuxDefaultLogPath("/x/data", "/home/u"), "/x/data/crenovix/updates.jsonl");
    EXPECT_EQ(LinuxDefaultLogPath(nullptr, "/home/u"),
              "/home/u/.local/share/crenovix/updates.jsonl");
    // A relative XDG_DATA_HOME is not to be used.
    EXPECT_EQ(LinuxDefaultLogPath("data", "/home/u"),
              "/home/u/.local/share/crenovix/updates.jsonl");
    EXPECT_EQ(LinuxDefaultLogPath("", nullptr), "");
    EXPECT_EQ(WindowsDefaultLogPath("C:\\Users\\u\\AppData\\Local"),
              "C:\\Users\\u\\AppData\\Local\\Crenovix\\updates.jsonl");
    EXPECT_EQ(WindowsDefaultLogPath(""), "");
}

// The settings file: what it says, and what it becomes with the log off at /l.jsonl; lines of
// others are kept, and text that makes no sense means the defaults.
TEST(UpdateLogTest, SettingsTextKeepsWhatItDoesNotKnow) {
    struct SCase {
        std::string text;
        SUpdateLogSetting parsed;
        std::string formatted;
    };
    const SCase cases[] = {
        {"", {"", true}, "UpdateLog=/l.jsonl\nKeepUpdateLog=0\n"},
        {"Theme=dark\r\nUpdateLog=C:\\a b.jsonl\r\nKeepUpdateLog=0",
         {"C:\\a b.jsonl", false},
         "Theme=dark\nUpdateLog=/l.jsonl\nKeepUpdateLog=0\n"},
        {"KeepUpdateLog=1\n[x]\nUpdateLog\nKeepUpdateLog=0\n",
         {"", false},
         "KeepUpdateLog=0\n[x]\nUpdateLog=/l.jsonl\n"},
        {std::string("\0\xff=\n=UpdateLog=x\nKeepUpdateLog=yes", 34),
         {"", true},
         std::string("\0\xff=\n=UpdateLog=x\nKeepUpdateLog=0\nUpdateLog=/l.jsonl\n", 52)},
    };
    for (const SCase& c : cases) {
        EXPECT_EQ(ParseUpdateLogSetting(c.text), c.parsed) << c.text;
        const auto formatted = FormatUpdateLogSetting(c.text, {"/l.jsonl", false});
        ASSERT_TRUE(formatted) << c.text;
        EXPECT_EQ(*formatted, c.formatted);
        EXPECT_EQ(ParseUpdateLogSetting(*formatted), (SUpdateLogSetting{"/l.jsonl", false}));
    }
    EXPECT_FALSE(FormatUpdateLogSetting("", {"a\nKeepUpdateLog=1", false}));
    EXPECT_EQ(LinuxSettingsPath("rel", "/home/u"), "/home/u/.config/crenovix/settings.ini");
    EXPECT_EQ(WindowsSettingsPath("C:\\R"), "C:\\R\\Crenovix\\settings.ini");
}

// A settings file is replaced whole or not at all.
TEST(UpdateLogTest, SettingsFileIsReplacedWholeOrNotAtAll) {
    testsupport::CTempDir dir;
    const std::string path = dir.File("sub/settings.ini");
    EXPECT_EQ(WriteSettingsFile(path, "KeepUpdateLog=0\n"), "");
    EXPECT_EQ(ReadSettingsFile(path), "KeepUpdateLog=0\n");
    std::filesystem::create_directory(path + ".new"); // the temporary file cannot be made
    EXPECT_NE(WriteSettingsFile(path, "KeepUpdateLog=1\n"), "");
    EXPECT_EQ(ReadSettingsFile(path), "KeepUpdateLog=0\n");
}

} // namespace
