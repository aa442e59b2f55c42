#include "online/Downloader.h"

#include <algorithm>

namespace crenovix {

bool IsWebAddress(std::string_view url) {
    const auto startsWith = [url](std::string_view scheme) {
        return url.size() > scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
                   return a == ((b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : b);
               });
    };
    return startsWith("http://") || startsWith("https://");
}

} // namespace crenovix
