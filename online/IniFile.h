// Reading the catalogue: an INI file read the way the Windows private-profile functions read it,
// for the two calls the catalogue needs (a text value cut to its buffer, an integer value).
//
// IIniReader opens a file and gives an IIniSource that answers lookups in it. CIniFileReader is
// our own reader (the Linux build uses it; a Windows build may hand the calls to the system
// instead). Rules of our reader:
//  - Sections are "[name]" lines; section and key names are compared without regard to ASCII
//    letter case and without their surrounding blanks. The first section of a name counts (a
//    later one of the same name is not searched), and the first key of a name in it.
//  - "key=value": the value is what follows the first "=", without surrounding blanks and tabs;
//    a value that begins and ends with the same quotation mark (' or ", at least two characters)
//    loses both. A value ends at the end of its line (no comments after it).
//  - Lines beginning with ";" are comments; lines without "=" and keys before the first section
//    are ignored; LF and CR LF line ends; a UTF-8 byte-order mark at the start is skipped.
//  - Only the first 1 MiB of a file is read: a catalogue is a few kilobytes, and the bound keeps
//    a wrong download from filling memory.
//  - A file that cannot be opened reads as empty: every lookup gives its default.
//  - Text values are given as UTF-8 (IniValueText): the maker's catalogues are written on Windows
//    machines, in UTF-8 or in Windows-1252.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace crenovix {

// The catalogue's text buffers hold 125 bytes with the terminating zero: values are cut to 124.
inline constexpr std::size_t kIniValueBufferBytes = 125;

// A value's bytes as the program shows them, in UTF-8, cut to at most `maxBytes` bytes of the
// value. Bytes that form valid UTF-8 stay as they are, and the cut ends before a character that
// would not fit whole; any other bytes are Windows-1252 text, one character per byte, converted
// after the cut (the result may then be longer than `maxBytes`).
std::string IniValueText(std::string_view value, std::size_t maxBytes);

// One opened INI file.
class IIniSource {
public:
    virtual ~IIniSource() = default;
    // The value of `key` in `section` as IniValueText gives it for bufferBytes - 1 bytes;
    // `defaultValue` (the same way) when the key is missing. A key that is present with an empty
    // value gives "".
    virtual std::string GetString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue,
                                  std::size_t bufferBytes = kIniValueBufferBytes) = 0;
    // The value read as a decimal integer: optional blanks, an optional sign, then the leading
    // digits ("12abc" is 12). A missing key, an empty value or a value without leading digits
    // gives `defaultValue`. A negative value gives 0 (the documented answer of the Windows
    // function, which has no negative results). Values beyond 2147483647 give 2147483647.
    virtual int GetInt(const std::string& section, const std::string& key, int defaultValue) = 0;
};

class IIniReader {
public:
    virtual ~IIniReader() = default;
    // Reads `path` as it is now. Never fails: a missing file gives a source that answers
    // defaults. The caller owns the source.
    virtual std::unique_ptr<IIniSource> Open(const std::string& path) = 0;
};

// Our reader; the file is parsed when it is opened.
class CIniFileReader final : public IIniReader {
public:
    std::unique_ptr<IIniSource> Open(const std::string& path) override;
};

// The same rules on text in memory (for tests and for sources that are not files).
std::unique_ptr<IIniSource> ParseIniText(const std::string& text);

} // namespace crenovix
