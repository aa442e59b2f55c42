// The maker's two web servers: base addresses, the addresses built on them, and the bare host
// name that stands in for a missing "Software" "URL".
//
// The built-in bases come from the CMake cache variables CRENOVIX_PRIMARY_SERVER and
// CRENOVIX_SECOND_SERVER (defaults under the reserved ".example" domain); environment variables
// of the same names override them at run time, for mirrors and tests. A base is a scheme and an
// authority, for example "http://127.0.0.1:8080"; trailing "/" are dropped.
#pragma once

#include <optional>
#include <string>

namespace crenovix {

inline constexpr const char* kCataloguePath = "/UploadFiles/KelvorinUpdateInfo.inf";
inline constexpr const char* kReleaseNotesPath = "/UploadFiles/ReleaseNotes-Kelvorin.txt";

struct SServerAddresses {
    std::string primary; // base address of the primary web server
    std::string second;  // base address of the second web server

    std::string PrimaryCatalogueUrl() const { return primary + kCataloguePath; }
    std::string SecondCatalogueUrl() const { return second + kCataloguePath; }
    std::string ReleaseNotesUrl() const { return primary + kReleaseNotesPath; }
    // The primary base without scheme and path: "www.kavro.example" for
    // "http://www.kavro.example"; a port stays ("127.0.0.1:8080"), since without it the text
    // names another server; user information before "@" is dropped.
    std::string PrimaryHostName() const;
};

// The compiled-in bases.
SServerAddresses BuiltInServerAddresses();

// `builtIn` with each base replaced by its override when the override is set and not empty;
// trailing "/" are removed from every base.
SServerAddresses ResolveServerAddresses(const SServerAddresses& builtIn,
                                        const std::optional<std::string>& primaryOverride,
                                        const std::optional<std::string>& secondOverride);

// The program's addresses: the built-in bases overridden by the environment.
SServerAddresses ServerAddressesFromEnvironment();

} // namespace crenovix
