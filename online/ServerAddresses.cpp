#include "online/ServerAddresses.h"

#include <cstdlib>

#ifndef CRENOVIX_DEFAULT_PRIMARY_SERVER
#error "CRENOVIX_DEFAULT_PRIMARY_SERVER comes from the CMake cache variable CRENOVIX_PRIMARY_SERVER"
#endif
#ifndef CRENOVIX_DEFAULT_SECOND_SERVER
#error "CRENOVIX_DEFAULT_SECOND_SERVER comes from the CMake cache variable CRENOVIX_SECOND_SERVER"
#endif

namespace crenovix {

namespace {

std::string WithoutTrailingSlashes(std::string base) {
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base;
}

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

} // namespace

std::string SServerAddresses::PrimaryHostName() const {
    std::string host = primary;
    const std::size_t scheme = host.find("://");
    if (scheme != std::string::npos) {
        host.erase(0, scheme + 3);
    }
    host = host.substr(0, host.find_first_of("/?#"));
    const std::size_t at = host.rfind('@');
    if (at != std::string::npos) {
        host.erase(0, at + 1);
    }
    return host;
}

SServerAddresses BuiltInServerAddresses() {
    return {CRENOVIX_DEFAULT_PRIMARY_SERVER, CRENOVIX_DEFAULT_SECOND_SERVER};
}

SServerAddresses ResolveServerAddresses(const SServerAddresses& builtIn,
                                        const std::optional<std::string>& primaryOverride,
                                        const std::optional<std::string>& secondOverride) {
    const auto pick = [](const std::string& base, const std::optional<std::string>& override) {
        return WithoutTrailingSlashes(override && !override->empty() ? *override : base);
    };
    return {pick(builtIn.primary, primaryOverride), pick(builtIn.second, secondOverride)};
}

SServerAddresses ServerAddressesFromEnvironment() {
    return ResolveServerAddresses(BuiltInServerAddresses(), Environment("CRENOVIX_PRIMARY_SERVER"),
                                  Environment("CRENOVIX_SECOND_SERVER"));
}

} // namespace crenovix
