#include "online/Downloader.h"

namespace crenovix {

std::string TooLargeText(std::size_t maxBytes) {
    return "The download is larger than " + std::to_string(maxBytes) + " bytes.";
}

} // namespace crenovix
