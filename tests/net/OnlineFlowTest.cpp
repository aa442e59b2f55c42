// The catalogue end to end: the program's own downloaders, INI reader and temporary files against
// real HTTP servers on the loopback address, and the command line's catalogue and download
// commands, which run the download window's logic (also as processes side by side).
#include "cli/Commands.h"
#include "net/LoopbackHttpServer.h"
#include "net/ScopedEnvironment.h"
#include "online/Catalogue.h"
#include "online/linux/CurlDownloader.h"
#include "online/linux/PosixTempFiles.h"
#include "support/CurrentDirectory.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace crenovix;
using namespace crenovix::nettest;
using namespace crenovix::testsupport;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kCatalogue = "/UploadFiles/KelvorinUpdateInfo.inf";

const std::string kTwoEntries = "[Software]\n"
                                "Ver=V2.3\n"
                                "URL=http://www.kavro.example/new\n"
                                "[File List]\n"
                                "CountEx=2\n"
                                "Type0=K6\nFileName0=fw-k6\nVer0=V1.0\nUpdated0=2024-01-02\n"
                                "URL0=@/files/k6.bin\nNote0=first\n"
                                "Type1=K8\nFileName1=fw-k8\nVer1=V1.1\nUpdated1=2024-03-04\n"
                                "URL1=@/files/k8.bin\nNote1=second\n";

// The catalogue with "@" standing for the server's base address.
std::string CatalogueOn(const CLoopbackHttpServer& server) {
    std::string text = kTwoEntries;
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@')) {
        text.replace(at, 1, server.BaseUrl());
    }
    return text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class CRunningHost final : public IDownloadWindowHost {
public:
    std::vector<std::string> boxes;
    int runs = 0;
    void MessageBox(const std::string& text) override { boxes.push_back(text); }
    void RunDownloadWindow(const std::string&) override { ++runs; }
};

class OnlineFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        KeepLoopbackOffProxies(environment_);
        environment_.Set("TMPDIR", temp_.Path().string()); // where catalogues are fetched to
    }

    SOnlineContext Context(const std::string& primary, const std::string& second) {
        return SOnlineContext{catalogueDownloader_,
                              fileDownloader_,
                              ini_,
                              SServerAddresses{primary, second},
                              links_,
                              tempFiles_};
    }
    bool TempFileLeft() const { return !std::filesystem::is_empty(temp_.Path()); }

    CScopedEnvironment environment_;
    CTempDir dir_;
    CTempDir temp_;
    CPosixTempFiles tempFiles_;
    CCurlDownloader catalogueDownloader_{kCatalogueDownloadLimits};
    CCurlDownloader fileDownloader_{kFileDownloadLimits};
    CIniFileReader ini_;
    ReleaseLinkTable links_{};
};

TEST_F(OnlineFlowTest, ThePrimaryServerDownMeansTheSecondOneIsUsed) {
    const CClosedPort primary;
    CLoopbackHttpServer second;
    second.Serve(kCatalogue, kTwoEntries);
    SOnlineContext context = Context(primary.BaseUrl(), second.BaseUrl());

    std::string url;
    EXPECT_TRUE(CheckForNewRelease(context, url));
    EXPECT_EQ(url, "http://www.kavro.example/new");
    EXPECT_EQ(second.Requests(kCatalogue), 1);
    EXPECT_FALSE(TempFileLeft());
}

// In $TMPDIR, new and the user's only; a folder that is not there fails with its path.
TEST_F(OnlineFlowTest, TemporaryFilesAreNewAndPrivate) {
    std::string paths[2];
    for (std::string& path : paths) {
        ASSERT_FALSE(tempFiles_.Create(path).Failed());
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(std::filesystem::path(path).parent_path(), temp_.Path());
    }
    EXPECT_NE(paths[0], paths[1]);
    tempFiles_.Remove(paths[0]);
    tempFiles_.Remove(paths[1]);
    EXPECT_FALSE(TempFileLeft());
    environment_.Set("TMPDIR", dir_.File("missing"));
    const SDownloadStatus failed = tempFiles_.Create(paths[0]);
    EXPECT_EQ(failed.status, download_status::kPathNotFound);
    EXPECT_NE(failed.text.value_or("").find(dir_.File("missing")), std::string::npos);
}

TEST_F(OnlineFlowTest, BothServersDownGiveTheConnectingMessageAndNoWindow) {
    const CClosedPort primary;
    const CClosedPort second;
    SOnlineContext context = Context(primary.BaseUrl(), second.BaseUrl());
    CRunningHost host;
    EXPECT_FALSE(OpenDownloadWindow(context, host));
    EXPECT_EQ(host.runs, 0);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].rfind("Connecting server failed.\n\nError = 0x800C0004\n\n"
                                  "The server could not be connected.",
                                  0),
              0u)
        << host.boxes[0];
}

TEST_F(OnlineFlowTest, ServersThatNeverAnswerDelayStartUpLessThanSixSeconds) {
    CLoopbackHttpServer primary;
    CLoopbackHttpServer second;
    CLoopbackHttpServer::SRoute silent;
    silent.mode = CLoopbackHttpServer::SRoute::EMode::Silent;
    primary.Route(kCatalogue, silent);
    second.Route(kCatalogue, silent);
    SOnlineContext context = Context(primary.BaseUrl(), second.BaseUrl());

    const Clock::time_point start = Clock::now();
    std::string url = "unchanged";
    EXPECT_FALSE(CheckForNewRelease(context, url));
    const auto elapsed = Clock::now() - start;
    EXPECT_LT(elapsed, 6s);
    EXPECT_EQ(url, "unchanged");
    EXPECT_EQ(primary.Requests(kCatalogue), 1);
    EXPECT_EQ(second.Requests(kCatalogue), 1);
}

class CommandLineTest : public OnlineFlowTest {
protected:
    void UseServers(const std::string& primary, const std::string& second) {
        environment_.Set("CRENOVIX_PRIMARY_SERVER", primary);
        environment_.Set("CRENOVIX_SECOND_SERVER", second);
    }

    int Run(int (*command)(cli::Args, std::ostream&, std::ostream&),
            std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        const CCurrentDirectory inTestDir(dir_.Path()); // where bare save names go
        return command(args, out_, err_);
    }

    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(CommandLineTest, CatalogueShowsTheNewerVersionAndOneLinePerEntry) {
    CLoopbackHttpServer server;
    server.Serve(kCatalogue, CatalogueOn(server));
    UseServers(server.BaseUrl(), server.BaseUrl());

    EXPECT_EQ(Run(cli::RunCatalogue, {}), 0) << err_.str();
    EXPECT_EQ(out_.str(), "Newer version: V2.3 http://www.kavro.example/new\n"
                          "K6\tfw-k6\tV1.0\t2024-01-02\t" +
                              server.BaseUrl() + "/files/k6.bin\tfirst\n" +
                              "K8\tfw-k8\tV1.1\t2024-03-04\t" + server.BaseUrl() +
                              "/files/k8.bin\tsecond\n");
    EXPECT_EQ(server.Requests(kCatalogue), 1); // one fetch serves both parts
    EXPECT_FALSE(TempFileLeft());

    server.Serve(kCatalogue, "[Software]\nVer=V2.1\n");
    EXPECT_EQ(Run(cli::RunCatalogue, {}), 0);
    EXPECT_EQ(out_.str(), "No newer version\n");

    // Catalogue texts are data: no terminal commands, no extra columns; text that is not UTF-8 is
    // Windows-1252, as the maker's files are.
    server.Serve(kCatalogue, "[Software]\nVer=V2.1\n[File List]\nCountEx=1\n"
                             "Type0=K6\tX\rY\nFileName0=\x1b]0;owned\x07\nVer0=\xc2\x85\n"
                             "Updated0=d\xff\nURL0=u\nNote0=caf\xc3\xa9\\\n");
    EXPECT_EQ(Run(cli::RunCatalogue, {}), 0);
    EXPECT_EQ(out_.str(),
              "No newer version\n"
              "K6\\tX\\rY\t\\x1B]0;owned\\x07\t\\u0085\td\xc3\xbf\tu\tcaf\xc3\xa9\\\\\n");
}

TEST_F(CommandLineTest, DownloadSavesTheEntryAndPrintsThePath) {
    CLoopbackHttpServer server;
    server.Serve(kCatalogue, CatalogueOn(server));
    const CClosedPort down;
    UseServers(down.BaseUrl(), server.BaseUrl());

    // Only an update file of at most 512 KiB replaces a file: a huge body (with or without its
    // size announced) is stopped, a short one refused, and the old file stays byte for byte.
    const std::vector<std::uint8_t> firmware =
        Pack(EPackVariant::TripleDes, SHeaderFields{}, PatternPayload(4096, 7)).bytes;
    const std::string old = "an older update file";
    std::ofstream(dir_.File("saved.bin")) << old;
    CLoopbackHttpServer::SRoute huge;
    huge.mode = CLoopbackHttpServer::SRoute::EMode::Generate;
    huge.length = std::size_t{1} << 30;
    struct SCase {
        CLoopbackHttpServer::SRoute route;
        std::string message;
    };
    CLoopbackHttpServer::SRoute announced = huge;
    announced.announce = true;
    CLoopbackHttpServer::SRoute tiny;
    tiny.body = "K6 fw";
    for (const SCase& refused :
         {SCase{huge, "Error = 0x800700DF\n\nThe download is larger than 524288 bytes."},
          SCase{announced, "Error = 0x800700DF\n\nThe download is larger than 524288 bytes."},
          SCase{tiny, "Error = 0x800C0008\n\nThe downloaded file is not an update file (File "
                      "format error!)."}}) {
        server.Route("/files/k6.bin", refused.route);
        err_.str("");
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(Run(cli::RunDownload, {"0", "saved.bin"}), 1);
        EXPECT_LT(Clock::now() - start, 5s);
        EXPECT_NE(err_.str().find("Download failed.\n\n" + refused.message), std::string::npos)
            << err_.str();
        EXPECT_EQ(ReadFile(dir_.File("saved.bin")), old);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
    }
    // An interrupt cancels a download under way: the same file and nothing beside it, exit 130.
    CLoopbackHttpServer::SRoute stall;
    stall.mode = CLoopbackHttpServer::SRoute::EMode::Stall;
    stall.body = std::string(firmware.begin(), firmware.end());
    stall.breakAfter = 1000;
    server.Route("/files/k6.bin", stall);
    std::thread interrupter([] {
        std::this_thread::sleep_for(500ms);
        ::kill(::getpid(), SIGINT);
    });
    EXPECT_EQ(Run(cli::RunDownload, {"0", "saved.bin"}), 130) << err_.str();
    interrupter.join();
    EXPECT_EQ(ReadFile(dir_.File("saved.bin")), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
    server.Serve("/files/k6.bin", std::string(firmware.begin(), firmware.end()));
    out_.str("");
    EXPECT_EQ(Run(cli::RunDownload, {"0", "saved.bin"}), 0) << err_.str();
    EXPECT_EQ(out_.str(), "saved.bin\n");
    EXPECT_EQ(ReadBytes(dir_.File("saved.bin")), firmware);

    EXPECT_EQ(Run(cli::RunDownload, {"1", "other.bin"}), 1); // the server has no k8.bin
    EXPECT_NE(err_.str().find("Download failed.\n\nError = 0x800C0006\n\n"), std::string::npos)
        << err_.str();
    EXPECT_FALSE(std::filesystem::exists(dir_.File("other.bin")));

    // The entry's web address is data: a CR in it cannot start a line of its own.
    server.Serve(kCatalogue, "[Software]\nVer=V2.1\n[File List]\nCountEx=1\nType0=K6\nURL0=" +
                                 server.BaseUrl() + "/files/k6.bin\rDownload done\n");
    Run(cli::RunDownload, {"0", "x.bin"});
    EXPECT_NE(err_.str().find("/files/k6.bin\\rDownload done"), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().find('\r'), std::string::npos) << err_.str();
    server.Serve(kCatalogue, CatalogueOn(server));

    EXPECT_EQ(Run(cli::RunDownload, {"2", "x.bin"}), 1);
    EXPECT_NE(err_.str().find("no entry 2"), std::string::npos);
    EXPECT_EQ(Run(cli::RunDownload, {"one", "x.bin"}), 2);
}

// Two `crenovix-cli catalogue` at once in one folder, in rounds: both print the whole list. A
// user's file of the name once used there stays, and a folder removed meanwhile does not matter.
TEST_F(CommandLineTest, CataloguesFetchedAtOnceBothPrintTheWholeList) {
    CLoopbackHttpServer server;
    server.Serve(kCatalogue, "[Software]\nVer=V2.3\nURL=u\n[File List]\nCountEx=1\nType0=K6\n");
    UseServers(server.BaseUrl(), server.BaseUrl());
    std::ofstream(dir_.File("__Kelvorin_temp__.ini")) << "mine";
    const std::filesystem::path removed = dir_.Path() / "removed";
    const std::string command = std::string(CRENOVIX_CLI_PATH) + " catalogue 2>&1";
    for (const std::filesystem::path& folder : {dir_.Path(), removed}) {
        std::filesystem::create_directories(folder);
        const CCurrentDirectory inFolder(folder);
        std::filesystem::remove(removed);
        for (int round = 0; round < 5; ++round) {
            std::FILE* both[] = {::popen(command.c_str(), "r"), ::popen(command.c_str(), "r")};
            for (std::FILE* run : both) {
                std::string output(4096, '\0');
                output.resize(std::fread(output.data(), 1, output.size(), run));
                EXPECT_EQ(::pclose(run), 0) << output;
                EXPECT_EQ(output, "Newer version: V2.3 u\nK6\t\t\t\t\t\n")
                    << folder << ", round " << round;
            }
        }
    }
    EXPECT_EQ(ReadFile(dir_.File("__Kelvorin_temp__.ini")), "mine");
    EXPECT_FALSE(TempFileLeft());
}

TEST_F(CommandLineTest, ServersDownPrintTheConnectingMessageAndExitWithOne) {
    const CClosedPort primary;
    const CClosedPort second;
    UseServers(primary.BaseUrl(), second.BaseUrl());
    EXPECT_EQ(Run(cli::RunCatalogue, {}), 1);
    EXPECT_EQ(err_.str().rfind("Connecting server failed.\n\nError = 0x800C0004\n\n", 0), 0u);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(Run(cli::RunDownload, {"0", "x.bin"}), 1);
    EXPECT_EQ(err_.str().rfind("Connecting server failed.", 0), 0u);
}

} // namespace
