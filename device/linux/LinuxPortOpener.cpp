#include "device/linux/LinuxPortOpener.h"

#include "device/linux/HidApiDevices.h"
#include "device/linux/TermiosChannel.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <sys/stat.h>

namespace crenovix {

namespace {

bool IsNodeNameCharacter(char character) {
    const auto value = static_cast<unsigned char>(character);
    return std::isalnum(value) != 0 || character == '_' || character == '.' || character == '-';
}

bool BeginsWithCom(const std::string& name) {
    return name.size() >= 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(name[2])) == 'M';
}

} // namespace

std::optional<std::string> LinuxSerialPathFor(const std::string& portName) {
    if (BeginsWithCom(portName)) {
        return std::nullopt;
    }
    if (!portName.empty() && portName.front() == '/') {
        struct stat info {};
        if (::stat(portName.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
            return portName;
        }
        return std::nullopt;
    }
    if (portName.empty() || portName.size() > NAME_MAX || portName == "." || portName == ".." ||
        !std::all_of(portName.begin(), portName.end(), IsNodeNameCharacter)) {
        return std::nullopt;
    }
    return "/dev/" + portName;
}

std::optional<std::string> CLinuxPortOpener::SerialPathFor(const std::string& portName) {
    return LinuxSerialPathFor(portName);
}

std::unique_ptr<IPortChannel> CLinuxPortOpener::OpenSerial(const std::string& path,
                                                           std::uint32_t baud) {
    return CTermiosChannel::Open(path, baud, lastSerialError_);
}

std::unique_ptr<IPortChannel> CLinuxPortOpener::OpenHid(int position) {
    return OpenHidChannel(position);
}

} // namespace crenovix
