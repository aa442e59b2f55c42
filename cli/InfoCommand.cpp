#include "cli/Commands.h"
#include "text/Json.h"
#include "text/PrintableText.h"

#include "updatefile/UpdateFile.h"

#include <cstdio>

namespace crenovix::cli {

namespace {
// A memo's further lines start under its first one.
constexpr std::string_view kMemoIndent = "      ";

std::string HexByte(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}
} // namespace

int RunInfo(Args args, std::ostream& out, std::ostream& err) {
    const bool json = args.size() == 2 && args[0] == "--json";
    if (args.size() != (json ? 2u : 1u)) {
        err << "usage: crenovix-cli info [--json] FILE\n";
        return kExitUsage;
    }
    const std::string& path = args.back();
    // The window loads the header on every edit of the path; the dialogues load the whole file.
    // Both must agree before the file counts as an update file.
    const SLoadResult header = LoadUpdateHeader(path);
    SLoadResult image = header;
    if (header.outcome == ELoadOutcome::Loaded) {
        image = LoadUpdateImage(path, true);
    } else if (header.outcome == ELoadOutcome::FormatError) {
        // Only the whole-file load tells an empty file from a short one.
        const SLoadResult whole = LoadUpdateImage(path, true);
        if (whole.outcome == ELoadOutcome::Empty) {
            image = whole;
        }
    }
    if (image.outcome != ELoadOutcome::Loaded) {
        if (image.outcome == ELoadOutcome::Empty) {
            err << "The file is empty.\n";
        } else {
            err << LoadOutcomeText(image.outcome) << "\n";
        }
        return kExitFailed;
    }
    const SUpdateHeader fields = ReadUpdateHeader(UpdateImage);
    const bool serial = LoadUpdateImage(path, false).outcome == ELoadOutcome::Loaded;
    if (json) {
        out << CJsonObject()
                   .Add("variant", image.variant == EUpdateVariant::Aes ? "AES" : "Triple-DES")
                   .Add("version", fields.szVersion)
                   .Add("type", fields.szType)
                   .Add("memo", fields.szMemo)
                   .Add("device_code", std::int64_t{fields.byDeviceCode})
                   .Add("payload_mode", std::int64_t{fields.byPayloadMode})
                   .Add("payload_length", std::int64_t{fields.dwPayloadLength})
                   .Add("serial_protocol", serial)
                   .Text()
            << "\n";
        return kExitSuccess;
    }
    out << "Variant: " << (image.variant == EUpdateVariant::Aes ? "AES" : "Triple-DES") << "\n"
        << "Version: " << Printable(fields.szVersion) << "\n"
        << "Type: " << Printable(fields.szType) << "\n"
        << "Memo: " << PrintableLines(fields.szMemo, kMemoIndent) << "\n"
        << "Device code: 0x" << HexByte(fields.byDeviceCode) << "\n"
        << "Payload mode: " << static_cast<unsigned>(fields.byPayloadMode) << "\n"
        << "Payload length: " << fields.dwPayloadLength << "\n"
        << "Serial protocol: " << (serial ? "yes" : "no") << "\n";
    return kExitSuccess;
}

} // namespace crenovix::cli
