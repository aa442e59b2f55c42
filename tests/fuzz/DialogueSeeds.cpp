// Records seeds for the dialogue fuzz target: whole runs of both dialogues against the
// simulated chargers (successful ones for every file that loads, and a few with the charger's
// faults), each written in the target's input layout (DialogueScript.h) with the replies the
// dialogue read, in order.
//
// Usage: crenovix-fuzz-dialogue-seeds DIRECTORY
// The files in tests/fuzz/corpus/dialogue were made with it; run it again after a change of the
// layout or of the file table, and check that it reports the endings named below.
#include "DialogueScript.h"

#include "device/SerialEnumeration.h"
#include "protocol/UpdateRun.h"
#include "sim/SimBench.h"
#include "support/FakeDeviceList.h"
#include "support/FakeUpdateWindow.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

using namespace crenovix;
using namespace crenovix::fuzz;
using sim::ESimFaultKind;
using sim::ESimStep;
using sim::SFault;

namespace {

// The script being recorded: one operation per read the dialogue made. Input the dialogue
// discarded right after a completed read came with that read's answer: the answer is marked as
// repeated (kOpRepeat before it), which is how the target lets an answer bring more input.
class CRecorder {
public:
    std::vector<std::uint8_t> script;

    void Discarded(bool dropped) {
        if (dropped && lastRead_) {
            script.insert(script.begin() + static_cast<std::ptrdiff_t>(*lastRead_), kOpRepeat);
        }
        lastRead_.reset();
    }

    void Read(EReadStatus status, std::span<const std::uint8_t> data) {
        lastRead_.reset();
        if (status == EReadStatus::TimedOut) {
            script.push_back(kOpTimeout);
            return;
        }
        if (status == EReadStatus::Failed) {
            script.push_back(kOpRefuse);
            return;
        }
        std::size_t length = data.size();
        while (length > 0 && data[length - 1] == 0) {
            --length; // the target fills the rest of a report with zeros
        }
        if (length == 0 && !data.empty()) {
            length = 1; // serial: the zero byte itself arrived
        }
        lastRead_ = script.size();
        script.push_back(static_cast<std::uint8_t>(length));
        script.insert(script.end(), data.begin(),
                      data.begin() + static_cast<std::ptrdiff_t>(length));
    }

private:
    std::optional<std::size_t> lastRead_; // where the op of a completed read begins
};

class CRecordingChannel final : public IPortChannel {
public:
    CRecordingChannel(std::unique_ptr<IPortChannel> inner, CRecorder& recorder, bool hid)
        : inner_(std::move(inner)), recorder_(recorder), hid_(hid) {}
    bool Write(std::span<const std::uint8_t> data) override {
        recorder_.Discarded(false);
        return inner_->Write(data);
    }
    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        const EReadStatus status = inner_->Read(data, timeoutMs);
        recorder_.Read(status, hid_ ? data.subspan(1) : data);
        return status;
    }
    bool DiscardInput() override {
        const bool dropped = inner_->DiscardInput();
        recorder_.Discarded(dropped);
        return dropped;
    }

private:
    std::unique_ptr<IPortChannel> inner_;
    CRecorder& recorder_;
    bool hid_;
};

class CRecordingOpener final : public IPortOpener {
public:
    CRecordingOpener(IPortOpener& inner, CRecorder& recorder)
        : inner_(inner), recorder_(recorder) {}
    std::optional<std::string> SerialPathFor(const std::string& portName) override {
        return inner_.SerialPathFor(portName);
    }
    std::unique_ptr<IPortChannel> OpenSerial(const std::string& path, std::uint32_t baud) override {
        return Wrap(inner_.OpenSerial(path, baud), false);
    }
    std::unique_ptr<IPortChannel> OpenHid(int position) override {
        return Wrap(inner_.OpenHid(position), true);
    }

private:
    std::unique_ptr<IPortChannel> Wrap(std::unique_ptr<IPortChannel> channel, bool hid) {
        if (!channel) {
            return nullptr;
        }
        return std::make_unique<CRecordingChannel>(std::move(channel), recorder_, hid);
    }
    IPortOpener& inner_;
    CRecorder& recorder_;
};

struct SSession {
    std::string name{};
    bool serial = false;
    std::size_t file = 0;
    std::vector<SFault> faults{};
    bool plainPort = false;
    std::uint8_t flags = 0;  // extra flags of the seed
    int modelCodeOffset = 0; // a charger for another model refuses the boot request
};

// Runs one session against a simulated charger; returns the seed and the run's message.
std::vector<std::uint8_t> Record(const SSession& session, const std::filesystem::path& dir,
                                 std::string& ending) {
    const SWrittenFile written = WriteDialogueFile(dir, session.file);
    const std::uint8_t model = static_cast<std::uint8_t>(DialogueFiles()[session.file].deviceCode +
                                                         session.modelCodeOffset);

    CVirtualClock clock;
    sim::CSimBench bench(clock);
    testsupport::CFakeDeviceListView listView;
    if (session.serial) {
        sim::SSimSerialConfig config;
        config.identity.byModelCode = model;
        config.identity.strType = session.plainPort ? "" : "Kavro Kelvorin K4";
        config.bUsb = !session.plainPort;
        config.faults = session.faults;
        bench.AddSerialCharger(config);
        listView.boxTicked = session.plainPort;
    } else {
        sim::SSimHidConfig config;
        config.identity.byModelCode = model;
        config.identity.strType = "Kavro Kelvorin K4";
        config.faults = session.faults;
        bench.AddHidCharger(config);
    }
    SDeviceListState devices;
    CDeviceEnumerator enumerator(bench, bench);
    RefreshDeviceList(devices, listView, enumerator);
    bench.TakeDevicesChanged();
    devices.bFileValid = true;

    CRecorder recorder;
    CRecordingOpener opener(bench, recorder);
    testsupport::CFakeUpdateWindow window(devices, &clock);
    window.path = written.path;
    window.selection = (session.flags & kFlagNoSelection) != 0 ? 1 : 0;
    window.onDispatch = [&] {
        if (bench.TakeDevicesChanged()) {
            RefreshDeviceList(devices, listView, enumerator);
        }
    };
    testsupport::CFixedNonces nonces({kNonce});
    std::array<std::uint8_t, kUpdateImageSize> image{};
    SUpdateContext context{window, clock, opener, devices, nonces, image};
    if (session.serial) {
        RunSerialUpdate(context);
    } else {
        RunHidUpdate(context);
    }
    ending = window.boxes.empty() ? "(no message)" : window.boxes[0].text;

    std::uint8_t flags = session.flags;
    if (session.serial) {
        flags |= kFlagSerial;
    }
    if (session.plainPort) {
        flags |= kFlagPlainPort;
    }
    std::vector<std::uint8_t> seed = {flags, static_cast<std::uint8_t>(session.file)};
    seed.insert(seed.end(), recorder.script.begin(), recorder.script.end());
    return seed;
}

std::vector<SSession> Sessions() {
    std::vector<SSession> sessions;
    // Every file that loads, through each dialogue that takes it.
    for (std::size_t file = 0; file < DialogueFiles().size(); ++file) {
        const SDialogueFile& f = DialogueFiles()[file];
        if (f.kind != EDialogueFile::Packed) {
            continue;
        }
        sessions.push_back({"hid-ok-file" + std::to_string(file), false, file});
        if (f.variant == testsupport::EPackVariant::TripleDes) {
            sessions.push_back({"serial-ok-file" + std::to_string(file), true, file});
        }
    }
    sessions.push_back({"serial-plain-ok-file6", true, 6, {}, true});
    // Charger faults.
    sessions.push_back({"hid-start-refused-twice",
                        false,
                        0,
                        {{ESimStep::StartFrame, -1, ESimFaultKind::Refuse, 2}}});
    sessions.push_back(
        {"hid-key-refused", false, 1, {{ESimStep::KeyWord, -1, ESimFaultKind::Refuse, 1}}});
    sessions.push_back(
        {"hid-block1-refused", false, 1, {{ESimStep::DataBlock, 1, ESimFaultKind::Refuse, 1}}});
    sessions.push_back(
        {"hid-block0-silent", false, 2, {{ESimStep::DataBlock, 0, ESimFaultKind::Silence, 1}}});
    sessions.push_back(
        {"hid-wrong-crc", false, 0, {{ESimStep::StartFrame, -1, ESimFaultKind::WrongCrc, 1}}});
    sessions.push_back({"hid-never-back",
                        false,
                        0,
                        {{ESimStep::Reconnection, -1, ESimFaultKind::NeverReturn, 1}}});
    sessions.push_back(
        {"hid-reads-fail", false, 1, {{ESimStep::DataBlock, 1, ESimFaultKind::ReadsFail, 1}}});
    sessions.push_back({"hid-other-model", false, 0, {}, false, 0, 1});
    sessions.push_back({"hid-no-selection", false, 0, {}, false, kFlagNoSelection});
    sessions.push_back({"serial-frame1-refused-twice",
                        true,
                        1,
                        {{ESimStep::DataFrame, 1, ESimFaultKind::Refuse, 2}}});
    sessions.push_back({"serial-frames-always-refused",
                        true,
                        0,
                        {{ESimStep::DataFrame, -1, ESimFaultKind::Refuse, sim::kSimEveryTime}}});
    sessions.push_back(
        {"serial-knock-silent-once", true, 0, {{ESimStep::Knock, -1, ESimFaultKind::Silence, 1}}});
    sessions.push_back({"serial-plain-knock-at-128000",
                        true,
                        0,
                        {{ESimStep::Knock, -1, ESimFaultKind::KnockOnlyAt128000, 1}},
                        true});
    sessions.push_back({"serial-other-model", true, 0, {}, false, 0, 1});
    sessions.push_back({"serial-length-other-byte",
                        true,
                        2,
                        {{ESimStep::LengthFrame, -1, ESimFaultKind::OtherByte, 1}}});
    sessions.push_back({"serial-last-frame-refused",
                        true,
                        6,
                        {{ESimStep::LastFrame, -1, ESimFaultKind::Refuse, 4}}});
    sessions.push_back(
        {"serial-disappears", true, 1, {{ESimStep::DataFrame, 2, ESimFaultKind::Disappear, 1}}});
    // Answers that come with more input: a try fails on them, and the dialogue's rules go on.
    sessions.push_back({"serial-frame2-answered-twice",
                        true,
                        1,
                        {{ESimStep::DataFrame, 2, ESimFaultKind::DuplicateReply, 1},
                         {ESimStep::DataFrame, 5, ESimFaultKind::Refuse, 1}}});
    sessions.push_back({"hid-start-extra-report",
                        false,
                        1,
                        {{ESimStep::StartFrame, -1, ESimFaultKind::ExtraReport, 1}}});
    sessions.push_back({"hid-block1-answered-twice",
                        false,
                        1,
                        {{ESimStep::DataBlock, 1, ESimFaultKind::DuplicateReply, 1}}});
    return sessions;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const std::filesystem::path files = out / ".files";
    std::filesystem::create_directories(files);
    for (const SSession& session : Sessions()) {
        std::string ending;
        const std::vector<std::uint8_t> seed = Record(session, files, ending);
        std::ofstream(out / session.name, std::ios::binary)
            .write(reinterpret_cast<const char*>(seed.data()),
                   static_cast<std::streamsize>(seed.size()));
        std::printf("%-32s %4zu bytes  %s\n", session.name.c_str(), seed.size(),
                    ending.substr(0, ending.find('\n')).c_str());
    }
    std::filesystem::remove_all(files);
    return 0;
}
