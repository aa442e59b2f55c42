// Files named on the command line, read as data. Only a regular file counts: a directory cannot
// be read, and a FIFO or a device such as /dev/zero could block or never end, past any interrupt.
// What is read is bounded, and is exactly what the caller goes on with (the update file's
// SHA-256 names the bytes that were checked, not a later read of the same path).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace crenovix::cli {

enum class EInputFile {
    Read,
    CannotOpen, // missing, unreadable, or not a regular file
    TooBig,     // longer than the limit
};

struct SInputFile {
    EInputFile status = EInputFile::CannotOpen;
    std::vector<std::uint8_t> bytes; // when Read
};

SInputFile ReadInputFile(const std::string& path, std::size_t limit);

} // namespace crenovix::cli
