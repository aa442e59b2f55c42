// The download statuses both downloaders share: what the server's HTTP answer means, and the
// part file that replaces the target only when the body arrived whole and passed the check.
#include "online/PartFile.h"

#include <gtest/gtest.h>

#include <regex>
#include <tuple>
#include <vector>

using namespace crenovix;

namespace {

TEST(HttpAnswerRules, ErrorAndUnfollowedRedirectAnswersFailWithTheirStatus) {
    const struct {
        long long http;
        std::uint32_t status; // 0: the body is the resource
        const char* text;
    } kCases[] = {
        {200, 0, ""},
        {204, 0, ""},
        {302, 0x800C0014u, "The server's redirect was not followed (HTTP 302)."},
        {404, 0x800C0006u, "The server does not have this file (HTTP 404)."},
        {410, 0x800C0006u, "The server does not have this file (HTTP 410)."},
        {401, 0x800C0009u, "The server asks for a log-in (HTTP 401)."},
        {407, 0x800C0009u, "The server asks for a log-in (HTTP 407)."},
        {400, 0x800C0008u, "The server refused the download (HTTP 400)."},
        {503, 0x800C0008u, "The server refused the download (HTTP 503)."},
        {4000000000LL, 0x800C0008u, "The server refused the download (HTTP 4000000000)."},
    };
    for (const auto& c : kCases) {
        const SHttpAnswerRule* rule = FindHttpAnswerRule(c.http);
        ASSERT_EQ(rule != nullptr, c.status != 0) << c.http;
        if (rule != nullptr) {
            EXPECT_EQ(static_cast<std::uint32_t>(rule->status), c.status) << c.http;
            EXPECT_EQ(HttpAnswerText(*rule, c.http), c.text);
        }
    }
}

// Records the calls; CreateNew answers the scripted errors in turn, then 0.
class CFakePartFiles final : public IPartFileSystem {
public:
    static constexpr std::uint32_t kTaken = 17;

    std::uint32_t CreateNew(const std::string& path) override {
        created.push_back(path);
        return created.size() <= createErrors.size() ? createErrors[created.size() - 1] : 0;
    }
    bool NameTaken(std::uint32_t error) const override { return error == kTaken; }
    std::uint32_t Replace(const std::string& path, const std::string& target) override {
        replaced.push_back(path + " -> " + target);
        return replaceError;
    }
    void Remove(const std::string& path) override { removed.push_back(path); }
    SDownloadStatus FileFailure(std::uint32_t error, const std::string& target) const override {
        return {-static_cast<std::int32_t>(error), target};
    }

    std::vector<std::uint32_t> createErrors;
    std::uint32_t replaceError = 0;
    std::vector<std::string> created, replaced, removed;
};

TEST(PartFile, IsANewNameBesideTheTargetTriedAgainOnlyWhileTaken) {
    CFakePartFiles files;
    files.createErrors = {CFakePartFiles::kTaken, CFakePartFiles::kTaken};
    {
        CPartFile part(files);
        EXPECT_FALSE(part.Create("dir/fw.bin"));
        ASSERT_EQ(files.created.size(), 3u);
        EXPECT_TRUE(std::regex_match(part.Path(), std::regex(R"(dir/fw\.bin\.part-[a-z0-9]{6})")));
        EXPECT_EQ(part.Path(), files.created.back());
    }
    EXPECT_EQ(files.removed, std::vector<std::string>{files.created.back()});

    CFakePartFiles full;
    full.createErrors.assign(kPartFileNameTries + 1, CFakePartFiles::kTaken);
    std::optional<SDownloadStatus> failure = CPartFile(full).Create("fw.bin");
    EXPECT_EQ(full.created.size(), std::size_t{kPartFileNameTries});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->status, -17);
    EXPECT_EQ(failure->text, "fw.bin");

    CFakePartFiles denied;
    denied.createErrors = {5};
    failure = CPartFile(denied).Create("fw.bin");
    EXPECT_EQ(denied.created.size(), 1u);
    EXPECT_EQ(failure->status, -5);
    EXPECT_TRUE(denied.removed.empty());
}

TEST(PartFile, ReplacesTheTargetOnlyWhenTheCheckAcceptsAndIsRemovedOtherwise) {
    SDownloadOptions options;
    options.check = [](const std::string& path) -> std::optional<std::string> {
        if (path.find("refused") != std::string::npos) {
            return "not an update file";
        }
        return std::nullopt;
    };
    const struct {
        std::string target;
        std::uint32_t replaceError;
        std::int32_t status;
        bool replaced;
    } kCases[] = {
        {"refused.bin", 0, download_status::kRefusedContent, false},
        {"unmovable.bin", 13, -13, true},
        {"fw.bin", 0, 0, true},
    };
    for (const auto& c : kCases) {
        CFakePartFiles files;
        files.replaceError = c.replaceError;
        SDownloadStatus status;
        {
            CPartFile part(files);
            ASSERT_FALSE(part.Create(c.target));
            status = part.Finish(c.target, options);
        }
        const std::string partPath = files.created.at(0);
        EXPECT_EQ(status.status, c.status) << c.target;
        EXPECT_EQ(files.replaced.size(), c.replaced ? 1u : 0u) << c.target;
        if (c.replaced) {
            EXPECT_EQ(files.replaced[0], partPath + " -> " + c.target);
        }
        EXPECT_EQ(files.removed.size(), c.status == 0 ? 0u : 1u) << c.target;
    }
    // The check's own words reach the user.
    CFakePartFiles files;
    CPartFile part(files);
    ASSERT_FALSE(part.Create("refused.bin"));
    EXPECT_EQ(part.Finish("refused.bin", options).text, "not an update file");
}

} // namespace

// A download's progress reaches the caller at most once per interval, never backwards, and
// always when the body is whole.
TEST(ProgressReports, AreBoundedInRateAndAlwaysTellTheWholeBody) {
    std::vector<std::size_t> told;
    CProgressReports reports([&told](std::size_t received, auto) { told.push_back(received); });
    const std::chrono::steady_clock::time_point t0{};
    // Bytes so far, of the announced size, at this millisecond.
    const std::tuple<std::size_t, std::optional<std::size_t>, int> updates[] = {
        {0, 100, 0},    {10, 100, 0},   {20, 100, 49},  {30, 100, 50},
        {20, 100, 120}, {40, 100, 120}, {100, 100, 121}};
    for (const auto& [received, total, ms] : updates) {
        reports.Update(received, total, t0 + std::chrono::milliseconds(ms));
    }
    EXPECT_EQ(told, (std::vector<std::size_t>{10, 30, 40, 100}));

    CProgressReports silent(nullptr); // no callback: nothing to tell
    silent.Update(10, std::nullopt, t0);
}
