// The update log's Linux file: records from several processes never interleave, a process killed
// while appending leaves every earlier record whole, and paths that are no file are refused
// without blocking.
#include "protocol/UpdateLogFile.h"
#include "app/Settings.h"
#include "support/LogRecords.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

std::unique_ptr<CUpdateLogFile> OpenLog(const std::string& path) {
    std::string error;
    auto log = CUpdateLogFile::Open(path, kLogStamp, error);
    EXPECT_NE(log, nullptr) << error;
    return log;
}

// Forks a process that appends `count` records of `mark` (forever when count is 0).
pid_t Appender(const std::string& path, char mark, std::size_t size, int count) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::string error;
        const auto log = CUpdateLogFile::Open(path, kLogStamp, error);
        for (int i = 0; log != nullptr && (count == 0 || i < count); ++i) {
            if (!log->Append(LogRecord(mark, size)).ok) {
                ::_exit(1);
            }
        }
        ::_exit(log != nullptr ? 0 : 1);
    }
    return child;
}

TEST(UpdateLogFileTest, SeveralProcessesAppendWholeLines) {
    const CTempDir dir;
    const std::string path = dir.File("data/crenovix/updates.jsonl"); // folders made on the way
    constexpr std::size_t kSize = 256 * 1024;
    constexpr int kEach = 12;
    std::vector<pid_t> children;
    for (const char mark : {'a', 'b', 'c', 'd'}) {
        children.push_back(Appender(path, mark, kSize, kEach));
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::map<char, int> counts;
    std::istringstream lines(ReadWholeFile(path));
    for (std::string line; std::getline(lines, line);) {
        const char mark = MarkOfLine(line);
        ASSERT_EQ(line + "\n", LogLineOf(mark, kSize)) << "a record was torn or interleaved";
        ++counts[mark];
    }
    EXPECT_EQ(counts,
              (std::map<char, int>{{'a', kEach}, {'b', kEach}, {'c', kEach}, {'d', kEach}}));
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "the log is the user's alone";
}

TEST(UpdateLogFileTest, AProcessKilledWhileAppendingDamagesNoEarlierRecord) {
    const CTempDir dir;
    const std::string path = dir.File("updates.jsonl");
    constexpr std::size_t kSize = 1024 * 1024;
    const std::string whole = LogLineOf('k', kSize);
    const pid_t child = Appender(path, 'k', kSize, 0);
    // Killed once a few records are in, most likely in the middle of the next.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    struct stat status {};
    while (
        (::stat(path.c_str(), &status) != 0 || status.st_size < 3 * std::int64_t(whole.size())) &&
        std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, SIGKILL);
    int exitStatus = 0;
    ASSERT_EQ(::waitpid(child, &exitStatus, 0), child);
    ASSERT_TRUE(WIFSIGNALED(exitStatus));

    const std::string before = ReadWholeFile(path);
    const std::size_t complete = before.rfind('\n') + 1;
    ASSERT_GE(complete, 3 * whole.size());
    for (std::size_t at = 0; at < complete; at += whole.size()) {
        ASSERT_EQ(before.compare(at, whole.size(), whole), 0) << "record at byte " << at;
    }
    EXPECT_LT(before.size() - complete, whole.size()) << "at most the last record is cut";

    const auto log = OpenLog(path);
    ASSERT_TRUE(log->Append(LogRecord('n', 10)).ok);
    const std::string after = ReadWholeFile(path);
    ASSERT_EQ(after.compare(0, before.size(), before), 0) << "nothing earlier was touched";
    const std::string added = after.substr(before.size());
    EXPECT_EQ(added, (complete == before.size() ? "" : "\n") + LogLineOf('n', 10))
        << "the next record starts on a line of its own";
}

TEST(UpdateLogFileTest, PathsThatAreNoFileAreRefusedAtOnce) {
    const CTempDir dir;
    std::string error;
    EXPECT_EQ(CUpdateLogFile::Open(dir.Path().string(), kLogStamp, error), nullptr);
    EXPECT_EQ(error, "the update log '" + dir.Path().string() + "' is a directory");
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/null")}) {
        EXPECT_EQ(CUpdateLogFile::Open(path, kLogStamp, error), nullptr);
        EXPECT_EQ(error, "the update log '" + path + "' is not a regular file");
    }
    // Nor does the window's settings file in such a place hold the start: it reads as none.
    EXPECT_EQ(ReadSettingsFile(fifo), "");
    EXPECT_EQ(ReadSettingsFile("/dev/zero"), "");
    // A FIFO put in the file's place after it was chosen is refused too, without waiting for a
    // reader.
    const std::string later = dir.File("later.jsonl");
    const auto log = OpenLog(later);
    ASSERT_EQ(::mkfifo(later.c_str(), 0600), 0);
    const SLogAppend appended = log->Append(LogRecord('x', 1));
    EXPECT_FALSE(appended.ok);
    EXPECT_EQ(appended.error, "the update log '" + later + "' is not a regular file");
    // Nor is the update file the record names, under another name: it stays as it was.
    const std::string update = dir.File("fw.bin");
    std::ofstream(update) << "firmware";
    ASSERT_EQ(::symlink(update.c_str(), dir.File("fw-link.bin").c_str()), 0);
    SUpdateRecord record = LogRecord('x', 1);
    record.file = dir.File("fw-link.bin");
    const SLogAppend intoTheFile = OpenLog(update)->Append(record);
    EXPECT_EQ(intoTheFile.error, "the update log '" + update + "' is the update file");
    EXPECT_EQ(ReadWholeFile(update), "firmware");
    // A folder that cannot be made is reported with its reason.
    const auto under = OpenLog(dir.File("fifo/sub/u.jsonl"));
    const SLogAppend refused = under->Append(LogRecord('x', 1));
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("cannot open"), std::string::npos) << refused.error;
}

} // namespace
