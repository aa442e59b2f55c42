// The statuses a download answers, on every system, and what an HTTP answer means for it.
//
// Failures use the numbers of the Windows download call's code family for the same kind of
// failure, so that a user's report reads alike on both systems: the Windows downloader answers
// the call's own statuses, the Linux downloader these same numbers for libcurl's and the file
// system's failures. Which failures of a downloader lead to which status is listed in its header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace crenovix {

namespace download_status {
// The download call's own numbers for these reasons.
inline constexpr std::int32_t kInvalidUrl = static_cast<std::int32_t>(0x800C0002u); // not http(s)
inline constexpr std::int32_t kCannotConnect = static_cast<std::int32_t>(0x800C0004u);
inline constexpr std::int32_t kNameNotResolved = static_cast<std::int32_t>(0x800C0005u);
inline constexpr std::int32_t kNotFound = static_cast<std::int32_t>(0x800C0006u); // HTTP 404, 410
// Any other HTTP failure, and a transfer that broke off.
inline constexpr std::int32_t kDownloadFailure = static_cast<std::int32_t>(0x800C0008u);
// HTTP 401, 407.
inline constexpr std::int32_t kAuthenticationRequired = static_cast<std::int32_t>(0x800C0009u);
// A limit of SDownloadLimits ran out.
inline constexpr std::int32_t kTimedOut = static_cast<std::int32_t>(0x800C000Bu);
inline constexpr std::int32_t kSecurityProblem = static_cast<std::int32_t>(0x800C000Eu); // TLS
// More redirects than allowed, or one that was not followed.
inline constexpr std::int32_t kRedirectFailed = static_cast<std::int32_t>(0x800C0014u);
// The system's numbers for the file at the target path.
inline constexpr std::int32_t kPathNotFound = static_cast<std::int32_t>(0x80070003u);
inline constexpr std::int32_t kAccessDenied = static_cast<std::int32_t>(0x80070005u);
inline constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);
inline constexpr std::int32_t kDiskFull = static_cast<std::int32_t>(0x80070070u);
inline constexpr std::int32_t kFileError = static_cast<std::int32_t>(0x80004005u); // any other

// Every downloader answers these for the same reasons with the same texts (its own detail may
// follow on a new line).
// More bytes than SDownloadLimits::maxBytes (announced or arrived):
// "The download is larger than <maxBytes> bytes." (TooLargeText)
inline constexpr std::int32_t kTooLarge = static_cast<std::int32_t>(0x800700DFu);
// The caller's check refused the complete body; the text is the check's.
inline constexpr std::int32_t kRefusedContent = static_cast<std::int32_t>(0x800C0008u);
// The cancel token was set: "The download was cancelled." (kCancelledText)
inline constexpr std::int32_t kCancelled = static_cast<std::int32_t>(0x80004004u);
} // namespace download_status

std::string TooLargeText(std::size_t maxBytes);
inline constexpr const char* kCancelledText = "The download was cancelled.";

// What the server's final answer means. The first rule whose range holds the answer decides;
// an answer no rule holds (1xx, 2xx) lets the body through. `text` is the Linux downloader's,
// completed to "<text> (HTTP <n>)." (HttpAnswerText); the Windows one shows the system's text.
struct SHttpAnswerRule {
    long long first;
    long long last;
    std::int32_t status;
    const char* text;
};

// An answer's number has no upper bound here: 400 and above all fail.
inline constexpr long long kLastHttpStatus = std::numeric_limits<long long>::max();

inline constexpr SHttpAnswerRule kHttpAnswerRules[] = {
    // The resource is not on the server, or no longer: nothing to try again.
    {404, 404, download_status::kNotFound, "The server does not have this file"},
    {410, 410, download_status::kNotFound, "The server does not have this file"},
    // The server or a proxy asks for credentials, which we never send.
    {401, 401, download_status::kAuthenticationRequired, "The server asks for a log-in"},
    {407, 407, download_status::kAuthenticationRequired, "The server asks for a log-in"},
    // Any other error answer: its body is an error page, never the resource.
    {400, kLastHttpStatus, download_status::kDownloadFailure, "The server refused the download"},
    // A redirect the download call did not follow (another scheme, or no target): the body is
    // the redirect's own. Only the Windows downloader asks for this range; the Linux one asks
    // only for the answers libcurl fails, 400 and above.
    {300, 399, download_status::kRedirectFailed, "The server's redirect was not followed"},
};

// The rule for the server's answer `httpStatus`, or nullptr when the body is the resource.
const SHttpAnswerRule* FindHttpAnswerRule(long long httpStatus);

// "<rule's text> (HTTP <n>)."
std::string HttpAnswerText(const SHttpAnswerRule& rule, long long httpStatus);

} // namespace crenovix
