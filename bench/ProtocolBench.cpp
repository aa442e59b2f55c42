// The update dialogues against the simulated charger.
//
// Host time: whole HID and serial runs of a largest-size update file against a zero-latency
// charger on a virtual clock, per block (HID) and per frame (serial), next to the charger model
// alone taking the same reports and bytes from a prebuilt list. The run drives that same model,
// so the model's time is the floor under the run's block phase; what the run adds on top is the
// dialogue, the port framing and the bench's channels. The run also loads and deciphers the
// file first; the window marks where the block phase begins and ends, and the load is timed on
// its own in the same iteration, so neither blurs the per-block figures.
//
// Link time: a whole HID update over a link that spends 1 ms per report in each direction, in
// virtual time, next to the least time that link and the dialogue's fixed waits allow; a whole
// serial update through a USB serial bridge with its latency timer at 16 ms and at 1 ms, next to
// the least time the line rate, the USB frames and the dialogue's fixed waits allow.
#include "device/SerialEnumeration.h"
#include "protocol/Frames.h"
#include "protocol/UpdateRun.h"
#include "sim/SimBench.h"
#include "sim/SimHidCharger.h"
#include "sim/SimSerialCharger.h"
#include "support/FakeDeviceList.h"
#include "support/FakeUpdateWindow.h" // CFixedNonces
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace crenovix;
using testsupport::EPackVariant;
using testsupport::SHeaderFields;
using testsupport::SPackedFile;
using Stopwatch = std::chrono::steady_clock;

// A largest-size update file: 524,288 bytes, of which 523,776 are payload.
constexpr std::size_t kFileSize = kUpdateImageSize;
constexpr std::size_t kPayloadSize = kFileSize - kHeaderSize;
constexpr std::size_t kHidBlocks = (kPayloadSize + kHidBlockSize - 1) / kHidBlockSize;
constexpr std::size_t kSerialFrames = kPayloadSize / kSerialFrameSize;
static_assert(kPayloadSize % kSerialFrameSize == 0, "no short last frame in the serial runs");

constexpr std::uint8_t kModelCode = 0x0A;
constexpr std::uint16_t kNonce = 0x1234;
constexpr std::uint32_t kSerialLoaderBaud = 128000; // a USB serial charger's boot loader

double Nanoseconds(Stopwatch::duration d) {
    return std::chrono::duration<double, std::nano>(d).count();
}

// The update files every benchmark uses, packed once: AES files for the HID runs in both payload
// modes (0 is sent masked, 1 as stored) and a Triple-DES file for the serial run, which cannot
// send AES files.
struct SFiles {
    SFiles() {
        const std::vector<std::uint8_t> payload = testsupport::PatternPayload(kPayloadSize, 11);
        for (std::uint8_t mode = 0; mode < 2; ++mode) {
            SHeaderFields fields;
            fields.payloadMode = mode;
            fields.deviceCode = kModelCode;
            hid[mode] = testsupport::Pack(EPackVariant::Aes, fields, payload);
            hidPath[mode] = dir.File("hid-mode" + std::to_string(mode) + ".bin");
            testsupport::WriteBytes(hidPath[mode], hid[mode].bytes);
        }
        SHeaderFields fields;
        fields.deviceCode = kModelCode;
        serial = testsupport::Pack(EPackVariant::TripleDes, fields, payload);
        serialPath = dir.File("serial.bin");
        testsupport::WriteBytes(serialPath, serial.bytes);
    }

    testsupport::CTempDir dir;
    std::array<SPackedFile, 2> hid;
    std::array<std::string, 2> hidPath;
    SPackedFile serial;
    std::string serialPath;
};

const SFiles& Files() {
    static const SFiles files;
    return files;
}

// The run's window. Its controls cost nothing and DispatchPendingMessages has nothing to do, as
// in a program with no events pending, so the host time measured is the dialogue's and the
// bench's. It notes when the block phase begins (the progress range is set right before the
// first block or frame) and when the run's one message box comes up, in host and clock time.
class CBenchWindow final : public IUpdateWindow {
public:
    explicit CBenchWindow(CVirtualClock& clock) : clock_(clock) {}

    std::string path;
    int selection = 0;
    int boxes = 0;
    std::string title; // of the last box
    std::uint64_t boxAtMs = 0;
    std::uint64_t rangeAtMs = 0; // clock time of the block phase's start
    Stopwatch::time_point blocksFrom{};
    Stopwatch::time_point boxAt{};

    std::string GetPathText() override { return path; }
    int GetCurrentSelection() override { return selection; }
    void SetDeviceListEnabled(bool) override {}
    void SetUpdateEnabled(bool) override {}
    void SetStatusText(const std::string&) override {}
    void ShowStatus(bool) override {}
    void SetProgressRange(std::uint16_t) override {
        blocksFrom = Stopwatch::now();
        rangeAtMs = clock_.Now();
    }
    void SetProgressPos(int) override {}
    void ShowProgress(bool) override {}
    void MessageBox(const std::string&, const std::string& boxTitle, EMessageIcon) override {
        boxAt = Stopwatch::now();
        boxAtMs = clock_.Now();
        title = boxTitle;
        ++boxes;
    }
    void ResetFileInfo(const std::string&) override {}
    void RestoreControls() override {}
    bool DispatchPendingMessages() override { return true; }

private:
    CVirtualClock& clock_;
};

// What a run needs: a charger desk on a virtual clock, the device table listed from it, the
// window and an image buffer of the run's own.
struct SDesk {
    explicit SDesk(const std::string& path) { window.path = path; }

    // The device list as the window shows it when Update is pressed; row 0 selected.
    void ListDevices() {
        RefreshDeviceList(devices, listView, enumerator);
        bench.TakeDevicesChanged();
        devices.bFileValid = true;
        devices.bListRefreshEnabled = false; // as OnUpdateClicked leaves it for the run
        window.selection = 0;
    }

    bool Completed() const { return window.boxes == 1 && window.title == run_text::kSuccessTitle; }

    CVirtualClock clock;
    sim::CSimBench bench{clock};
    SDeviceListState devices;
    CBenchWindow window{clock};
    testsupport::CFakeDeviceListView listView;
    CDeviceEnumerator enumerator{bench, bench};
    testsupport::CFixedNonces nonces{{kNonce}};
    std::unique_ptr<std::array<std::uint8_t, kUpdateImageSize>> image =
        std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
    SUpdateContext context{window, clock, bench, devices, nonces, *image};
};

sim::SSimHidConfig HidChargerConfig() {
    sim::SSimHidConfig config;
    config.identity.byModelCode = kModelCode;
    return config;
}

sim::SSimSerialConfig SerialChargerConfig() {
    sim::SSimSerialConfig config;
    config.identity.byModelCode = kModelCode;
    config.identity.strType = "Kavro Kelvorin K4"; // a USB serial charger, listed as such
    return config;
}

// ---------------------------------------------------------------------------------------------
// The charger models alone: the reference for the runs' block phases.

sim::SimHidReport Report(std::span<const std::uint8_t> data) {
    sim::SimHidReport report{};
    std::copy(data.begin(), data.end(), report.begin() + 1);
    return report;
}

// The HID boot loader model taking a whole block transfer from a prebuilt list of the 65-byte
// reports the dialogue writes. The start frame and key word open the session untimed; the list
// is built for the session's transfer key (the same for every fresh charger: its key values come
// from a seeded generator). Returns the time of the block reports in ns, or nothing on failure.
class CHidModelRun {
public:
    CHidModelRun(std::size_t mode, const std::vector<std::uint8_t>& payload)
        : mode_(mode), payload_(payload) {}

    std::optional<double> Run() {
        CVirtualClock clock;
        sim::SSimHidConfig config = HidChargerConfig();
        config.bStartInBootLoader = true;
        sim::CSimHidCharger charger(clock, config);

        const auto length = static_cast<std::uint32_t>(payload_.size());
        const auto start = StartFrame(
            length, StartFrameModel(static_cast<std::uint8_t>(mode_), kModelCode), 1000, kNonce);
        const std::optional<sim::SimHidReport> startReply = charger.HandleReport(Report(start));
        if (!startReply || (*startReply)[1] != kReplyAccepted) {
            return std::nullopt;
        }
        const std::uint32_t keyWord = ReadLe32(&(*startReply)[1 + 8]) ^ kNonce;
        std::array<std::uint8_t, 4> keyBytes{};
        WriteLe32(keyBytes.data(), keyWord);
        const std::optional<sim::SimHidReport> keyReply = charger.HandleReport(Report(keyBytes));
        if (!keyReply || (*keyReply)[1] != kReplyAccepted) {
            return std::nullopt;
        }
        if (blocks_.empty() || transferKey_ != keyWord + length) {
            Build(keyWord + length);
        }

        const auto t0 = Stopwatch::now();
        for (const sim::SimHidReport& block : blocks_) {
            std::optional<sim::SimHidReport> reply = charger.HandleReport(block);
            benchmark::DoNotOptimize(reply);
        }
        const auto t1 = Stopwatch::now();
        if (!charger.Results().bComplete || charger.Results().payload != payload_) {
            return std::nullopt;
        }
        return Nanoseconds(t1 - t0);
    }

private:
    // The block reports as the dialogue writes them: 64 payload bytes after the report ID, the
    // last block completed with zeros, masked in payload mode 0.
    void Build(std::uint32_t transferKey) {
        transferKey_ = transferKey;
        std::array<std::uint8_t, 4> key{};
        WriteLe32(key.data(), transferKey);
        blocks_.assign(kHidBlocks, sim::SimHidReport{});
        for (std::size_t k = 0; k < kHidBlocks; ++k) {
            const std::size_t offset = k * kHidBlockSize;
            const std::size_t count = std::min(kHidBlockSize, payload_.size() - offset);
            std::copy_n(payload_.begin() + static_cast<std::ptrdiff_t>(offset), count,
                        blocks_[k].begin() + 1);
            if (mode_ == 0) {
                for (std::size_t i = 0; i < kHidBlockSize; ++i) {
                    blocks_[k][1 + i] ^= key[i % 4] ^ TransferMask[i % 16];
                }
            }
        }
    }

    std::size_t mode_;
    const std::vector<std::uint8_t>& payload_;
    std::uint32_t transferKey_ = 0;
    std::vector<sim::SimHidReport> blocks_;
};

// The serial boot loader model taking every data frame's bytes (16 masked bytes and their XOR)
// one call per byte, as the bench's channel hands them over. Knock and length frame open the
// session untimed. Returns the time of the data frames in ns, or nothing on failure.
class CSerialModelRun {
public:
    explicit CSerialModelRun(const std::vector<std::uint8_t>& payload) : payload_(payload) {
        bytes_.reserve(kSerialFrames * (kSerialFrameSize + 1));
        for (std::size_t k = 0; k < kSerialFrames; ++k) {
            std::uint8_t check = 0;
            for (std::size_t i = 0; i < kSerialFrameSize; ++i) {
                const auto byte =
                    static_cast<std::uint8_t>(payload[k * kSerialFrameSize + i] ^ TransferMask[i]);
                bytes_.push_back(byte);
                check ^= byte;
            }
            bytes_.push_back(check);
        }
    }

    std::optional<double> Run() {
        CVirtualClock clock;
        sim::SSimSerialConfig config = SerialChargerConfig();
        config.bStartInBootLoader = true;
        sim::CSimSerialCharger charger(clock, config);

        static constexpr std::array<std::uint8_t, 5> kKnock = {'&', '&', '&', 'u', 0x07};
        std::optional<std::uint8_t> answer;
        for (const std::uint8_t byte : kKnock) {
            answer = charger.HandleByte(byte, kSerialLoaderBaud);
        }
        if (answer != kReplyAccepted) {
            return std::nullopt;
        }
        const auto length = static_cast<std::uint32_t>(payload_.size());
        std::uint8_t check = 0;
        for (int shift = 24; shift >= 0; shift -= 8) {
            const auto byte = static_cast<std::uint8_t>(length >> shift);
            charger.HandleByte(byte, kSerialLoaderBaud);
            check ^= byte;
        }
        if (charger.HandleByte(check, kSerialLoaderBaud) != kReplyAccepted) {
            return std::nullopt;
        }

        const auto t0 = Stopwatch::now();
        for (const std::uint8_t byte : bytes_) {
            answer = charger.HandleByte(byte, kSerialLoaderBaud);
            benchmark::DoNotOptimize(answer);
        }
        const auto t1 = Stopwatch::now();
        if (!charger.Results().bComplete || charger.Results().payload != payload_) {
            return std::nullopt;
        }
        return Nanoseconds(t1 - t0);
    }

private:
    const std::vector<std::uint8_t>& payload_;
    std::vector<std::uint8_t> bytes_;
};

// ---------------------------------------------------------------------------------------------
// Whole runs. Each iteration times the run, then the load the run starts with on its own, then
// the charger model alone on the same blocks or frames, so the ratio comes from interleaved
// measurements and holds while the machine's speed drifts.

struct SRunTimes {
    double runNs = 0;
    double blocksNs = 0; // from the progress range to the message box
    double loadNs = 0;
    double modelNs = 0;
};

// The run's iteration time is the whole run. False (with the benchmark's error set) when the run
// or the reference failed.
template <typename TRun, typename TModel>
bool TimeRun(benchmark::State& state, SDesk& desk, bool aesAllowed,
             const std::vector<std::uint8_t>& stored, const sim::SSimResults& results, TRun run,
             TModel& model, SRunTimes& totals) {
    const auto t0 = Stopwatch::now();
    run(desk.context);
    const auto t1 = Stopwatch::now();
    const SLoadResult load = LoadUpdateImage(desk.window.path, aesAllowed, desk.context.image);
    const auto t2 = Stopwatch::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    if (!desk.Completed() || !results.bComplete || load.outcome != ELoadOutcome::Loaded) {
        state.SkipWithError("the run did not complete");
        return false;
    }
    if (results.payload != stored) {
        state.SkipWithError("the charger stored another payload");
        return false;
    }
    const std::optional<double> modelNs = model.Run();
    if (!modelNs) {
        state.SkipWithError("the charger model alone did not store the payload");
        return false;
    }
    totals.runNs += Nanoseconds(t1 - t0);
    totals.blocksNs += Nanoseconds(desk.window.boxAt - desk.window.blocksFrom);
    totals.loadNs += Nanoseconds(t2 - t1);
    totals.modelNs += *modelNs;
    return true;
}

// Per run: the load (ms). Per block or frame: the whole run, the run's block phase, the model
// alone and what the host side adds to it (dialogue, port framing, the bench's channel); the
// ratio is the block phase over the model alone.
void ReportRun(benchmark::State& state, const SRunTimes& totals, std::size_t units,
               const std::string& unit) {
    const auto runs = static_cast<double>(state.iterations());
    if (runs == 0 || totals.modelNs == 0) {
        return;
    }
    const auto n = static_cast<double>(units);
    state.counters["n"] = n;
    state.counters["load_ms"] = totals.loadNs / runs / 1e6;
    state.counters["run_ns_per_" + unit] = totals.runNs / runs / n;
    state.counters["ns_per_" + unit] = totals.blocksNs / runs / n;
    state.counters["model_ns_per_" + unit] = totals.modelNs / runs / n;
    state.counters["overhead_ns_per_" + unit] = (totals.blocksNs - totals.modelNs) / runs / n;
    state.counters["ratio"] = totals.blocksNs / totals.modelNs;
}

// Payload mode 0 (masked on the wire) and 1 (sent as stored).
void BM_HidRun(benchmark::State& state) {
    const auto mode = static_cast<std::size_t>(state.range(0));
    const SFiles& files = Files();
    CHidModelRun model(mode, files.hid[mode].loadedPayload);
    SRunTimes totals;
    for (auto _ : state) {
        SDesk desk(files.hidPath[mode]);
        const sim::CSimHidCharger& charger = desk.bench.AddHidCharger(HidChargerConfig());
        desk.ListDevices();
        if (!TimeRun(state, desk, true, files.hid[mode].loadedPayload, charger.Results(),
                     RunHidUpdate, model, totals)) {
            return;
        }
    }
    ReportRun(state, totals, kHidBlocks, "block");
}
BENCHMARK(BM_HidRun)->ArgName("mode")->Arg(0)->Arg(1)->UseManualTime()->Unit(
    benchmark::kMillisecond);

void BM_SerialRun(benchmark::State& state) {
    const SFiles& files = Files();
    CSerialModelRun model(files.serial.loadedPayload);
    SRunTimes totals;
    for (auto _ : state) {
        SDesk desk(files.serialPath);
        const sim::CSimSerialCharger& charger = desk.bench.AddSerialCharger(SerialChargerConfig());
        desk.ListDevices();
        if (!TimeRun(state, desk, false, files.serial.loadedPayload, charger.Results(),
                     RunSerialUpdate, model, totals)) {
            return;
        }
    }
    ReportRun(state, totals, kSerialFrames, "frame");
}
BENCHMARK(BM_SerialRun)->UseManualTime()->Unit(benchmark::kMillisecond);

// The models on their own, for their absolute cost without runs in between.
template <typename TModel>
void TimeModel(benchmark::State& state, TModel& model, std::size_t units, const std::string& unit) {
    double totalNs = 0;
    for (auto _ : state) {
        const std::optional<double> ns = model.Run();
        if (!ns) {
            state.SkipWithError("the charger model did not store the payload");
            return;
        }
        state.SetIterationTime(*ns / 1e9);
        totalNs += *ns;
    }
    if (state.iterations() > 0) {
        state.counters["n"] = static_cast<double>(units);
        state.counters["ns_per_" + unit] =
            totalNs / static_cast<double>(state.iterations()) / static_cast<double>(units);
    }
}

void BM_SimHidChargerBlocks(benchmark::State& state) {
    const auto mode = static_cast<std::size_t>(state.range(0));
    CHidModelRun model(mode, Files().hid[mode].loadedPayload);
    TimeModel(state, model, kHidBlocks, "block");
}
BENCHMARK(BM_SimHidChargerBlocks)
    ->ArgName("mode")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_SimSerialChargerFrames(benchmark::State& state) {
    CSerialModelRun model(Files().serial.loadedPayload);
    TimeModel(state, model, kSerialFrames, "frame");
}
BENCHMARK(BM_SimSerialChargerFrames)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// A HID update over a slow link, in virtual time

constexpr std::uint64_t kLinkMsPerReport = 1;     // each direction
constexpr std::uint64_t kReconnectFirstMs = 1000; // the dialogue's wait after the boot reply

// The least time a whole HID update can take over a link of `l` ms per report each way, with a
// charger that is back `reenumerateMs` after it took the boot request:
//   - boot request and its reply: the request arrives at l, the reply at 2l;
//   - the charger leaves at l and is back at l + reenumerateMs; the host may not look for it
//     before 2l + 1000, so the earliest the port can open again is the later of the two;
//   - then start frame, key word and every block take one round trip (2l) each.
std::uint64_t HidLowerBoundMs(std::uint64_t l, std::uint64_t reenumerateMs, std::uint64_t blocks) {
    const std::uint64_t roundTrip = 2 * l;
    const std::uint64_t firstOpen = std::max(roundTrip + kReconnectFirstMs, l + reenumerateMs);
    return firstOpen + (2 + blocks) * roundTrip;
}

void BM_HidRunOverSlowLink(benchmark::State& state) {
    const auto reenumerateMs = static_cast<std::uint32_t>(state.range(0));
    const SFiles& files = Files();
    std::uint64_t elapsedMs = 0;
    std::uint64_t backAtMs = 0;
    std::uint64_t openedAtMs = 0;
    std::uint64_t blockPhaseMs = 0;
    for (auto _ : state) {
        SDesk desk(files.hidPath[0]);
        desk.bench.SetLinkLatency(static_cast<std::uint32_t>(kLinkMsPerReport), 0);
        sim::SSimHidConfig config = HidChargerConfig();
        config.dwReenumerateMs = reenumerateMs;
        const sim::CSimHidCharger& charger = desk.bench.AddHidCharger(config);
        desk.ListDevices();
        const std::uint64_t startMs = desk.clock.Now();

        const auto t0 = Stopwatch::now();
        RunHidUpdate(desk.context);
        const auto t1 = Stopwatch::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        if (!desk.Completed() || !charger.Results().bComplete) {
            state.SkipWithError("the run did not complete");
            return;
        }

        // Where the time went, from the charger's log and the bench's open attempts.
        elapsedMs = desk.window.boxAtMs - startMs;
        std::uint64_t keyAtMs = 0;
        std::uint64_t lastBlockAtMs = 0;
        for (const sim::SSimEvent& event : charger.Results().events) {
            if (event.step == sim::ESimStep::Reconnection) {
                backAtMs = event.timeMs - startMs;
            } else if (event.step == sim::ESimStep::KeyWord) {
                keyAtMs = event.timeMs;
            } else if (event.step == sim::ESimStep::DataBlock) {
                lastBlockAtMs = event.timeMs;
            }
        }
        blockPhaseMs = lastBlockAtMs - keyAtMs;
        // The first open is the boot request's; the next successful one finds the boot loader.
        const std::vector<sim::SSimOpen>& opens = desk.bench.Opens();
        const auto reopened = std::find_if(opens.begin() + (opens.empty() ? 0 : 1), opens.end(),
                                           [](const sim::SSimOpen& open) { return open.bOpened; });
        openedAtMs = reopened != opens.end() ? reopened->timeMs - startMs : 0;
    }
    const std::uint64_t boundMs = HidLowerBoundMs(kLinkMsPerReport, reenumerateMs, kHidBlocks);
    state.counters["blocks"] = static_cast<double>(kHidBlocks);
    state.counters["virtual_ms"] = static_cast<double>(elapsedMs);
    state.counters["bound_ms"] = static_cast<double>(boundMs);
    state.counters["ratio"] = static_cast<double>(elapsedMs) / static_cast<double>(boundMs);
    state.counters["excess_ms"] = static_cast<double>(elapsedMs) - static_cast<double>(boundMs);
    // The charger back and the port open again: the gap is the 200 ms polling's granularity.
    state.counters["back_at_ms"] = static_cast<double>(backAtMs);
    state.counters["reopened_at_ms"] = static_cast<double>(openedAtMs);
    // From the key word to the last block at the charger; the least is blocks x round trip.
    state.counters["block_phase_ms"] = static_cast<double>(blockPhaseMs);
}
// 1500 ms: the charger's default restart time (back at 1501 ms, found by the look at 1602 ms).
// 1402 ms: back at 1403 ms, just after the look at 1402 ms, so it waits for the look at 1602 ms:
// 199 ms, the most the 200 ms polling can lose.
BENCHMARK(BM_HidRunOverSlowLink)
    ->ArgName("reenumerate_ms")
    ->Arg(1500)
    ->Arg(1402)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// A serial update through a USB serial bridge, in virtual time

constexpr std::uint32_t kUsbFrameUs = 1000; // full-speed USB, each direction
constexpr std::uint32_t kApplicationBaud = 9600;

// The least time a whole serial update of `frames` 16-byte frames can take through a bridge that
// adds one USB frame to every write and every answer, on a line that carries ten bits a byte
// (8N1). The dialogue writes one byte at a time until the boot loader listens, then a frame's
// data and its check byte in two writes, and each write waits until its bytes are on the line:
//   - boot request: 11 writes of one byte at 9600 baud, 50 ms before each but the first, the
//     answer (one byte at 9600 baud), then 150 ms while the boot loader starts;
//   - knock: 5 writes of one byte at 128000 baud, 30, 30, 20 and 20 ms between them, the answer,
//     then 50 ms;
//   - length frame and every data frame: two writes (4 or 16 bytes, then the check byte), the
//     answer, then the 1 ms the dialogue waits after each "&".
// Nothing of it can overlap: every step waits for the one before. In microseconds.
std::uint64_t SerialLowerBoundUs(std::uint64_t frames) {
    const std::uint64_t slowBytes = 11 + 1;
    const std::uint64_t fastBytes = (5 + 1) + (4 + 1 + 1) + frames * (kSerialFrameSize + 1 + 1);
    const std::uint64_t writes = 11 + 5 + 2 + 2 * frames;
    const std::uint64_t answers = 3 + frames;
    const std::uint64_t pausesMs = 10 * 50 + 150 + (30 + 30 + 20 + 20) + 50 + (1 + frames);
    const std::uint64_t lineNs = slowBytes * sim::LineByteNs(kApplicationBaud) +
                                 fastBytes * sim::LineByteNs(kSerialLoaderBaud);
    return pausesMs * 1000 + (writes + answers) * kUsbFrameUs + lineNs / 1000;
}

void BM_SerialRunThroughAdapter(benchmark::State& state) {
    const auto latencyMs = static_cast<std::uint32_t>(state.range(0));
    const SFiles& files = Files();
    std::uint64_t elapsedMs = 0;
    std::uint64_t framePhaseMs = 0;
    for (auto _ : state) {
        SDesk desk(files.serialPath);
        const sim::SSimSerialConfig config = SerialChargerConfig();
        const sim::CSimSerialCharger& charger = desk.bench.AddSerialCharger(config);
        desk.bench.SetSerialAdapter(config.identity.strPortName, {latencyMs, 62, kUsbFrameUs});
        desk.ListDevices();
        const std::uint64_t startMs = desk.clock.Now();

        const auto t0 = Stopwatch::now();
        RunSerialUpdate(desk.context);
        const auto t1 = Stopwatch::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        if (!desk.Completed() || !charger.Results().bComplete ||
            charger.Results().payload != files.serial.loadedPayload) {
            state.SkipWithError("the run did not complete");
            return;
        }
        elapsedMs = desk.window.boxAtMs - startMs;
        framePhaseMs = desk.window.boxAtMs - desk.window.rangeAtMs;
    }
    const double boundMs = static_cast<double>(SerialLowerBoundUs(kSerialFrames)) / 1000;
    state.counters["frames"] = static_cast<double>(kSerialFrames);
    state.counters["virtual_ms"] = static_cast<double>(elapsedMs);
    state.counters["bound_ms"] = boundMs;
    state.counters["ratio"] = static_cast<double>(elapsedMs) / boundMs;
    state.counters["ms_per_frame"] =
        static_cast<double>(framePhaseMs) / static_cast<double>(kSerialFrames);
}
// 16 ms: the bridges' usual default; 1 ms: what the program asks the driver for, and the udev
// rule sets.
BENCHMARK(BM_SerialRunThroughAdapter)
    ->ArgName("latency_timer_ms")
    ->Arg(16)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
