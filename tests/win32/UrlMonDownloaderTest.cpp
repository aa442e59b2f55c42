// The system's URL download call through CUrlMonDownloader, against a winsock HTTP server on
// 127.0.0.1 inside the test: a whole download replaces the target; failures of every kind leave
// an existing target as it was and no new file beside it; waits end at their limits, also for
// the start-up version check against two servers that never answer, which leaves no temporary
// file in the user's temporary folder.
#include "online/win32/UrlMonDownloader.h"
#include "WinsockHttpServer.h"
#include "online/Catalogue.h"
#include "online/DownloadWindow.h"
#include "online/win32/PrivateProfileReader.h"
#include "online/win32/Win32TempFiles.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

namespace crenovix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class UrlMonDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        target_ = dir_.File("update.bin");
        std::ofstream(target_, std::ios::binary) << "previous file";
    }

    // The target still holds what it held, and nothing else is in the folder.
    void ExpectTargetUntouched() const {
        EXPECT_EQ(ReadFile(target_), "previous file");
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
            ++files;
            EXPECT_EQ(entry.path().filename(), "update.bin");
        }
        EXPECT_EQ(files, 1);
    }

    testsupport::CTempDir dir_;
    std::string target_;
    wintest::CWinsockHttpServer server_;
    // For the test of the silence bound; the others have room for a slow system download call
    // on a loaded machine, where a second of silence may pass before the first byte.
    SDownloadLimits quick_{1000ms, 1000ms, 1000ms, 5};
    SDownloadLimits roomy_{20s, 20s, 50s, 5};
};

TEST_F(UrlMonDownloaderTest, AWholeDownloadReplacesTheTarget) {
    const std::string body = std::string(70000, 'x') + "end";
    server_.Route("/f.bin", {false, 200, body, ""});
    server_.Route("/moved", {false, 302, "", server_.BaseUrl() + "/f.bin"});
    CUrlMonDownloader downloader(roomy_);

    // The progress reaches the caller, growing, and ends with the whole body of its size.
    std::vector<std::pair<std::size_t, std::optional<std::size_t>>> reports;
    SDownloadOptions options;
    options.progress = [&reports](auto received, auto total) {
        reports.emplace_back(received, total);
    };
    const SDownloadStatus status =
        downloader.DownloadToFile(server_.BaseUrl() + "/moved", target_, options);
    EXPECT_FALSE(status.Failed()) << std::hex << status.status;
    EXPECT_EQ(ReadFile(target_), body);
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_EQ(reports.back(), std::make_pair(body.size(), std::optional<std::size_t>(body.size())));
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);

    // Asked anew each time: the second answer is not a cached copy of the first.
    server_.Route("/f.bin", {false, 200, "second", ""});
    EXPECT_FALSE(downloader.DownloadToFile(server_.BaseUrl() + "/f.bin", target_).Failed());
    EXPECT_EQ(ReadFile(target_), "second");
}

TEST_F(UrlMonDownloaderTest, HttpErrorsAndRefusedConnectionsLeaveTheTargetAlone) {
    server_.Route("/gone", {false, 404, "an error page", ""});
    server_.Route("/busy", {false, 503, "an error page", ""});
    CUrlMonDownloader downloader(roomy_);

    SDownloadStatus status = downloader.DownloadToFile(server_.BaseUrl() + "/gone", target_);
    EXPECT_EQ(static_cast<std::uint32_t>(status.status), 0x800C0006u);
    ExpectTargetUntouched();
    status = downloader.DownloadToFile(server_.BaseUrl() + "/busy", target_);
    EXPECT_TRUE(status.Failed());
    ExpectTargetUntouched();

    // A loopback port that is bound but not listening refuses at once.
    const SOCKET closed = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    int length = sizeof address;
    getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length);
    status = downloader.DownloadToFile(
        "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x", target_);
    closesocket(closed);
    EXPECT_TRUE(status.Failed());
    ExpectTargetUntouched();
}

TEST_F(UrlMonDownloaderTest, OnlyWebAddressesAreFetchedAlsoAfterARedirect) {
    const std::string local = dir_.File("local.txt");
    std::ofstream(local, std::ios::binary) << "a local file";
    server_.Route("/to-file", {false, 302, "", "file:///" + local});
    CUrlMonDownloader downloader(roomy_);

    SDownloadStatus status = downloader.DownloadToFile("file:///" + local, target_);
    EXPECT_EQ(static_cast<std::uint32_t>(status.status), 0x800C0002u);
    status = downloader.DownloadToFile(local, target_);
    EXPECT_EQ(static_cast<std::uint32_t>(status.status), 0x800C0002u);
    status = downloader.DownloadToFile(server_.BaseUrl() + "/to-file", target_);
    EXPECT_TRUE(status.Failed());
    EXPECT_EQ(ReadFile(target_), "previous file");
    std::filesystem::remove(local);
    ExpectTargetUntouched();
}

TEST_F(UrlMonDownloaderTest, ASilentServerIsGivenUpAtTheLimit) {
    server_.Route("/silent", {true, 200, "", ""});
    CUrlMonDownloader downloader(quick_);

    const Clock::time_point start = Clock::now();
    const SDownloadStatus status =
        downloader.DownloadToFile(server_.BaseUrl() + "/silent", target_);
    const auto took = Clock::now() - start;
    EXPECT_EQ(static_cast<std::uint32_t>(status.status), 0x800C000Bu);
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 4s);
    ExpectTargetUntouched();
}

// Only an update file of at most 512 KiB replaces the target: a huge body (size announced or
// not) is stopped, a short one refused by the update-file check, a valid one taken; a cancel
// from another thread ends a download within its poll.
TEST_F(UrlMonDownloaderTest, OnlyABoundedUpdateFileReplacesTheTarget) {
    const std::vector<std::uint8_t> firmware =
        testsupport::Pack(testsupport::EPackVariant::TripleDes, testsupport::SHeaderFields{},
                          testsupport::PatternPayload(4096, 7))
            .bytes;
    // 8 MiB, not the 1 GiB of the Linux test: wine's download call may fetch a whole body before
    // it reports anything, which for 1 GiB over loopback takes most of a minute.
    server_.Route("/huge", {false, 200, "", "", std::size_t{8} << 20});
    server_.Route("/announced", {false, 200, "", "", std::size_t{8} << 20, true});
    server_.Route("/tiny", {false, 200, "K6 fw", ""});
    server_.Route("/valid", {false, 200, std::string(firmware.begin(), firmware.end()), ""});
    server_.Route("/silent", {true, 200, "", ""});
    // Room for a slow first start of the system's download code on a loaded test machine.
    CUrlMonDownloader downloader(SDownloadLimits{20s, 20s, 50s, 5, kMaxUpdateFileBytes});
    SDownloadOptions options;
    options.check = CheckDownloadedUpdateFile;

    // An announced size is refused from the headers. Without one, wine's download call may keep
    // the body away from the part file and report no progress at all on a loaded machine; then
    // the silence bound ends it instead. Either way nothing replaces the target.
    for (const char* path : {"/announced", "/huge"}) {
        const Clock::time_point start = Clock::now();
        const SDownloadStatus status =
            downloader.DownloadToFile(server_.BaseUrl() + path, target_, options);
        const bool silent = std::string(path) == "/huge" &&
                            static_cast<std::uint32_t>(status.status) == 0x800C000Bu;
        if (!silent) {
            EXPECT_EQ(static_cast<std::uint32_t>(status.status), 0x800700DFu) << path;
            EXPECT_EQ(status.text, "The download is larger than 524288 bytes.");
        }
        EXPECT_LT(Clock::now() - start, silent ? 40s : 20s);
        ExpectTargetUntouched();
    }
    const SDownloadStatus tiny =
        downloader.DownloadToFile(server_.BaseUrl() + "/tiny", target_, options);
    EXPECT_EQ(static_cast<std::uint32_t>(tiny.status), 0x800C0008u);
    EXPECT_EQ(tiny.text, "The downloaded file is not an update file (File format error!).");
    ExpectTargetUntouched();

    const SDownloadStatus valid =
        downloader.DownloadToFile(server_.BaseUrl() + "/valid", target_, options);
    EXPECT_FALSE(valid.Failed()) << std::hex << valid.status;
    EXPECT_EQ(testsupport::ReadBytes(target_), firmware);

    // A cancel ends a download the server never answers; the target keeps the valid file.
    CCancelToken token;
    SDownloadOptions cancellable;
    cancellable.cancel = &token;
    std::thread canceller([&token] {
        std::this_thread::sleep_for(200ms);
        token.Cancel();
    });
    const Clock::time_point start = Clock::now();
    const SDownloadStatus cancelled =
        downloader.DownloadToFile(server_.BaseUrl() + "/silent", target_, cancellable);
    canceller.join();
    EXPECT_EQ(static_cast<std::uint32_t>(cancelled.status), 0x80004004u);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(testsupport::ReadBytes(target_), firmware);
}

// Start-up against two servers that never answer: the version check gives up within the time
// the main window is allowed to wait, says nothing and leaves no temporary file.
TEST_F(UrlMonDownloaderTest, TheVersionCheckEndsInTimeWhenBothServersAreSilent) {
    server_.Route(kCataloguePath, {true, 200, "", ""});
    wintest::CWinsockHttpServer second;
    second.Route(kCataloguePath, {true, 200, "", ""});
    CUrlMonDownloader catalogueDownloader(kCatalogueDownloadLimits);
    CUrlMonDownloader fileDownloader(kFileDownloadLimits);
    CPrivateProfileReader ini;
    CWin32TempFiles tempFiles;
    // The user's temporary folder is the one TMP names: here, so that a file left is seen.
    char tmp[MAX_PATH + 1] = {};
    GetEnvironmentVariableA("TMP", tmp, sizeof tmp);
    ASSERT_TRUE(SetEnvironmentVariableA("TMP", dir_.Path().string().c_str()));
    ReleaseLinkTable links{};
    SOnlineContext context{catalogueDownloader,
                           fileDownloader,
                           ini,
                           SServerAddresses{server_.BaseUrl(), second.BaseUrl()},
                           links,
                           tempFiles};

    std::string url = "unchanged";
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(CheckForNewRelease(context, url));
    EXPECT_LT(Clock::now() - start, 6s);
    EXPECT_EQ(url, "unchanged");
    EXPECT_EQ(server_.Requests(kCataloguePath), 1);
    EXPECT_EQ(second.Requests(kCataloguePath), 1);
    ExpectTargetUntouched();
    ASSERT_TRUE(SetEnvironmentVariableA("TMP", dir_.File("missing").c_str()));
    std::string path;
    EXPECT_TRUE(tempFiles.Create(path).Failed()); // not a fetch with a name and no file
    EXPECT_EQ(path, "");
    SetEnvironmentVariableA("TMP", tmp[0] != '\0' ? tmp : nullptr);
}

TEST(UrlMonDownloader, SystemTextsAreGivenWithoutTheirLineEnd) {
    const std::optional<std::string> text =
        SystemMessageText(static_cast<std::int32_t>(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)));
    ASSERT_TRUE(text.has_value());
    EXPECT_FALSE(text->empty());
    EXPECT_NE(text->back(), '\n');
    EXPECT_EQ(SystemMessageText(static_cast<std::int32_t>(0xA0CDEF12u)), std::nullopt);
}

} // namespace
} // namespace crenovix
