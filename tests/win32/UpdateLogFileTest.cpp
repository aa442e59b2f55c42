// The update log's Windows file under wine: appended records stay whole lines when several
// handles append at once, a record cut short gets its own line end before the next, and paths
// that are no file are refused.
#include "protocol/UpdateLogFile.h"
#include "support/LogRecords.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

namespace crenovix {
namespace {

using namespace testsupport;

TEST(Win32UpdateLogFile, HandlesAppendingAtOnceKeepWholeLines) {
    const CTempDir dir;
    const std::string path = dir.File("Crenovix\\updates.jsonl"); // the folder made on the way
    constexpr std::size_t kSize = 64 * 1024;
    constexpr int kEach = 8;
    std::vector<std::thread> appenders;
    for (const char mark : {'a', 'b', 'c'}) {
        appenders.emplace_back([&path, mark] {
            std::string error;
            const auto log = CUpdateLogFile::Open(path, kLogStamp, error); // a handle of its own
            for (int i = 0; log != nullptr && i < kEach; ++i) {
                EXPECT_TRUE(log->Append(LogRecord(mark, kSize)).ok);
            }
        });
    }
    for (std::thread& appender : appenders) {
        appender.join();
    }
    std::map<char, int> counts;
    std::istringstream lines(ReadWholeFile(path));
    for (std::string line; std::getline(lines, line);) {
        const char mark = MarkOfLine(line);
        ASSERT_EQ(line + "\n", LogLineOf(mark, kSize));
        ++counts[mark];
    }
    EXPECT_EQ(counts, (std::map<char, int>{{'a', kEach}, {'b', kEach}, {'c', kEach}}));

    // A record a power cut cut short: the next one starts on a line of its own.
    std::ofstream(path, std::ios::binary | std::ios::app) << "{\"time\": \"20";
    const std::string before = ReadWholeFile(path);
    std::string error;
    ASSERT_TRUE(CUpdateLogFile::Open(path, kLogStamp, error)->Append(LogRecord('n', 3)).ok);
    EXPECT_EQ(ReadWholeFile(path), before + "\n" + LogLineOf('n', 3));
}

TEST(Win32UpdateLogFile, PathsThatAreNoFileAreRefused) {
    const CTempDir dir;
    std::string error;
    EXPECT_EQ(CUpdateLogFile::Open(dir.Path().string(), kLogStamp, error), nullptr);
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    const auto device = CUpdateLogFile::Open("NUL", kLogStamp, error);
    if (device != nullptr) { // where the folder check does not see the device, the append does
        const SLogAppend appended = device->Append(LogRecord('x', 1));
        EXPECT_FALSE(appended.ok);
        EXPECT_NE(appended.error.find("is not a regular file"), std::string::npos)
            << appended.error;
    }
    // Nor is the update file the record names, under another spelling: it stays as it was.
    const std::string update = dir.File("fw.bin");
    std::ofstream(update) << "firmware";
    SUpdateRecord record = LogRecord('x', 1);
    record.file = dir.File(".\\FW.BIN");
    record.fileSha256 = "ab";
    const auto log = CUpdateLogFile::Open(update, kLogStamp, error);
    ASSERT_NE(log, nullptr) << error;
    EXPECT_NE(log->Append(record).error.find("is the update file"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(update), "firmware");
    EXPECT_EQ(WindowsDefaultLogPath("C:\\Users\\u\\AppData\\Local"),
              "C:\\Users\\u\\AppData\\Local\\Crenovix\\updates.jsonl");
}

} // namespace
} // namespace crenovix
