// The doctor's checks on made-up machines: each cause of a charger that is not found or does not
// open, with the remedy the rules call for; the window's hint; the report on Windows over the
// simulated desk.
#include "doctor/Doctor.h"
#include "base/Clock.h"
#include "doctor/PortReport.h"
#include "sim/SimBench.h"
#include "support/FakeDoctorSystem.h"

#include <gtest/gtest.h>

#include <sstream>

namespace crenovix {
namespace {

using doctor::ENodeOpen;
using doctor::ESeverity;
using Node = testsupport::CFakeDoctorSystem::SNode;

constexpr const char* kRules = "/usr/lib/udev/rules.d/70-crenovix.rules";
constexpr const char* kReload = "sudo udevadm control --reload && sudo udevadm trigger "
                                "--subsystem-match=hidraw --subsystem-match=tty";

class DoctorTest : public ::testing::Test {
protected:
    void SetUp() override {
        system_.files[kRules] = "SUBSYSTEM==\"hidraw\"\n";
        system_.files["/run/udev/control"] = "";
        system_.files["/etc/group"] = "root:x:0:\ndialout:x:20:\nplugdev:x:46:ada\n";
    }

    doctor::SDoctorReport Run() { return doctor::RunDoctorChecks(system_); }

    // The findings as "check node -> fix", in order.
    std::vector<std::string> Findings(ESeverity severity = ESeverity::Problem) {
        std::vector<std::string> lines;
        for (const doctor::SFinding& finding : Run().findings) {
            if (finding.severity == severity) {
                lines.push_back(finding.check + " " + finding.node + " -> " + finding.fix);
            }
        }
        return lines;
    }

    testsupport::CFakeDoctorSystem system_;
};

TEST_F(DoctorTest, AMachineReadyForChargersHasNothingToReport) {
    system_.AddUsbDevice("hidraw", "hidraw0", 0x0483, 0x5750, "Kelvorin K4", {},
                         {"uaccess", "ID_MM_DEVICE_IGNORE=1"});
    system_.AddUsbDevice("hidraw", "hidraw1", 0x046d, 0xc31c, "USB Keyboard", {ENodeOpen::Denied});
    const auto report = Run();
    EXPECT_EQ(report.rulesFile, kRules);
    ASSERT_EQ(report.chargers.size(), 1u);
    EXPECT_EQ(report.chargers[0].node, "/dev/hidraw0");
    EXPECT_TRUE(report.findings.empty());
    EXPECT_FALSE(report.HasProblems());
}

TEST_F(DoctorTest, RulesMissingOrMaskedAreInstalledByTheCommand) {
    system_.files.erase(kRules);
    EXPECT_EQ(Findings(),
              std::vector<std::string>{"udev-rules  -> " + doctor::InstallRulesCommand()});
    system_.files["/etc/udev/rules.d/70-crenovix.rules"] = ""; // a link to /dev/null reads empty
    system_.files[kRules] = "SUBSYSTEM==\"hidraw\"\n";
    EXPECT_EQ(Findings(), std::vector<std::string>{"udev-rules  -> sudo rm "
                                                   "/etc/udev/rules.d/70-crenovix.rules && " +
                                                   doctor::InstallRulesCommand()});
}

// Which devices count as chargers: the HID ids on both subsystems, the product-string rule only
// on serial ports.
TEST_F(DoctorTest, ChargersAreTheChargerIdsAndSerialPortsNamedAsChargers) {
    system_.AddUsbDevice("hidraw", "hidraw0", 0x0483, 0x575F, "K6", {});
    system_.AddUsbDevice("hidraw", "hidraw1", 0x0483, 0x5760, "K9", {});
    system_.AddUsbDevice("hidraw", "hidraw2", 0x1234, 0x0001, "USB Device", {});
    system_.AddUsbDevice("tty", "ttyACM0", 0x0483, 0x5750, "", {});
    system_.AddUsbDevice("tty", "ttyUSB0", 0x1a86, 0x7523, "Kavro Serial", {});
    system_.AddUsbDevice("tty", "ttyUSB1", 0x1a86, 0x7523, "USB Device \x1b[2J", {});
    system_.AddUsbDevice("tty", "ttyUSB2", 0x0403, 0x6001, "FT232R USB UART", {});
    std::vector<std::string> found;
    for (const auto& charger : Run().chargers) {
        found.push_back(charger.node + " " + charger.product);
    }
    EXPECT_EQ(found, (std::vector<std::string>{"/dev/hidraw0 K6", "/dev/ttyACM0 ",
                                               "/dev/ttyUSB0 Kavro Serial",
                                               "/dev/ttyUSB1 USB Device \x1b[2J"}));
}

// One charger that does not open, on machines that differ in one thing each: the cause found and
// the remedy offered.
TEST_F(DoctorTest, EachReasonACannotOpenHasItsRemedy) {
    struct SCase {
        const char* why;
        bool rules;
        bool udev;
        std::vector<std::string> database;
        const char* subsystem;
        Node node;
        std::string sessionGroups; // "" keeps the default
        std::string fix;
    };
    const std::vector<std::string> tagged{"uaccess", "ID_MM_DEVICE_IGNORE=1"};
    const std::string acl = "sudo setfacl -m u:ada:rw /dev/";
    const std::string install = doctor::InstallRulesCommand();
    const Node denied{ENodeOpen::Denied};
    // clang-format off
    const std::vector<SCase> cases{
        {"no rules", false, true, {}, "hidraw", denied, "", install},
        {"no udev", true, false, {}, "hidraw", denied, "", acl + "hidraw0"},
        {"rules not applied", true, true, {}, "hidraw", denied, "", kReload},
        {"not at the seat", true, true, tagged, "hidraw", denied, "", acl + "hidraw0"},
        {"group joined after login", true, true, {"TAGS=:seat:uaccess:"}, "tty",
         {ENodeOpen::Denied, "plugdev"}, "ada", "sg plugdev -c crenovix"},
        {"busy, holder unseen", true, true, tagged, "tty", {ENodeOpen::Busy}, "",
         "sudo fuser -v /dev/ttyACM0"},
        {"gone", true, true, tagged, "hidraw", {ENodeOpen::Missing}, "",
         "udevadm info /dev/hidraw0"},
    };
    // clang-format on
    for (const SCase& c : cases) {
        system_ = {};
        SetUp();
        if (!c.rules) {
            system_.files.erase(kRules);
        }
        if (!c.udev) {
            system_.files.erase("/run/udev/control");
        }
        if (!c.sessionGroups.empty()) {
            system_.groups = {c.sessionGroups};
        }
        const std::string name = std::string(c.subsystem) == "tty" ? "ttyACM0" : "hidraw0";
        system_.AddUsbDevice(c.subsystem, name, 0x0483, 0x5750, "K4", c.node, c.database);
        const auto report = Run();
        const doctor::SFinding* about = nullptr;
        for (const auto& finding : report.findings) {
            if (finding.node == "/dev/" + name) {
                about = &finding;
                break;
            }
        }
        ASSERT_NE(about, nullptr) << c.why;
        EXPECT_EQ(about->fix, c.fix) << c.why;
        EXPECT_NE(about->what.find("/dev/" + name + " (0483:5750 K4)"), std::string::npos)
            << c.why << ": " << about->what;
        EXPECT_TRUE(report.HasProblems()) << c.why;
    }
}

TEST_F(DoctorTest, APortHeldByAnotherProcessNamesItAndTheDoctorIsNotCounted) {
    const std::vector<std::string> tagged{"uaccess", "ID_MM_DEVICE_IGNORE=1"};
    system_.AddUsbDevice("tty", "ttyACM0", 0x0483, 0x5750, "K4", {ENodeOpen::Busy}, tagged);
    system_.AddUsbDevice("tty", "ttyACM1", 0x0483, 0x5751, "K6", {ENodeOpen::Opened}, tagged);
    system_.AddUsbDevice("tty", "ttyACM2", 0x0483, 0x5752, "K8", {ENodeOpen::Opened}, tagged);
    system_.AddProcess(42, "minicom", {"/dev/pts/1", "/dev/ttyACM0"});
    system_.AddProcess(812, "ModemManager", {"/dev/ttyACM1"});
    system_.AddProcess(system_.ownPid, "crenovix-cli", {"/dev/ttyACM2"});
    EXPECT_EQ(Findings(), (std::vector<std::string>{
                              "port-busy /dev/ttyACM0 -> sudo kill 42",
                              "port-busy /dev/ttyACM1 -> sudo systemctl stop ModemManager"}));
    EXPECT_EQ(Run().chargers[0].holders, std::vector<std::string>{"minicom (pid 42)"});
}

TEST_F(DoctorTest, ModemManagerMattersOnlyWithoutOurRuleApplied) {
    system_.AddProcess(812, "ModemManager");
    system_.AddUsbDevice("tty", "ttyACM0", 0x0483, 0x5750, "K4", {}, {"TAGS=:seat:uaccess:"});
    system_.AddUsbDevice("tty", "ttyACM1", 0x0483, 0x5750, "K4", {},
                         {"uaccess", "ID_MM_DEVICE_IGNORE=1"});
    EXPECT_EQ(Findings(),
              std::vector<std::string>{"modemmanager /dev/ttyACM0 -> " + std::string(kReload)});
    system_.files.erase(kRules);
    const auto findings = Findings();
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[1], "modemmanager  -> " + doctor::InstallRulesCommand());
}

TEST_F(DoctorTest, BrlttyRulesThatClaimSerialAdaptersAreTurnedOff) {
    const std::string brltty = "/usr/lib/udev/rules.d/85-brltty.rules";
    system_.files[brltty] = "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\"\n"
                            "ENV{PRODUCT}==\"403/6001/*\", GOTO=\"brltty_usb_run\"\n";
    EXPECT_TRUE(Findings().empty()) << "rules without the program do nothing";
    system_.files["/usr/bin/brltty"] = "";
    const auto report = Run();
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(report.findings[0].fix, "sudo ln -sf /dev/null /etc/udev/rules.d/85-brltty.rules && "
                                      "sudo udevadm control --reload");
    EXPECT_NE(report.findings[0].what.find("(403/6001, 1a86/7523)"), std::string::npos);
    system_.files["/etc/udev/rules.d/85-brltty.rules"] = ""; // masked as the fix does
    EXPECT_TRUE(Findings().empty());
}

TEST_F(DoctorTest, SerialPortGroupsThisSessionLacks) {
    system_.AddUsbDevice("tty", "ttyS0", 0x0000, 0x0000, "", {ENodeOpen::Denied, "dialout"});
    system_.AddUsbDevice("tty", "ttyS1", 0x0000, 0x0000, "", {ENodeOpen::Denied, "dialout"});
    EXPECT_TRUE(Findings().empty());
    EXPECT_EQ(Findings(ESeverity::Note),
              std::vector<std::string>{"serial-group  -> sudo usermod -aG dialout ada"});
    system_.AddUsbDevice("tty", "ttyUSB0", 0x0403, 0x6001, "FT232R",
                         {ENodeOpen::Denied, "dialout"});
    EXPECT_EQ(Findings(), std::vector<std::string>{
                              "serial-group /dev/ttyUSB0 -> sudo usermod -aG dialout ada"});
    system_.files["/etc/group"] = "dialout:x:20:bob,ada\n";
    EXPECT_EQ(Findings(),
              std::vector<std::string>{"serial-group /dev/ttyUSB0 -> sg dialout -c crenovix"});
    system_.groups.push_back("dialout");
    EXPECT_TRUE(Findings().empty());
    EXPECT_TRUE(Findings(ESeverity::Note).empty());
    system_.groups = {};
    system_.superUser = true;
    EXPECT_TRUE(Findings().empty());
}

// A charger's serial adapter that holds answers longer than a few ms: a note (the update works,
// slowly) with the rule that lowers the timer; other adapters and low timers are left alone.
TEST_F(DoctorTest, ASlowSerialAdapterGetsTheRuleThatLowersItsTimer) {
    system_.AddUsbDevice("tty", "ttyUSB0", 0x0403, 0x6001, "Kavro Serial", {});
    system_.AddUsbDevice("tty", "ttyUSB1", 0x0403, 0x6001, "FT232R USB UART", {});
    system_.AddUsbDevice("tty", "ttyUSB2", 0x0403, 0x6001, "USB Device", {});
    system_.files["/sys/devices/pci0/usb1/1-1/1-1:1.0/latency_timer"] = "16\n";
    system_.files["/sys/devices/pci0/usb1/1-2/1-1:1.0/latency_timer"] = "16\n";
    system_.files["/sys/devices/pci0/usb1/1-3/1-1:1.0/latency_timer"] = "1\n";
    EXPECT_EQ(Findings(ESeverity::Note), std::vector<std::string>{"latency-timer /dev/ttyUSB0 -> " +
                                                                  doctor::InstallRulesCommand()})
        << "rules from before the timer rule";
    system_.files[kRules] = "ATTR{device/latency_timer}=\"1\"\n";
    EXPECT_EQ(Findings(ESeverity::Note),
              std::vector<std::string>{"latency-timer /dev/ttyUSB0 -> " + std::string(kReload)});
    const auto report = Run();
    EXPECT_FALSE(report.HasProblems());
    std::ostringstream out;
    doctor::PrintReportJson(report, out);
    EXPECT_NE(out.str().find("\"latency_timer_ms\":16}"), std::string::npos);
    system_.files["/sys/devices/pci0/usb1/1-1/1-1:1.0/latency_timer"] = "x16\n";
    EXPECT_FALSE(Run().chargers[0].latencyTimerMs);
}

// Device texts stay as they came; each form escapes them its own way: JSON, the terminal's
// Printable, and the window's box without control characters.
TEST_F(DoctorTest, DeviceTextsAreEscapedForJsonTerminalAndBox) {
    system_.AddUsbDevice("hidraw", "hidraw0", 0x0483, 0x5750, "K4 \"Pro\" \\ \x1b[2J\xc2\x9b\xff",
                         {ENodeOpen::Denied});
    const doctor::SDoctorReport report = Run();
    std::ostringstream json;
    doctor::PrintReportJson(report, json);
    EXPECT_EQ(json.str().rfind("{\"ok\":false,\"udev_rules\":\"" + std::string(kRules) + "\"", 0),
              0u);
    EXPECT_NE(json.str().find("\"product\":\"K4 \\\"Pro\\\" \\\\ \\u001b[2J\\u009b\xc3\xbf\""),
              std::string::npos)
        << json.str();
    EXPECT_NE(json.str().find("\"problems\":[{\"check\":\"charger-access\""), std::string::npos);
    std::ostringstream plain;
    doctor::PrintReport(report, plain);
    const std::string shown = "K4 \"Pro\" \\\\ \\x1B[2J\\u009B\\xFF";
    EXPECT_NE(plain.str().find("Charger: /dev/hidraw0 (hidraw, 0483:5750 " + shown + "): "),
              std::string::npos)
        << plain.str();
    EXPECT_NE(plain.str().find("Problem: The charger at /dev/hidraw0 (0483:5750 " + shown),
              std::string::npos)
        << plain.str();
    EXPECT_EQ(plain.str().find('\x1b'), std::string::npos);
    const auto box = doctor::CAccessHint().Next(report, false);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->find('\x1b'), std::string::npos) << *box;
}

TEST(AccessHintTest, TellsOncePerPlugNeverDuringARunNorOverItsOwnBox) {
    testsupport::CFakeDoctorSystem system;
    system.files["/usr/lib/udev/rules.d/70-crenovix.rules"] = "x";
    system.files["/run/udev/control"] = "";
    system.AddUsbDevice("hidraw", "hidraw0", 0x0483, 0x5750, "K4", {ENodeOpen::Denied});
    const auto plugged = doctor::RunDoctorChecks(system);
    const doctor::SDoctorReport unplugged;
    doctor::CAccessHint hint;

    EXPECT_FALSE(hint.Next(plugged, true)) << "never during a run";
    const auto text = hint.Next(plugged, false);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find(plugged.findings[0].what), std::string::npos);
    EXPECT_NE(text->find(plugged.findings[0].fix), std::string::npos);
    system.AddUsbDevice("hidraw", "hidraw1", 0x0483, 0x5751, "K6", {ENodeOpen::Denied});
    EXPECT_FALSE(hint.Next(doctor::RunDoctorChecks(system), false)) << "its box is still open";
    hint.Closed();
    EXPECT_TRUE(hint.Next(doctor::RunDoctorChecks(system), false)) << "the second charger";
    hint.Closed();
    EXPECT_FALSE(hint.Next(plugged, false)) << "told already for this plug";
    EXPECT_FALSE(hint.Next(unplugged, false));
    EXPECT_TRUE(hint.Next(plugged, false)) << "plugged in again";
}

TEST(PortReportTest, EveryInterfaceAndPortWithWhetherItOpens) {
    CVirtualClock clock;
    sim::CSimBench bench(clock);
    sim::SSimHidInterface keyboard;
    keyboard.bOpenable = false;
    bench.AddHidInterface(keyboard);
    bench.AddHidCharger({});
    bench.AddSerialPort("simtty0");
    sim::SSimSerialConfig serialCharger;
    serialCharger.identity.strPortName = "simtty1";
    serialCharger.identity.strType = "Kavro K4";
    bench.AddSerialCharger(serialCharger);
    bench.SetSerialAdapter("simtty1", {16, 62, 1000});
    std::vector<doctor::SPortLine> lines = doctor::ListPortAccess(bench, bench, bench);
    ASSERT_EQ(lines.size(), 4u);
    // A slow adapter is a note: the charger works, and the exit code says nothing is wrong.
    EXPECT_EQ(lines[3].latencyTimerMs, 16u);
    EXPECT_FALSE(lines[2].latencyTimerMs);
    const auto notes = doctor::PortAccessReport(lines).findings;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].fix.rfind("In Device Manager, open the Properties of simtty1", 0), 0u);
    lines.pop_back();
    EXPECT_EQ(lines[0].port + " " + lines[0].description, "HID0 held by the system");
    EXPECT_FALSE(lines[0].opens);
    EXPECT_TRUE(lines[1].charger && lines[1].opens) << lines[1].port << " " << lines[1].description;
    EXPECT_FALSE(lines[2].charger);
    EXPECT_TRUE(lines[2].opens) << lines[2].port;
    std::ostringstream out;
    EXPECT_EQ(doctor::PrintPortAccess(lines, false, out), 0);
    EXPECT_EQ(doctor::PrintPortAccess(doctor::ListPortAccess(bench, bench, bench), false, out), 0);
    EXPECT_NE(out.str().find("  latency timer: 16 ms\n"), std::string::npos);
    lines[1].opens = false;
    EXPECT_EQ(doctor::PrintPortAccess(lines, true, out), 1);
    // The window on Windows tells the same problem once.
    doctor::CAccessHint hint;
    const auto text = hint.Next(doctor::PortAccessReport(lines), false);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->rfind("The charger at HID1 (0483:5750", 0), 0u) << *text;
    hint.Closed();
    EXPECT_FALSE(hint.Next(doctor::PortAccessReport(lines), false));
    EXPECT_NE(out.str().find("{\"ok\":false,\"ports\":[{\"port\":\"HID0\""), std::string::npos);
}

} // namespace
} // namespace crenovix
