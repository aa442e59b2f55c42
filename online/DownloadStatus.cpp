#include "online/DownloadStatus.h"

namespace crenovix {

std::string TooLargeText(std::size_t maxBytes) {
    return "The download is larger than " + std::to_string(maxBytes) + " bytes.";
}

const SHttpAnswerRule* FindHttpAnswerRule(long long httpStatus) {
    for (const SHttpAnswerRule& rule : kHttpAnswerRules) {
        if (httpStatus >= rule.first && httpStatus <= rule.last) {
            return &rule;
        }
    }
    return nullptr;
}

std::string HttpAnswerText(const SHttpAnswerRule& rule, long long httpStatus) {
    return std::string(rule.text) + " (HTTP " + std::to_string(httpStatus) + ").";
}

} // namespace crenovix
