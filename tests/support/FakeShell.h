// A shell for link tests: answers scripted codes for opening and starting, a scripted browser
// command, and records what was asked in order ("open URL", "read", "run PROGRAM|TARGET").
#pragma once

#include "controls/HyperLink.h"

#include <optional>
#include <string>
#include <vector>

namespace crenovix::testsupport {

class CFakeShell final : public IShell {
public:
    std::int32_t openCode = 42;
    std::optional<std::string> browserCommand;
    std::int32_t runCode = 33;
    std::vector<std::string> log;
    std::vector<SCommandLine> runs;

    std::int32_t OpenUrl(const std::string& url) override {
        log.push_back("open " + url);
        return openCode;
    }
    std::optional<std::string> ReadBrowserCommand() override {
        log.push_back("read");
        return browserCommand;
    }
    std::int32_t RunCommandLine(const SCommandLine& line) override {
        log.push_back("run " + line.program + "|" + line.target);
        runs.push_back(line);
        return runCode;
    }
};

} // namespace crenovix::testsupport
