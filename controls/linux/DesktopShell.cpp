#include "controls/linux/DesktopShell.h"

#include "controls/linux/ChildProcess.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include <sys/stat.h>

namespace crenovix {

namespace {

constexpr std::int32_t kOpened = 33;
constexpr std::int32_t kFileNotFound = 2;
constexpr std::int32_t kPathNotFound = 3;
constexpr std::int32_t kAccessDenied = 5;
constexpr std::int32_t kOutOfMemory = 8;
constexpr std::int32_t kBadProgram = 11;
constexpr std::int32_t kAssociationIncomplete = 27;
constexpr std::int32_t kNoAssociation = 31;

constexpr std::size_t kMaxDesktopFileBytes = 64 * 1024;

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string text(kMaxDesktopFileBytes, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return text;
}

std::int32_t CodeForXdgOpenExit(int exitCode) {
    switch (exitCode) {
    case 0:
        return kOpened;
    case 1:
    case 2:
        return kFileNotFound;
    case 3:
        return kNoAssociation;
    default:
        return kAssociationIncomplete;
    }
}

} // namespace

std::int32_t CodeForStartError(int error) {
    switch (error) {
    case ENOENT:
        return kFileNotFound;
    case ENOTDIR:
        return kPathNotFound;
    case EACCES:
    case EPERM:
        return kAccessDenied;
    case ENOMEM:
        return kOutOfMemory;
    case ENOEXEC:
        return kBadProgram;
    default:
        return 0;
    }
}

std::optional<std::string> DesktopEntryExec(std::string_view desktopFile) {
    bool inEntry = false;
    while (!desktopFile.empty()) {
        const std::size_t end = desktopFile.find('\n');
        const std::string_view line = TrimBlanks(desktopFile.substr(0, end));
        desktopFile =
            end == std::string_view::npos ? std::string_view() : desktopFile.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (inEntry) {
                break; // the entry's group has ended
            }
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inEntry && equals != std::string_view::npos &&
            TrimBlanks(line.substr(0, equals)) == "Exec") {
            return std::string(TrimBlanks(line.substr(equals + 1)));
        }
    }
    return std::nullopt;
}

std::string ExecToCommand(std::string_view exec) {
    // The desktop file's string escapes come first.
    std::string unescaped;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\' && i + 1 < exec.size()) {
            switch (exec[i + 1]) {
            case 's':
                unescaped += ' ';
                ++i;
                continue;
            case 'n':
                unescaped += '\n';
                ++i;
                continue;
            case 't':
                unescaped += '\t';
                ++i;
                continue;
            case 'r':
                unescaped += '\r';
                ++i;
                continue;
            case '\\':
                unescaped += '\\';
                ++i;
                continue;
            default:
                break;
            }
        }
        unescaped += exec[i];
    }

    std::string command;
    bool placed = false;
    for (std::size_t i = 0; i < unescaped.size(); ++i) {
        if (unescaped[i] != '%') {
            command += unescaped[i];
            continue;
        }
        if (i + 1 >= unescaped.size()) {
            break; // a lone "%" at the end names no field
        }
        const char code = unescaped[++i];
        if (code == '%') {
            command += '%';
        } else if ((code == 'u' || code == 'U' || code == 'f' || code == 'F') && !placed) {
            command += "%1";
            placed = true;
        }
        // Other field codes (and later address fields) say nothing a browser start needs.
    }
    return command;
}

std::vector<std::string> SplitCommandArguments(std::string_view command) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quoted) {
            if (c == '\\' && i + 1 < command.size() &&
                std::string_view("\"`$\\").find(command[i + 1]) != std::string_view::npos) {
                current += command[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
        } else {
            inArgument = true;
            if (c == '"') {
                quoted = true;
            } else {
                current += c;
            }
        }
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

std::vector<std::string> ApplicationFolders() {
    std::vector<std::string> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        folders.push_back(std::string(dataHome) + "/applications");
    } else if (home != nullptr && home[0] == '/') {
        folders.push_back(std::string(home) + "/.local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string_view dirs =
        (dataDirs != nullptr && dataDirs[0] != '\0') ? dataDirs : "/usr/local/share:/usr/share";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        if (!dir.empty() && dir.front() == '/') {
            folders.push_back(std::string(dir) + "/applications");
        }
    }
    return folders;
}

std::int32_t CDesktopShell::OpenUrl(const std::string& target) {
    // Only the web address LinkWebAddress gives reaches an opener; that also keeps out a target
    // that would read as an option or a local path.
    const std::optional<std::string> address = LinkWebAddress(target);
    if (!address) {
        return kLinkRefused;
    }
    const std::string& url = *address;
    const std::vector<std::vector<std::string>> openers{{"xdg-open", url}, {"gio", "open", url}};
    for (const std::vector<std::string>& opener : openers) {
        const SChild child = StartProgram(opener);
        if (child.error == ENOENT) {
            continue; // not installed: the next opener
        }
        if (child.error != 0) {
            return CodeForStartError(child.error);
        }
        const SExit exit = WaitForExit(child.pid, times_.openerWait);
        switch (exit.state) {
        case SExit::EState::StillRunning:
        case SExit::EState::Lost:
            return kOpened;
        case SExit::EState::Signalled:
            return kAssociationIncomplete;
        case SExit::EState::Exited:
            if (opener[0] == "xdg-open") {
                return CodeForXdgOpenExit(exit.code);
            }
            return exit.code == 0 ? kOpened : kNoAssociation;
        }
    }
    return kNoAssociation;
}

std::optional<std::string> CDesktopShell::ReadBrowserCommand() {
    const std::optional<std::string> answer =
        RunForOutput({"xdg-mime", "query", "default", "text/html"}, times_.queryWait, 4096);
    if (!answer) {
        return std::nullopt;
    }
    // One desktop file name; some versions list several, separated by ";".
    std::string_view name = *answer;
    name = TrimBlanks(name.substr(0, name.find_first_of(";\n")));
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    for (const std::string& folder : ApplicationFolders()) {
        const std::optional<std::string> file = ReadSmallFile(folder + "/" + std::string(name));
        if (!file) {
            continue;
        }
        // The first file found is the one the desktop uses, Exec or not.
        const std::optional<std::string> exec = DesktopEntryExec(*file);
        if (!exec) {
            return std::nullopt;
        }
        return ExecToCommand(*exec);
    }
    return std::nullopt;
}

std::int32_t CDesktopShell::RunCommandLine(const SCommandLine& line) {
    std::vector<std::string> arguments = SplitCommandArguments(line.program);
    const std::optional<std::string> address = LinkWebAddress(line.target);
    if (!address) {
        return kLinkRefused;
    }
    if (arguments.empty()) {
        return kFileNotFound;
    }
    arguments.push_back(*address);
    const SChild child = StartProgram(arguments);
    if (child.error != 0) {
        return CodeForStartError(child.error);
    }
    ReapInBackground(child.pid); // a browser runs on; only its start is the answer
    return kOpened;
}

} // namespace crenovix
