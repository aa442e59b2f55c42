// crenovix-mock-kernel: runs a program against devices mocked with umockdev (MockKernel.h), with
// simulated HID chargers answering behind their hidraw nodes. Run it under umockdev-wrapper.
//
// Usage: crenovix-mock-kernel [DEVICE | --expect FILE]... -- PROGRAM [ARGUMENT]...
//   --charger SERIAL            a simulated charger (0483:5750 "Kelvorin K4"), model 0x0A; it
//                               leaves after "&" to the boot request and comes back as its boot
//                               loader 1500 ms later at the next hidraw number on the same
//                               USB port (so at the same position)
//   --charger-never-back SERIAL the same, whose boot loader never comes up
//   --charger-elsewhere SERIAL  the same, whose boot loader comes up at the next free USB port
//   --hid VID:PID:SERIAL        a HID interface nothing answers on ("Kelvorin K4" for 0483)
//   --hid-locked VID:PID:SERIAL the same, which cannot be opened
//   --hid-chargers N            N chargers nothing answers on, serial numbers C1..CN
//   --tty NODE:PRODUCT          a USB serial adapter with that product string
//   --tty-refusing NODE:PRODUCT the same, with a charger that answers every boot request "5"
//   --latency-timer MS          the latency timer of every USB serial adapter plugged after it
//                               (attribute latency_timer, low-latency flag as ftdi_sio's)
//   --uart NODE                 a serial port on the platform bus (not on USB)
//   --property NAME=VALUE       a udev property of every node plugged after it (what a udev
//                               rule would have set: TAGS=:uaccess:, ID_MM_DEVICE_IGNORE=1)
//   --mode NODE=OCTAL           the mode bits of a node plugged before it ("hidraw0=0600")
//   --expect FILE               after PROGRAM: "Verified: payload matches" when the first
//                               charger stored exactly FILE's payload
//   --later MS                  what follows happens MS after the step before it, PROGRAM
//                               running (without it, before PROGRAM starts)
//   --unplug SERIAL             the simulated charger plugged last with that serial number is
//                               pulled out
//   --signal INT|TERM           PROGRAM gets that signal
//   --show FILE                 after PROGRAM, each line of FILE (an update log), after "shown: "
// Devices are plugged in the order given, each at the next USB port ("1-<n>"), so HID positions
// follow that order up to the ninth (sysfs paths sort as text: "1-10" before "1-2"). Prints one
// line per simulated charger after PROGRAM ends ("charger SERIAL: transfers N, complete 0|1")
// and one per change a driver was asked for ("ttyUSB0: low latency on, latency_timer 1"), and
// after steps with --later "status N" with PROGRAM's exit status; exits with PROGRAM's status, 77
// when umockdev is not preloaded, 2 for a usage error.
#include "sim/SimCharger.h"
#include "umockdev/MockKernel.h"
#include "updatefile/UpdateFile.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

extern char** environ;

using namespace crenovix;

namespace {

mock::SMockUsb Charger(const std::string& serial) {
    mock::SMockUsb usb;
    usb.serial = serial;
    return usb;
}

mock::SMockUsb UsbFrom(const std::string& spec) {
    mock::SMockUsb usb;
    const auto first = spec.find(':');
    const auto second = spec.find(':', first + 1);
    usb.vendorId = spec.substr(0, first);
    usb.productId = spec.substr(first + 1, second - first - 1);
    usb.serial = second == std::string::npos ? "" : spec.substr(second + 1);
    if (usb.vendorId != "0483") {
        usb = {usb.vendorId, usb.productId, "Logitech", "USB Keyboard", usb.serial};
    }
    return usb;
}

bool PayloadMatches(const sim::SSimResults& results, const std::string& file) {
    static std::array<std::uint8_t, kUpdateImageSize> image{};
    if (LoadUpdateImage(file, true, image).outcome != ELoadOutcome::Loaded) {
        return false;
    }
    const auto payload =
        std::span(image).subspan(kHeaderSize, ReadUpdateHeader(image).dwPayloadLength);
    return results.bComplete && std::ranges::equal(payload, results.payload);
}

// A serial charger that refuses every boot request: "5" after each line end it reads.
void RefuseBootRequests(int fd, const std::atomic<bool>& stop) {
    while (!stop) {
        pollfd watched{fd, POLLIN, 0};
        std::uint8_t byte = 0;
        if (::poll(&watched, 1, 5) > 0 && ::read(fd, &byte, 1) == 1 && byte == '\n' &&
            ::write(fd, "5", 1) != 1) {
            std::perror("mock charger: write");
        }
    }
}

// Their threads, stopped on every way out of main.
struct SSerialChargers {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;

    ~SSerialChargers() { Stop(); }
    void Stop() {
        stop = true;
        for (std::thread& thread : threads) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    std::string whyNot;
    const auto kernel = mock::CMockKernel::Create(whyNot);
    if (!kernel) {
        std::cerr << "skipped: " << whyNot << "\n";
        return 77;
    }
    CSteadyClock clock;
    std::vector<std::unique_ptr<mock::CMockHidCharger>> chargers;
    std::vector<std::string> serials;
    std::string expect;
    std::string show;
    mock::SProperties properties;
    int latencyTimerMs = 0;
    SSerialChargers serialChargers;
    pid_t child = -1;
    // The steps after PROGRAM started, each at its time from the start.
    std::vector<std::pair<int, std::function<void()>>> later;
    int offsetMs = 0;
    bool understood = true;
    const auto apply = [&](const std::string& option, const std::string& value) {
        if (option.starts_with("--charger")) {
            sim::SSimHidConfig config;
            config.identity.strSerial = value;
            if (option != "--charger") {
                config.faults.push_back({sim::ESimStep::Reconnection, sim::kSimAnyIndex,
                                         option == "--charger-never-back"
                                             ? sim::ESimFaultKind::NeverReturn
                                             : sim::ESimFaultKind::ReturnElsewhere,
                                         1, sim::kDefaultOtherByte, 1});
            }
            serials.push_back(value);
            chargers.push_back(std::make_unique<mock::CMockHidCharger>(
                *kernel, clock, config, mock::SMockHid{Charger(value), true, properties}));
        } else if (option == "--hid" || option == "--hid-locked") {
            kernel->PlugHid({UsbFrom(value), option == "--hid", properties});
        } else if (option == "--hid-chargers") {
            for (int n = 1; n <= std::atoi(value.c_str()); ++n) {
                kernel->PlugHid({Charger("C" + std::to_string(n)), true, properties});
            }
        } else if (option == "--tty" || option == "--tty-refusing") {
            const auto colon = value.find(':');
            mock::SMockTty tty;
            tty.node = value.substr(0, colon);
            tty.usb.product = value.substr(colon + 1);
            tty.properties = properties;
            tty.latencyTimerMs = latencyTimerMs;
            const std::string node = kernel->PlugTty(tty);
            if (option == "--tty-refusing") {
                serialChargers.threads.emplace_back(RefuseBootRequests, kernel->DeviceFd(node),
                                                    std::cref(serialChargers.stop));
            }
        } else if (option == "--latency-timer") {
            latencyTimerMs = std::atoi(value.c_str());
        } else if (option == "--uart") {
            mock::SMockTty uart;
            uart.node = value;
            uart.bOnUsb = false;
            uart.properties = properties;
            kernel->PlugTty(uart);
        } else if (option == "--property" || option == "--mode") {
            const auto equals = value.find('=');
            if (option == "--mode") {
                kernel->SetNodeMode("/dev/" + value.substr(0, equals),
                                    std::stoul(value.substr(equals + 1), nullptr, 8));
            } else {
                properties.push_back({value.substr(0, equals), value.substr(equals + 1)});
            }
        } else if (option == "--expect") {
            expect = value;
        } else if (option == "--unplug") {
            for (std::size_t n = serials.size(); n-- > 0;) {
                if (serials[n] == value) {
                    chargers[n]->Unplug();
                    break;
                }
            }
        } else if (option == "--show") {
            show = value;
        } else if (option == "--signal" && child > 0) {
            // Only after --later: before PROGRAM runs, kill(-1) would signal every process.
            ::kill(child, value == "TERM" ? SIGTERM : SIGINT);
        } else {
            understood = false;
        }
    };
    int i = 1;
    for (; understood && i + 1 < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--later") {
            offsetMs += std::atoi(value.c_str());
        } else if (offsetMs > 0) {
            later.emplace_back(offsetMs, [&apply, option, value] { apply(option, value); });
        } else {
            apply(option, value);
        }
    }
    if (!understood || i + 1 >= argc || std::strcmp(argv[i], "--") != 0) {
        std::cerr
            << "usage: crenovix-mock-kernel [DEVICE | --expect FILE]... -- PROGRAM [ARG]...\n";
        return 2;
    }
    std::cout.flush();
    if (const int error =
            ::posix_spawnp(&child, argv[i + 1], nullptr, nullptr, argv + i + 1, environ);
        error != 0) {
        std::cerr << argv[i + 1] << ": " << std::strerror(error) << "\n";
        return 2;
    }
    int status = 0;
    const auto started = std::chrono::steady_clock::now();
    bool ended = false;
    for (const auto& [atMs, step] : later) {
        while (!ended &&
               std::chrono::steady_clock::now() - started < std::chrono::milliseconds(atMs)) {
            ended = ::waitpid(child, &status, WNOHANG) == child;
            ::usleep(10'000);
        }
        if (ended) {
            break;
        }
        step();
    }
    while (!ended && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    for (std::size_t n = 0; n < chargers.size(); ++n) {
        const sim::SSimResults results = chargers[n]->Results();
        std::cout << "charger " << serials[n] << ": transfers " << results.nTransfers
                  << ", complete " << (results.bComplete ? 1 : 0) << "\n";
    }
    serialChargers.Stop();
    for (const std::string& line : kernel->DriverLog()) {
        std::cout << line << "\n";
    }
    if (!expect.empty() && !chargers.empty()) {
        std::cout << (PayloadMatches(chargers.front()->Results(), expect)
                          ? "Verified: payload matches\n"
                          : "The charger's stored payload differs from the file's\n");
    }
    if (!show.empty()) {
        std::ifstream shown(show);
        for (std::string line; std::getline(shown, line);) {
            std::cout << "shown: " << line << "\n";
        }
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!later.empty()) {
        std::cout << "status " << code << "\n"; // a plug sequence's test judges it by its output
    }
    return code;
}
