// SHA-256 of a file, as lower-case hex: what the machine-readable results name a file by, so a
// service centre can tell which firmware each charger received.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace crenovix {

std::string Sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace crenovix
