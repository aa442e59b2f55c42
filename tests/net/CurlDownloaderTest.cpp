// The libcurl downloader against a real HTTP server on the loopback address: contents, redirects,
// HTTP errors, broken and stalled transfers, time-outs, refused connections and bad targets; and
// that a failure never leaves a file behind or touches an existing one.
#include "online/linux/CurlDownloader.h"
#include "net/LoopbackHttpServer.h"
#include "net/ScopedEnvironment.h"
#include "support/CurrentDirectory.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

using namespace crenovix;
using namespace crenovix::nettest;
using namespace crenovix::testsupport;
using namespace std::chrono_literals;

namespace {

namespace status = download_status;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(1234);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

class CurlDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override { KeepLoopbackOffProxies(environment_); }

    std::string Url(const std::string& path) const { return server_.BaseUrl() + path; }

    // The names in the temporary folder, to see that nothing was left behind.
    std::vector<std::string> FolderContents() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    CScopedEnvironment environment_;
    CTempDir dir_;
    CLoopbackHttpServer server_;
    CCurlDownloader downloader_{kFileDownloadLimits};
};

TEST_F(CurlDownloaderTest, AWholeFileReplacesTheTargetKeepingItsPermissions) {
    const std::string payload = RandomBytes(kMaxUpdateFileBytes);
    server_.Serve("/fw.bin", payload);
    const std::string target = dir_.File("fw.bin");
    std::ofstream(target) << "old contents";
    std::filesystem::permissions(target, std::filesystem::perms(0640));

    const SDownloadStatus result = downloader_.DownloadToFile(Url("/fw.bin"), target);
    EXPECT_EQ(result.status, 0) << result.text.value_or("");
    EXPECT_FALSE(result.text);
    EXPECT_TRUE(ReadFile(target) == payload);
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"fw.bin"});
}

TEST_F(CurlDownloaderTest, ABareNameIsWrittenInTheCurrentDirectory) {
    server_.Serve("/fw.bin", "payload");
    const CCurrentDirectory inTempDir(dir_.Path());
    EXPECT_EQ(downloader_.DownloadToFile(Url("/fw.bin"), "bare.bin").status, 0);
    EXPECT_EQ(ReadFile(dir_.File("bare.bin")), "payload");
}

TEST_F(CurlDownloaderTest, RedirectsAreFollowedWithinTheirBound) {
    CLoopbackHttpServer::SRoute moved;
    moved.status = 302;
    moved.location = "/new/fw.bin";
    server_.Route("/old/fw.bin", moved);
    server_.Serve("/new/fw.bin", "moved payload");
    EXPECT_EQ(downloader_.DownloadToFile(Url("/old/fw.bin"), dir_.File("a.bin")).status, 0);
    EXPECT_EQ(ReadFile(dir_.File("a.bin")), "moved payload");

    moved.location = "/loop";
    server_.Route("/loop", moved);
    const SDownloadStatus looped = downloader_.DownloadToFile(Url("/loop"), dir_.File("b.bin"));
    EXPECT_EQ(looped.status, status::kRedirectFailed);
    EXPECT_LE(server_.Requests("/loop"), kFileDownloadLimits.maxRedirects + 1);

    // A redirect may not lead away from the web.
    moved.location = "file:///etc/hostname";
    server_.Route("/local", moved);
    EXPECT_LT(downloader_.DownloadToFile(Url("/local"), dir_.File("c.bin")).status, 0);
    // A redirect without a target: its own body is not the file.
    server_.Serve("/nowhere", "redirect page", 302);
    EXPECT_EQ(downloader_.DownloadToFile(Url("/nowhere"), dir_.File("d.bin")).status,
              status::kRedirectFailed);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"a.bin"});
}

TEST_F(CurlDownloaderTest, HttpErrorsFailAndLeaveAnExistingFileAlone) {
    const std::string target = dir_.File("fw.bin");
    std::ofstream(target) << "precious";
    server_.Serve("/gone.bin", "error page", 404);
    server_.Serve("/broken.bin", "error page", 500);

    const SDownloadStatus missing = downloader_.DownloadToFile(Url("/gone.bin"), target);
    EXPECT_EQ(missing.status, status::kNotFound);
    ASSERT_TRUE(missing.text);
    EXPECT_NE(missing.text->find("HTTP 404"), std::string::npos);

    const SDownloadStatus refused = downloader_.DownloadToFile(Url("/broken.bin"), target);
    EXPECT_EQ(refused.status, status::kDownloadFailure);
    EXPECT_EQ(ReadFile(target), "precious");
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"fw.bin"});

    EXPECT_EQ(downloader_.DownloadToFile(Url("/gone.bin"), dir_.File("new.bin")).status,
              status::kNotFound);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("new.bin")));
}

TEST_F(CurlDownloaderTest, AConnectionBrokenPartWayLeavesNoPartialFile) {
    CLoopbackHttpServer::SRoute broken;
    broken.mode = CLoopbackHttpServer::SRoute::EMode::BreakOff;
    broken.body = RandomBytes(100000);
    broken.breakAfter = 40000;
    server_.Route("/fw.bin", broken);

    const std::string fresh = dir_.File("fresh.bin");
    const SDownloadStatus result = downloader_.DownloadToFile(Url("/fw.bin"), fresh);
    EXPECT_EQ(result.status, status::kDownloadFailure);
    EXPECT_FALSE(std::filesystem::exists(fresh));

    const std::string existing = dir_.File("existing.bin");
    std::ofstream(existing) << "precious";
    EXPECT_LT(downloader_.DownloadToFile(Url("/fw.bin"), existing).status, 0);
    EXPECT_EQ(ReadFile(existing), "precious");
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"existing.bin"});
}

TEST_F(CurlDownloaderTest, SilenceAndSlowTransfersEndAtTheirLimits) {
    const SDownloadLimits limits{1000ms, 300ms, 700ms, 5};
    CCurlDownloader downloader(limits);

    CLoopbackHttpServer::SRoute silent;
    silent.mode = CLoopbackHttpServer::SRoute::EMode::Silent;
    server_.Route("/silent", silent);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(downloader.DownloadToFile(Url("/silent"), dir_.File("a.bin")).status,
              status::kTimedOut);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 290ms);
    EXPECT_LT(elapsed, 900ms);

    // Data arrived and then stopped: the silence counts from the last byte, and the existing
    // file is kept.
    CLoopbackHttpServer::SRoute stalled;
    stalled.mode = CLoopbackHttpServer::SRoute::EMode::Stall;
    stalled.body = RandomBytes(5000);
    stalled.breakAfter = 1000;
    server_.Route("/stalled", stalled);
    const std::string existing = dir_.File("existing.bin");
    std::ofstream(existing) << "precious";
    start = Clock::now();
    EXPECT_EQ(downloader.DownloadToFile(Url("/stalled"), existing).status, status::kTimedOut);
    elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 290ms);
    EXPECT_LT(elapsed, 900ms);
    EXPECT_EQ(ReadFile(existing), "precious");

    // A transfer that keeps the silence short still ends at the total limit.
    CCurlDownloader patient(SDownloadLimits{1000ms, 5000ms, 400ms, 5});
    start = Clock::now();
    EXPECT_EQ(patient.DownloadToFile(Url("/stalled"), existing).status, status::kTimedOut);
    elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 390ms);
    EXPECT_LT(elapsed, 1000ms);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"existing.bin"});
}

// A catalogue past the INI reader's limit and a cancel from another thread end the download
// without a trace, and an existing file stays.
TEST_F(CurlDownloaderTest, OverlongAndCancelledDownloadsLeaveNothing) {
    const std::string existing = dir_.File("existing.ini");
    std::ofstream(existing) << "precious";
    CLoopbackHttpServer::SRoute flood;
    flood.mode = CLoopbackHttpServer::SRoute::EMode::Generate;
    flood.length = kMaxCatalogueBytes + 1;
    server_.Route("/flood", flood);
    CCurlDownloader catalogues(kCatalogueDownloadLimits);
    const SDownloadStatus tooLarge = catalogues.DownloadToFile(Url("/flood"), existing);
    EXPECT_EQ(tooLarge.status, status::kTooLarge);
    EXPECT_EQ(tooLarge.text, "The download is larger than 1048576 bytes.");

    CLoopbackHttpServer::SRoute silent;
    silent.mode = CLoopbackHttpServer::SRoute::EMode::Silent;
    server_.Route("/silent", silent);
    CCancelToken token;
    SDownloadOptions cancellable;
    cancellable.cancel = &token;
    std::thread canceller([&token] {
        std::this_thread::sleep_for(100ms);
        token.Cancel();
    });
    const Clock::time_point start = Clock::now();
    const SDownloadStatus cancelled =
        downloader_.DownloadToFile(Url("/silent"), existing, cancellable);
    canceller.join();
    EXPECT_EQ(cancelled.status, status::kCancelled);
    EXPECT_EQ(cancelled.text, "The download was cancelled.");
    EXPECT_LT(Clock::now() - start, 100ms + std::chrono::milliseconds(3 * kCancelPollMs));

    EXPECT_EQ(ReadFile(existing), "precious");
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"existing.ini"});
}

TEST_F(CurlDownloaderTest, RefusedConnectionsAndBadAddressesFailAtOnce) {
    const CClosedPort closed;
    const std::string target = dir_.File("fw.bin");
    const SDownloadStatus refused = downloader_.DownloadToFile(closed.BaseUrl() + "/x", target);
    EXPECT_EQ(refused.status, status::kCannotConnect);
    ASSERT_TRUE(refused.text);
    EXPECT_EQ(refused.text->rfind("The server could not be connected.", 0), 0u);

    EXPECT_EQ(downloader_.DownloadToFile("", target).status, status::kInvalidUrl);
    EXPECT_EQ(downloader_.DownloadToFile("file:///etc/hostname", target).status,
              status::kInvalidUrl);
    EXPECT_EQ(downloader_.DownloadToFile("ht!tp://", target).status, status::kInvalidUrl);
    EXPECT_TRUE(FolderContents().empty());
}

TEST_F(CurlDownloaderTest, TargetsThatCannotBeWrittenFailBeforeTheTransfer) {
    server_.Serve("/fw.bin", "payload");
    EXPECT_EQ(downloader_.DownloadToFile(Url("/fw.bin"), "").status, status::kPathNotFound);
    EXPECT_EQ(downloader_.DownloadToFile(Url("/fw.bin"), dir_.File("no/such/folder/fw.bin")).status,
              status::kPathNotFound);
    EXPECT_EQ(downloader_.DownloadToFile(Url("/fw.bin"), dir_.Path().string() + "/").status,
              status::kPathNotFound);
    std::filesystem::create_directory(dir_.File("folder"));
    EXPECT_EQ(downloader_.DownloadToFile(Url("/fw.bin"), dir_.File("folder")).status,
              status::kAccessDenied);
    EXPECT_EQ(server_.Requests("/fw.bin"), 0);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"folder"});
}

} // namespace
