// What the dialogue fuzz target and its seed recorder share: the layout of an input, the update
// files a run can use and the one nonce every run draws.
//
// An input is two bytes of set-up followed by the charger's script:
//   byte 0  flags (kFlag*): serial or HID dialogue, plain port, start-reply CRC fix-up, ...
//   byte 1  the update file, an index into DialogueFiles() (taken modulo their count)
//   rest    one operation per read of the port, taken from the front:
//             kOpTimeout       the read times out (the virtual clock moves by its time-out)
//             kOpRefuse        the system refuses the read at once
//             kOpDisappear d   the charger leaves: the open channel fails from now on, and
//                              the port cannot be opened and is not listed for (d + 1) x 100 ms
//             kOpFailNextWrite the next write fails; then the next operation answers the read
//             kOpRepeat        the next arrival comes twice (a charger answering twice: HID
//                              two reports, serial the bytes twice); the second copy waits
//                              for a later read unless the dialogue discards it
//             kOpStray         a stray "&" arrives that nobody asked for: serial right after
//                              the next write of a frame's data (two bytes or more), before
//                              its check byte; HID a report just before the next frame
//             any other n      n % 65 bytes follow and arrive: a HID read takes them as one
//                              report's data (zero-filled); serial bytes join the line, and a
//                              read of k bytes takes operations until k bytes are there
//           When the script is used up every read times out.
#pragma once

#include "support/UpdateFilePacker.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::fuzz {

inline constexpr std::uint8_t kFlagSerial = 0x01;      // the serial dialogue (else HID)
inline constexpr std::uint8_t kFlagFixStartCrc = 0x02; // HID: make accepted start replies check
inline constexpr std::uint8_t kFlagPlainPort = 0x04;   // serial: a plain "COMx" row
inline constexpr std::uint8_t kFlagNoSelection = 0x08; // the selection names no row

inline constexpr std::uint8_t kOpTimeout = 0xFF;
inline constexpr std::uint8_t kOpRefuse = 0xFE;
inline constexpr std::uint8_t kOpDisappear = 0xFD;
inline constexpr std::uint8_t kOpFailNextWrite = 0xFC;
inline constexpr std::uint8_t kOpRepeat = 0xFB;
inline constexpr std::uint8_t kOpStray = 0xFA;
inline constexpr std::size_t kOpDataModulus = 65;

// Every start frame carries this nonce, so recorded start replies keep their CRC on replay.
inline constexpr std::uint16_t kNonce = 0x1234;

enum class EDialogueFile { Packed, Empty, Missing, Garbage, WrongLength };

struct SDialogueFile {
    EDialogueFile kind = EDialogueFile::Packed;
    testsupport::EPackVariant variant = testsupport::EPackVariant::TripleDes;
    std::uint8_t payloadMode = 0;
    std::size_t payloadSize = 0;
    std::uint8_t deviceCode = 0x0A;
    std::string version = "V1.00";
};

// Small files, so that a run stays short: masked and plain payloads, both variants, sizes on
// and off the 16- and 64-byte boundaries, no payload at all, and the files that never load.
inline const std::vector<SDialogueFile>& DialogueFiles() {
    using testsupport::EPackVariant;
    static const std::vector<SDialogueFile> files = {
        {EDialogueFile::Packed, EPackVariant::TripleDes, 0, 64, 0x0A, "V1.00"},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 0, 100, 0x0A, "V1.05"},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 1, 130, 0x0A, "V2.13"},
        {EDialogueFile::Packed, EPackVariant::Aes, 1, 70, 0x0A, "V2.13"},
        {EDialogueFile::Packed, EPackVariant::Aes, 0, 200, 0x0A, "V3.00"},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 0, 0, 0x0A, "V1.00"},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 1, 17, 0x0A, "V1.00"},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 0, 300, 0x0A, "V1.00"},
        {EDialogueFile::Empty},
        {EDialogueFile::Missing},
        {EDialogueFile::Garbage},
        {EDialogueFile::WrongLength},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 0, 1, 0x0A, "V1.00"},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 2, 48, 0x90, "V9.99"},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 1, 64, 0x0A, "\xFF\x80\x7F.\x01"},
        {EDialogueFile::Packed, EPackVariant::TripleDes, 0, 1000, 0x0A, "V1.00"},
    };
    return files;
}

// A file of the table written into `dir`: its path and, for packed files, the payload a loader
// reads from it (nothing for files that do not load).
struct SWrittenFile {
    std::string path;
    std::optional<std::vector<std::uint8_t>> payload;
};

inline SWrittenFile WriteDialogueFile(const std::filesystem::path& dir, std::size_t index) {
    using namespace testsupport;
    const SDialogueFile& file = DialogueFiles().at(index);
    SWrittenFile written{(dir / ("file" + std::to_string(index) + ".bin")).string(), {}};
    switch (file.kind) {
    case EDialogueFile::Packed: {
        SHeaderFields fields;
        fields.version = file.version;
        fields.payloadMode = file.payloadMode;
        fields.deviceCode = file.deviceCode;
        const SPackedFile packed =
            Pack(file.variant, fields, PatternPayload(file.payloadSize, 7 + index));
        WriteBytes(written.path, packed.bytes);
        written.payload = packed.loadedPayload;
        break;
    }
    case EDialogueFile::Empty:
        WriteBytes(written.path, {});
        break;
    case EDialogueFile::Missing:
        break; // never written
    case EDialogueFile::Garbage:
        WriteBytes(written.path, PatternPayload(600, 3));
        break;
    case EDialogueFile::WrongLength: {
        SHeaderFields fields;
        fields.payloadLengthOverride = 65;
        WriteBytes(written.path,
                   Pack(EPackVariant::TripleDes, fields, PatternPayload(64, 5)).bytes);
        break;
    }
    }
    return written;
}

} // namespace crenovix::fuzz
