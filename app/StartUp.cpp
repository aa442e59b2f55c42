#include "app/StartUp.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace crenovix {

namespace {
bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}
} // namespace

EStartupAction StartupActionFor(std::span<const std::string> arguments) {
    static constexpr std::array<std::string_view, 4> kEnding = {"Register", "Regserver",
                                                                "Unregister", "Unregserver"};
    for (const std::string& argument : arguments) {
        if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) {
            continue;
        }
        const std::string_view name = std::string_view(argument).substr(1);
        if (std::any_of(kEnding.begin(), kEnding.end(),
                        [&](std::string_view ending) { return EqualsNoCase(name, ending); })) {
            return EStartupAction::EndAtOnce;
        }
    }
    return EStartupAction::Run;
}

std::optional<std::string> StationWindowArgument(std::span<const std::string> arguments) {
    const auto station = std::find(arguments.begin(), arguments.end(), "--station");
    if (station == arguments.end()) {
        return std::nullopt;
    }
    const auto file = station + 1;
    return file != arguments.end() && !file->starts_with("-") ? *file : std::string();
}

std::string ApplicationName(std::string_view executablePath) {
    const std::size_t slash = executablePath.find_last_of("/\\");
    std::string_view name =
        slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot != 0) {
        name = name.substr(0, dot);
    }
    return std::string(name);
}

} // namespace crenovix
