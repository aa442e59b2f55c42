// CPrivateProfileReader: the catalogue read with the system's private-profile functions
// (GetPrivateProfileStringA, GetPrivateProfileIntA), as the program reads it on Windows.
//
// Those functions look for a file name without a folder in the Windows folder, not in the
// current one; the catalogue's temporary file is such a name. Open therefore gives them the full
// path of `path`, resolved against the current directory at that moment, so relative paths mean
// what IIniReader says. An empty path reads as an empty file.
//
// Where the system's reading differs from our own reader's rules (online/IniFile.h), the
// system's answer stands, except for two integer cases where it would break the IIniSource
// contract: a negative value gives 0 (the system documents 0, but some versions pass negative
// values through), and a value beyond 2147483647 gives 2147483647 (the system wraps it round
// modulo 2^32, so an absurd "CountEx" such as 4294967297 would read as 1). Differences that stay:
// a present value without leading digits gives 0 rather than the default, and "0x", "0o" and
// "0b" prefixes may be read as hexadecimal, octal and binary.
//
// Text values are decoded by the same rule as our reader's (IniValueText: UTF-8, or else
// Windows-1252) and then given in the system's ANSI code page, the encoding of every text of the
// Windows front end; characters the code page lacks become the system's replacement.
#pragma once

#include "online/IniFile.h"

#include <memory>
#include <string>

namespace crenovix {

// UTF-8 text in the system's ANSI code page.
std::string Utf8ToAnsi(const std::string& text);

class CPrivateProfileReader final : public IIniReader {
public:
    std::unique_ptr<IIniSource> Open(const std::string& path) override;
};

} // namespace crenovix
