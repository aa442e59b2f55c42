#include "doctor/Doctor.h"

#include "device/ChargerIdentity.h"
#include "text/Json.h"
#include "text/PrintableText.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string_view>

namespace crenovix::doctor {

namespace {

// Walks over directories that never end (a looping mock, a huge /proc) stop here.
constexpr std::size_t kMaxEntries = 4096;

constexpr const char* kReloadCommand =
    "sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=hidraw "
    "--subsystem-match=tty";

// USB serial adapters that brltty's rules take for braille displays: FTDI, CP210x, CH340 and
// PL2303 bridges, written as its rules write them (hex without leading zeros, vendor/product).
constexpr const char* kAdapterIds[] = {"403/6001", "10c4/ea60", "1a86/7523", "67b/2303"};
constexpr const char* kBrlttyPrograms[] = {"/usr/bin/brltty", "/bin/brltty", "/usr/sbin/brltty"};

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::optional<std::uint16_t> ParseHex16(const std::string& text) {
    const std::string digits = Trim(text);
    if (digits.empty() || digits.size() > 4) {
        return std::nullopt;
    }
    std::uint16_t value = 0;
    for (const char c : digits) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    return value;
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line) && lines.size() < kMaxEntries) {
        lines.push_back(Trim(line));
    }
    return lines;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> List(IDoctorSystem& system, const std::string& directory) {
    std::vector<std::string> names = system.ListDirectory(directory);
    if (names.size() > kMaxEntries) {
        names.resize(kMaxEntries);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct SProcess {
    int pid = 0;
    std::string name;
};

std::vector<SProcess> Processes(IDoctorSystem& system) {
    std::vector<SProcess> processes;
    const int self = system.OwnProcessId();
    for (const std::string& entry : List(system, "/proc")) {
        if (entry.empty() || entry.size() > 9 ||
            !std::all_of(entry.begin(), entry.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const int pid = std::stoi(entry);
        if (pid == self) {
            continue;
        }
        processes.push_back({pid, Trim(system.ReadText("/proc/" + entry + "/comm").value_or(""))});
    }
    return processes;
}

// "name (pid N)" of every other process with `node` open, where /proc lets this user see it.
std::vector<SProcess> Holders(IDoctorSystem& system, const std::vector<SProcess>& processes,
                              const std::string& node) {
    std::vector<SProcess> holders;
    for (const SProcess& process : processes) {
        const std::string fds = "/proc/" + std::to_string(process.pid) + "/fd";
        for (const std::string& fd : List(system, fds)) {
            if (system.ReadLink(fds + "/" + fd) == node) {
                holders.push_back(process);
                break;
            }
        }
    }
    return holders;
}

std::string HolderText(const SProcess& process) {
    return (process.name.empty() ? std::string("a process") : process.name) + " (pid " +
           std::to_string(process.pid) + ")";
}

// The USB device a class device sits on: the nearest directory above it with an idVendor.
struct SUsbIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string product;
};

std::optional<SUsbIdentity> UsbIdentity(IDoctorSystem& system, const std::string& classDevice) {
    const auto resolved = system.ResolvePath(classDevice);
    if (!resolved) {
        return std::nullopt;
    }
    std::string directory = *resolved;
    while (StartsWith(directory, "/sys/devices/")) {
        if (system.Exists(directory + "/idVendor")) {
            const auto vendor = ParseHex16(system.ReadText(directory + "/idVendor").value_or(""));
            const auto productId =
                ParseHex16(system.ReadText(directory + "/idProduct").value_or(""));
            if (!vendor || !productId) {
                return std::nullopt;
            }
            return SUsbIdentity{*vendor, *productId,
                                Trim(system.ReadText(directory + "/product").value_or(""))};
        }
        directory = directory.substr(0, directory.rfind('/'));
    }
    return std::nullopt;
}

bool IsChargerId(const SUsbIdentity& id) {
    return IsChargerUsbId(id.vendorId, id.productId);
}

// The device list's rule for a serial charger, on the cable's USB product string.
bool IsSerialChargerName(const std::string& product) {
    return IsChargerBusDescription(product);
}

bool IsUsbSerialName(const std::string& name) {
    return StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
}

// The first file of `name` in udev's rule directories, as udev picks it; an empty file (or a
// link to /dev/null) masks the name.
struct SRulesFile {
    std::string path;
    std::string text;
};

std::optional<SRulesFile> EffectiveRulesFile(IDoctorSystem& system, const std::string& name) {
    for (const char* directory : kUdevRuleDirectories) {
        const std::string path = std::string(directory) + "/" + name;
        if (system.Exists(path)) {
            return SRulesFile{path, system.ReadText(path).value_or("")};
        }
    }
    return std::nullopt;
}

struct SGroupFile {
    // Group name and its listed members, from /etc/group.
    std::vector<std::pair<std::string, std::vector<std::string>>> groups;

    bool Lists(const std::string& group, const std::string& user) const {
        for (const auto& [name, members] : groups) {
            if (name == group) {
                return Contains(members, user);
            }
        }
        return false;
    }
};

SGroupFile ReadGroupFile(IDoctorSystem& system) {
    SGroupFile file;
    for (const std::string& line : Lines(system.ReadText("/etc/group").value_or(""))) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        std::string field;
        while (std::getline(in, field, ':')) {
            fields.push_back(field);
        }
        if (fields.size() < 3) {
            continue;
        }
        std::vector<std::string> members;
        std::istringstream list(fields.size() > 3 ? fields[3] : "");
        while (std::getline(list, field, ',')) {
            members.push_back(Trim(field));
        }
        file.groups.emplace_back(fields[0], std::move(members));
    }
    return file;
}

std::string ChargerName(const SChargerNode& charger) {
    std::string name = "The charger at " + charger.node + " (" + Hex4(charger.vendorId) + ":" +
                       Hex4(charger.productId);
    if (!charger.product.empty()) {
        name += " " + charger.product;
    }
    return name + ")";
}

std::string KillCommand(const SProcess& process) {
    if (process.name == "ModemManager") {
        return "sudo systemctl stop ModemManager";
    }
    return "sudo kill " + std::to_string(process.pid);
}

class CChecks {
public:
    explicit CChecks(IDoctorSystem& system) : system_(system) {}

    SDoctorReport Run() {
        user_ = system_.UserName();
        superUser_ = system_.IsSuperUser();
        sessionGroups_ = system_.ProcessGroups();
        groupFile_ = ReadGroupFile(system_);
        processes_ = Processes(system_);
        report_.udevRunning = system_.Exists("/run/udev/control");
        report_.modemManagerRunning =
            std::any_of(processes_.begin(), processes_.end(),
                        [](const SProcess& p) { return p.name == "ModemManager"; });

        CheckRules();
        FindChargers("hidraw");
        FindChargers("tty");
        for (SChargerNode& charger : report_.chargers) {
            CheckCharger(charger);
        }
        CheckModemManager();
        CheckBrltty();
        CheckSerialPorts();
        CheckLatencyTimers();
        return std::move(report_);
    }

private:
    void Add(ESeverity severity, std::string check, std::string node, std::string what,
             std::string fix) {
        report_.findings.push_back(
            {severity, std::move(check), std::move(node), std::move(what), std::move(fix)});
    }

    void CheckRules() {
        const auto rules = EffectiveRulesFile(system_, kRulesFileName);
        if (rules && !Trim(rules->text).empty()) {
            report_.rulesFile = rules->path;
            rulesSetLatency_ = rules->text.find("latency_timer") != std::string::npos;
            return;
        }
        installFix_ = InstallRulesCommand();
        std::string what = "The udev rules for chargers are not installed: a charger's device "
                           "node is open only to root.";
        if (rules) {
            what = "The udev rules for chargers are masked by the empty " + rules->path +
                   ": a charger's device node is open only to root.";
            installFix_ = "sudo rm " + rules->path + " && " + installFix_;
        }
        Add(ESeverity::Problem, "udev-rules", "", what, installFix_);
    }

    void FindChargers(const std::string& subsystem) {
        const std::string classDir = "/sys/class/" + subsystem;
        for (const std::string& name : List(system_, classDir)) {
            const auto id = UsbIdentity(system_, classDir + "/" + name);
            if (!id ||
                !(IsChargerId(*id) || (subsystem == "tty" && IsSerialChargerName(id->product)))) {
                continue;
            }
            SChargerNode charger;
            charger.node = "/dev/" + name;
            charger.subsystem = subsystem;
            charger.vendorId = id->vendorId;
            charger.productId = id->productId;
            charger.product = id->product;
            if (const auto record = system_.UdevRecord(classDir + "/" + name)) {
                // Newer udev also lists the tags in the TAGS property (":uaccess:seat:").
                const auto tags = record->properties.find("TAGS");
                charger.uaccessTag = record->tags.contains("uaccess") ||
                                     (tags != record->properties.end() &&
                                      tags->second.find(":uaccess:") != std::string::npos);
                const auto ignore = record->properties.find("ID_MM_DEVICE_IGNORE");
                charger.modemIgnored = ignore != record->properties.end() && ignore->second == "1";
            }
            charger.open = system_.TryOpen(charger.node);
            if (subsystem == "tty") {
                if (const std::string digits = Trim(LatencyTimerText(classDir + "/" + name));
                    !digits.empty() && digits.size() <= 4 &&
                    std::all_of(digits.begin(), digits.end(),
                                [](char c) { return c >= '0' && c <= '9'; })) {
                    charger.latencyTimerMs = static_cast<std::uint32_t>(std::stoul(digits));
                }
                for (const SProcess& holder : Holders(system_, processes_, charger.node)) {
                    charger.holders.push_back(HolderText(holder));
                    holderProcesses_[charger.node].push_back(holder);
                }
            }
            report_.chargers.push_back(std::move(charger));
        }
    }

    // A USB serial bridge with a latency timer shows it on its port device, the device above
    // the tty's "tty" directory (ftdi_sio: .../1-1:1.0/ttyUSB0/latency_timer).
    std::string LatencyTimerText(const std::string& classDevice) {
        const auto resolved = system_.ResolvePath(classDevice);
        if (!resolved ||
            !resolved->ends_with("/tty/" + classDevice.substr(classDevice.rfind('/') + 1))) {
            return {};
        }
        const std::string port = resolved->substr(0, resolved->rfind("/tty/"));
        return system_.ReadText(port + "/latency_timer").value_or("");
    }

    // Why a node refuses this user, most basic cause first, with the fix for that cause.
    void CheckCharger(const SChargerNode& charger) {
        const std::string name = ChargerName(charger);
        const auto& holders = holderProcesses_[charger.node];
        if (charger.open == ENodeOpen::Opened) {
            if (!holders.empty()) {
                Add(ESeverity::Problem, "port-busy", charger.node,
                    name + " is also open in " + HolderText(holders.front()) +
                        ": an update would share the line with it.",
                    KillCommand(holders.front()));
            }
            return;
        }
        if (charger.open == ENodeOpen::Busy) {
            if (holders.empty()) {
                Add(ESeverity::Problem, "port-busy", charger.node,
                    name + " is in use by another process, which this user cannot see. This "
                           "command names it; close that program.",
                    "sudo fuser -v " + charger.node);
            } else {
                Add(ESeverity::Problem, "port-busy", charger.node,
                    name + " is in use by " + HolderText(holders.front()) + ".",
                    KillCommand(holders.front()));
            }
            return;
        }
        if (charger.open != ENodeOpen::Denied) {
            Add(ESeverity::Problem, "charger-access", charger.node,
                name + " is listed but does not open. Unplug it and plug it in again.",
                "udevadm info " + charger.node);
            return;
        }
        const std::string refused = name + " cannot be opened by " + user_ + ": ";
        const std::string acl = "sudo setfacl -m u:" + user_ + ":rw " + charger.node;
        const auto group = system_.NodeGroup(charger.node);
        if (report_.rulesFile.empty()) {
            Add(ESeverity::Problem, "charger-access", charger.node,
                refused + "the udev rules for chargers are not installed.", installFix_);
        } else if (!report_.udevRunning) {
            Add(ESeverity::Problem, "charger-access", charger.node,
                refused + "udev does not run here, so nothing gives the user access. This "
                          "command does until the charger is unplugged.",
                acl);
        } else if (!charger.uaccessTag) {
            Add(ESeverity::Problem, "charger-access", charger.node,
                refused + "the udev rules are installed but were not applied to it.",
                kReloadCommand);
        } else if (charger.subsystem == "tty" && group && !Contains(sessionGroups_, *group) &&
                   groupFile_.Lists(*group, user_)) {
            Add(ESeverity::Problem, "charger-access", charger.node,
                refused + user_ + " was added to group " + *group +
                    " after this session began. Log out and in again, or start the program "
                    "through this command.",
                "sg " + *group + " -c crenovix");
        } else {
            Add(ESeverity::Problem, "charger-access", charger.node,
                refused + "udev gives access only to the user logged in at this machine's "
                          "screen, and this session is not that one. This command gives access "
                          "until the charger is unplugged.",
                acl);
        }
    }

    void CheckModemManager() {
        if (!report_.modemManagerRunning) {
            return;
        }
        if (report_.rulesFile.empty()) {
            Add(ESeverity::Problem, "modemmanager", "",
                "ModemManager runs and the rule that keeps it away from chargers is not "
                "installed: it probes a charger's serial port and holds it busy.",
                installFix_);
            return;
        }
        for (const SChargerNode& charger : report_.chargers) {
            if (charger.subsystem == "tty" && !charger.modemIgnored) {
                Add(ESeverity::Problem, "modemmanager", charger.node,
                    "ModemManager runs and the rule that keeps it away from chargers was not "
                    "applied to " +
                        charger.node + ": it may probe the port and hold it busy.",
                    kReloadCommand);
            }
        }
    }

    void CheckBrltty() {
        report_.brlttyInstalled =
            std::any_of(std::begin(kBrlttyPrograms), std::end(kBrlttyPrograms),
                        [this](const char* path) { return system_.Exists(path); });
        if (!report_.brlttyInstalled) {
            return;
        }
        std::set<std::string> names;
        for (const char* directory : kUdevRuleDirectories) {
            for (const std::string& name : List(system_, directory)) {
                if (name.find("brltty") != std::string::npos) {
                    names.insert(name);
                }
            }
        }
        for (const std::string& name : names) {
            const auto rules = EffectiveRulesFile(system_, name);
            if (!rules) {
                continue;
            }
            std::string claimed;
            for (const char* id : kAdapterIds) {
                if (rules->text.find(id) != std::string::npos) {
                    claimed += (claimed.empty() ? "" : ", ") + std::string(id);
                }
            }
            if (claimed.empty()) {
                continue;
            }
            Add(ESeverity::Problem, "brltty", "",
                "brltty is installed and its rules in " + rules->path +
                    " claim USB serial adapters (" + claimed +
                    "): it takes a charger on such an adapter for a braille display and holds "
                    "the port. This command turns those rules off (braille displays then need "
                    "brltty started by hand).",
                "sudo ln -sf /dev/null /etc/udev/rules.d/" + name +
                    " && sudo udevadm control --reload");
        }
    }

    // Serial ports not handed out by our rules belong to a group (dialout on Debian). A USB serial
    // port this user cannot open is a problem; a built-in one only worth a note.
    void CheckSerialPorts() {
        if (superUser_) {
            return;
        }
        std::set<std::string> told;
        for (const std::string& name : List(system_, "/sys/class/tty")) {
            if (!system_.Exists("/sys/class/tty/" + name + "/device")) {
                continue; // consoles and pseudo-terminals are no ports
            }
            const std::string node = "/dev/" + name;
            const bool charger = std::any_of(report_.chargers.begin(), report_.chargers.end(),
                                             [&](const SChargerNode& c) { return c.node == node; });
            const auto group = system_.NodeGroup(node);
            if (charger || !group || *group == "root" || Contains(sessionGroups_, *group)) {
                continue;
            }
            const bool usb = IsUsbSerialName(name);
            if (!told.insert(*group + (usb ? "/usb" : "")).second) {
                continue;
            }
            const ESeverity severity = usb ? ESeverity::Problem : ESeverity::Note;
            const std::string ports =
                usb ? "USB serial port " + node : "serial ports such as " + node;
            if (groupFile_.Lists(*group, user_)) {
                Add(severity, "serial-group", usb ? node : "",
                    user_ + " was added to group " + *group + ", which owns the " + ports +
                        ", after this session began. Log out and in again, or start the program "
                        "through this command.",
                    "sg " + *group + " -c crenovix");
            } else {
                Add(severity, "serial-group", usb ? node : "",
                    user_ + " is not in group " + *group + ", which owns the " + ports +
                        ": a charger on it cannot be opened. Log out and in again after this "
                        "command.",
                    "sudo usermod -aG " + *group + " " + user_);
            }
        }
    }

    // The rules set the bridge's timer where the driver has one: reloading applies them, unless
    // the installed rules are older than that.
    void CheckLatencyTimers() {
        const std::string fix =
            !report_.rulesFile.empty() && rulesSetLatency_ ? kReloadCommand : installFix_;
        for (const SChargerNode& charger : report_.chargers) {
            if (auto note = LatencyTimerNote(charger, fix)) {
                report_.findings.push_back(std::move(*note));
            }
        }
    }

    IDoctorSystem& system_;
    SDoctorReport report_;
    bool rulesSetLatency_ = false;
    std::string user_;
    bool superUser_ = false;
    std::vector<std::string> sessionGroups_;
    SGroupFile groupFile_;
    std::vector<SProcess> processes_;
    std::map<std::string, std::vector<SProcess>> holderProcesses_;
    std::string installFix_ = InstallRulesCommand();
};

const char* OpenText(ENodeOpen open) {
    switch (open) {
    case ENodeOpen::Opened:
        return "opens";
    case ENodeOpen::Denied:
        return "permission denied";
    case ENodeOpen::Busy:
        return "busy";
    case ENodeOpen::Missing:
        return "no device node";
    case ENodeOpen::Failed:
        break;
    }
    return "does not open";
}

} // namespace

std::string PrintableText(std::string_view text) {
    std::string clean = Trim(text);
    for (char& c : clean) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return clean;
}

namespace {

void PrintFindingsJson(const SDoctorReport& report, ESeverity severity, std::ostream& out) {
    bool first = true;
    out << "[";
    for (const SFinding& finding : report.findings) {
        if (finding.severity != severity) {
            continue;
        }
        out << (first ? "" : ",") << "{\"check\":" << JsonString(finding.check)
            << ",\"node\":" << JsonString(finding.node) << ",\"what\":" << JsonString(finding.what)
            << ",\"fix\":" << JsonString(finding.fix) << "}";
        first = false;
    }
    out << "]";
}

} // namespace

void PrintFindings(const SDoctorReport& report, std::ostream& out) {
    int problems = 0;
    for (const SFinding& finding : report.findings) {
        const bool problem = finding.severity == ESeverity::Problem;
        problems += problem ? 1 : 0;
        out << "\n"
            << (problem ? "Problem: " : "Note: ") << Printable(finding.what)
            << "\n  Fix: " << Printable(finding.fix) << "\n";
    }
    out << "\n";
    if (problems == 0) {
        out << "No problems found.\n";
    } else {
        out << problems << (problems == 1 ? " problem" : " problems") << " found.\n";
    }
}

bool SDoctorReport::HasProblems() const {
    return std::any_of(findings.begin(), findings.end(),
                       [](const SFinding& f) { return f.severity == ESeverity::Problem; });
}

std::optional<SFinding> LatencyTimerNote(const SChargerNode& charger, const std::string& fix) {
    if (!charger.latencyTimerMs || *charger.latencyTimerMs <= kLatencyTimerNoteMs) {
        return std::nullopt;
    }
    return SFinding{ESeverity::Note, "latency-timer", charger.node,
                    "The USB serial adapter of the charger at " + charger.node +
                        " holds each answer for up to " + std::to_string(*charger.latencyTimerMs) +
                        " ms (its latency timer): a serial update waits for that on every frame "
                        "and takes several times as long as the line needs. 1 ms is enough.",
                    fix};
}

std::string InstallRulesCommand() {
    return std::string("crenovix-cli doctor --udev-rules | sudo tee /etc/udev/rules.d/") +
           kRulesFileName + " >/dev/null && " + kReloadCommand;
}

SDoctorReport RunDoctorChecks(IDoctorSystem& system) {
    return CChecks(system).Run();
}

void PrintReport(const SDoctorReport& report, std::ostream& out) {
    // Device and process names are data: on a terminal only through Printable.
    out << "udev rules: "
        << (report.rulesFile.empty() ? "not installed" : Printable(report.rulesFile)) << "\n";
    out << "udev: " << (report.udevRunning ? "running" : "not running") << "\n";
    if (report.chargers.empty()) {
        out << "Chargers: none found\n";
    }
    for (const SChargerNode& charger : report.chargers) {
        out << "Charger: " << Printable(charger.node) << " (" << Printable(charger.subsystem)
            << ", " << Hex4(charger.vendorId) << ":" << Hex4(charger.productId);
        if (!charger.product.empty()) {
            out << " " << Printable(charger.product); // streamed: g++ 12 at -O3 flags " " + text
        }
        out << "): " << OpenText(charger.open) << "\n";
        if (charger.latencyTimerMs) {
            out << "  latency timer: " << *charger.latencyTimerMs << " ms\n";
        }
    }
    out << "ModemManager: " << (report.modemManagerRunning ? "running" : "not running") << "\n";
    out << "brltty: " << (report.brlttyInstalled ? "installed" : "not installed") << "\n";
    PrintFindings(report, out);
}

void PrintReportJson(const SDoctorReport& report, std::ostream& out) {
    out << "{\"ok\":" << (report.HasProblems() ? "false" : "true")
        << ",\"udev_rules\":" << (report.rulesFile.empty() ? "null" : JsonString(report.rulesFile))
        << ",\"udev_running\":" << (report.udevRunning ? "true" : "false")
        << ",\"modemmanager_running\":" << (report.modemManagerRunning ? "true" : "false")
        << ",\"brltty_installed\":" << (report.brlttyInstalled ? "true" : "false")
        << ",\"chargers\":[";
    for (std::size_t i = 0; i < report.chargers.size(); ++i) {
        const SChargerNode& charger = report.chargers[i];
        out << (i == 0 ? "" : ",") << "{\"node\":" << JsonString(charger.node)
            << ",\"subsystem\":" << JsonString(charger.subsystem)
            << ",\"id\":" << JsonString(Hex4(charger.vendorId) + ":" + Hex4(charger.productId))
            << ",\"product\":" << JsonString(charger.product)
            << ",\"open\":" << JsonString(OpenText(charger.open));
        if (charger.latencyTimerMs) {
            out << ",\"latency_timer_ms\":" << *charger.latencyTimerMs;
        }
        out << "}";
    }
    out << "],\"problems\":";
    PrintFindingsJson(report, ESeverity::Problem, out);
    out << ",\"notes\":";
    PrintFindingsJson(report, ESeverity::Note, out);
    out << "}\n";
}

std::optional<std::string> CAccessHint::Next(const SDoctorReport& report, bool runActive) {
    // A node that is gone has been unplugged: its next plug is told about again.
    std::set<std::string> present;
    for (const SChargerNode& charger : report.chargers) {
        present.insert(charger.node);
    }
    std::erase_if(told_, [&](const std::string& node) { return !present.contains(node); });
    if (runActive || showing_) {
        return std::nullopt;
    }
    std::string text;
    std::set<std::string> telling;
    for (const SFinding& finding : report.findings) {
        if (finding.severity != ESeverity::Problem || finding.node.empty() ||
            !present.contains(finding.node) || told_.contains(finding.node)) {
            continue;
        }
        telling.insert(finding.node);
        text += (text.empty() ? "" : "\n\n") + PrintableText(finding.what) +
                "\n\nTo fix it, run in a terminal:\n" + PrintableText(finding.fix);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    told_.merge(telling);
    showing_ = true;
    return text;
}

} // namespace crenovix::doctor
