// The update log's Windows file under wine: appended records stay whole lines when several
// handles append at once, a record cut short gets its own line end before the next, and paths
// that are no file are refused.
#include "protocol/win32/UpdateLogFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

namespace crenovix {
namespace {

const SLogStamp kStamp{"bench", "V9.9", [] { return std::int64_t{1'700'000'000'000}; }};

SUpdateRecord Record(char mark, std::size_t size) {
    SUpdateRecord record;
    record.port = "HID1";
    record.message.assign(size, mark);
    return record;
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(Win32UpdateLogFile, HandlesAppendingAtOnceKeepWholeLines) {
    const testsupport::CTempDir dir;
    const std::string path = dir.File("Crenovix\\updates.jsonl"); // the folder made on the way
    constexpr std::size_t kSize = 64 * 1024;
    constexpr int kEach = 8;
    std::vector<std::thread> appenders;
    for (const char mark : {'a', 'b', 'c'}) {
        appenders.emplace_back([&path, mark] {
            std::string error;
            const auto log = CUpdateLogFile::Open(path, kStamp, error); // a handle of its own
            for (int i = 0; log != nullptr && i < kEach; ++i) {
                EXPECT_TRUE(log->Append(Record(mark, kSize)).ok);
            }
        });
    }
    for (std::thread& appender : appenders) {
        appender.join();
    }
    std::map<char, int> counts;
    std::istringstream lines(ReadAll(path));
    for (std::string line; std::getline(lines, line);) {
        const char mark = line.size() > 25 ? line[line.size() - 25] : '?';
        ASSERT_EQ(line + "\n", UpdateLogAppendText(Record(mark, kSize), kStamp, false));
        ++counts[mark];
    }
    EXPECT_EQ(counts, (std::map<char, int>{{'a', kEach}, {'b', kEach}, {'c', kEach}}));

    // A record a power cut cut short: the next one starts on a line of its own.
    std::ofstream(path, std::ios::binary | std::ios::app) << "{\"time\": \"20";
    const std::string before = ReadAll(path);
    std::string error;
    ASSERT_TRUE(CUpdateLogFile::Open(path, kStamp, error)->Append(Record('n', 3)).ok);
    EXPECT_EQ(ReadAll(path), before + "\n" + UpdateLogAppendText(Record('n', 3), kStamp, false));
}

TEST(Win32UpdateLogFile, PathsThatAreNoFileAreRefused) {
    const testsupport::CTempDir dir;
    std::string error;
    EXPECT_EQ(CUpdateLogFile::Open(dir.Path().string(), kStamp, error), nullptr);
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    const auto device = CUpdateLogFile::Open("NUL", kStamp, error);
    if (device != nullptr) { // where the folder check does not see the device, the append does
        const SLogAppend appended = device->Append(Record('x', 1));
        EXPECT_FALSE(appended.ok);
        EXPECT_NE(appended.error.find("is not a regular file"), std::string::npos)
            << appended.error;
    }
    EXPECT_EQ(WindowsDefaultLogPath("C:\\Users\\u\\AppData\\Local"),
              "C:\\Users\\u\\AppData\\Local\\Crenovix\\updates.jsonl");
}

} // namespace
} // namespace crenovix
