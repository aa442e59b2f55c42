// The machine check behind `crenovix-cli doctor` and the window's access hint: why a charger is
// not found or cannot be opened, each problem with the command that fixes it. Portable: all it
// knows of the system comes through IDoctorSystem (doctor/linux/DoctorSystem.cpp on Linux; fakes
// in tests), so the rules run the same against a real machine and a made-up one.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace crenovix::doctor {

// What happened when a device node was opened for reading and writing, as the updater opens it.
enum class ENodeOpen {
    Opened,
    Denied,  // no permission
    Busy,    // another process holds it exclusively
    Missing, // no such node
    Failed,  // any other error
};

// What udev recorded for a device: its tags and properties.
struct SUdevRecord {
    std::set<std::string> tags;
    std::map<std::string, std::string> properties;
};

// The system as the checks see it: paths of the Linux file system (sysfs, /dev, /proc, the udev
// rule directories), udev's record of a device, the user and the process's groups.
class IDoctorSystem {
public:
    virtual ~IDoctorSystem() = default;
    // The whole text of a small file; nothing when it cannot be read.
    virtual std::optional<std::string> ReadText(const std::string& path) = 0;
    // The entry names of a directory without "." and ".."; empty when it cannot be read.
    virtual std::vector<std::string> ListDirectory(const std::string& path) = 0;
    // The absolute path with every symbolic link resolved; nothing when it does not exist.
    virtual std::optional<std::string> ResolvePath(const std::string& path) = 0;
    // The target of one symbolic link, unresolved; nothing when it is not a readable link.
    virtual std::optional<std::string> ReadLink(const std::string& path) = 0;
    virtual bool Exists(const std::string& path) = 0;
    // udev's record of the class device at `syspath` ("/sys/class/hidraw/hidraw0"); nothing when
    // there is no such device. One udev has not processed (it does not run, or has not seen the
    // device yet) has no tags and only the kernel's properties.
    virtual std::optional<SUdevRecord> UdevRecord(const std::string& syspath) = 0;
    // Opens the node for reading and writing without becoming its controlling process, closes it.
    virtual ENodeOpen TryOpen(const std::string& node) = 0;
    // The name of the group owning a node; nothing when it cannot be looked at.
    virtual std::optional<std::string> NodeGroup(const std::string& node) = 0;
    virtual std::string UserName() = 0;
    virtual bool IsSuperUser() = 0;
    // The names of the groups this process runs with (the login session's groups).
    virtual std::vector<std::string> ProcessGroups() = 0;
    // This process's id, so that the port check does not report the doctor itself.
    virtual int OwnProcessId() = 0;
};

inline constexpr const char* kRulesFileName = "70-crenovix.rules";
// udev's rule directories, the first holding a file of a name wins.
inline constexpr const char* kUdevRuleDirectories[] = {
    "/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
    "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};

enum class ESeverity { Problem, Note };

struct SFinding {
    ESeverity severity = ESeverity::Problem;
    std::string check; // "udev-rules", "charger-access", "port-busy", "modemmanager", "brltty",
                       // "serial-group", "latency-timer"
    std::string node;  // the device node it is about; empty for the whole machine
    std::string what;  // what is wrong
    std::string fix;   // the command that fixes it
};

struct SChargerNode {
    std::string node;      // "/dev/hidraw3"
    std::string subsystem; // "hidraw" or "tty"
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string product; // the USB product string
    ENodeOpen open = ENodeOpen::Failed;
    bool uaccessTag = false;          // udev gave it the seat user's access
    bool modemIgnored = false;        // udev told ModemManager to leave it alone
    std::vector<std::string> holders; // "name (pid N)" of other processes that have it open
    // How long its USB serial bridge may hold received bytes, where the system shows it.
    std::optional<std::uint32_t> latencyTimerMs;
};

struct SDoctorReport {
    std::string rulesFile; // where the effective rules file is; empty when not installed
    bool udevRunning = false;
    bool modemManagerRunning = false;
    bool brlttyInstalled = false;
    std::vector<SChargerNode> chargers;
    std::vector<SFinding> findings;

    bool HasProblems() const;
};

// Runs every check. Never throws for what the system answers; unreadable places count as absent.
SDoctorReport RunDoctorChecks(IDoctorSystem& system);

// The report for people: what was looked at, then each finding with its fix, then the verdict.
void PrintReport(const SDoctorReport& report, std::ostream& out);
// The same as one JSON object: "ok", "udev_rules", "udev_running", "chargers", "problems", "notes".
void PrintReportJson(const SDoctorReport& report, std::ostream& out);

// The findings with their fixes, then the verdict ("No problems found.", "N problems found."),
// each text through Printable.
void PrintFindings(const SDoctorReport& report, std::ostream& out);

// The report keeps device and process texts as they came; the window's boxes cannot show
// escapes, so the hint gives them in this lossy form: control characters (escape sequences among
// them) become "?", surrounding blanks go. A terminal gets Printable's escapes instead.
std::string PrintableText(std::string_view text);

// A serial update waits for one answer per 16-byte frame; a bridge that holds it longer than this
// makes the update several times slower than the line (1 ms is what the rules set).
inline constexpr std::uint32_t kLatencyTimerNoteMs = 4;

// The note for a charger whose bridge's latency timer is above kLatencyTimerNoteMs, with `fix`
// (how to lower it on this system); nothing otherwise.
std::optional<SFinding> LatencyTimerNote(const SChargerNode& charger, const std::string& fix);

// The command that installs the rules this program carries, reloads and applies them.
std::string InstallRulesCommand();

// The window's hint: when a charger is present but cannot be opened, the user is told once per
// plug (a node that went away and came back is told about again), never during a run, and never
// while the previous hint is still open.
class CAccessHint {
public:
    // The text to show now for `report`, or nothing. A text returned counts as shown: call
    // `Closed` when its box has gone.
    std::optional<std::string> Next(const SDoctorReport& report, bool runActive);
    void Closed() { showing_ = false; }

private:
    std::set<std::string> told_;
    bool showing_ = false;
};

} // namespace crenovix::doctor
