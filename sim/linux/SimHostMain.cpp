// crenovix-sim-host: the simulated serial charger behind a pseudo-terminal, as a program of its
// own, so that a program that cannot link the host (a Windows build under wine) can talk to it
// through the slave end.
//
// Usage: crenovix-sim-host [--plain]
//   --plain  a charger on a plain port (its boot loader stays at 9600); default: a USB serial
//            charger whose boot loader listens at 128000.
//
// Prints "slave <path>" once the line is up, then runs until SIGTERM, SIGINT or SIGHUP, and then
// prints what the charger recorded:
//   complete <0|1>                          the latest transfer stored its whole payload
//   payload <length> <FNV-1a 64, 16 hex digits>
//   baud <step> <rate>...                   the rate of each frame recognised at the step
//   noise <count>                           bytes dropped for arriving at the wrong rate
//   line <rate>...                          the line's output rate each time it changed, as
//                                           the slave's settings showed it (polled every 5 ms)
// Exit status 0, or 1 when the pseudo-terminal cannot be set up or the arguments are wrong.
#include "base/Clock.h"
#include "sim/linux/SimPtyHost.h"

// The kernel's termios2 reads any rate as a number; <termios.h> must not be included with it.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

constexpr long kLinePollNs = 5'000'000;

// The output rate the slave is set to now; 0 when it cannot be read.
std::uint32_t LineRate(int fd) {
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return 0;
    }
    return settings.c_ospeed;
}

// The rate as one of the B-constants, for both directions; the other settings stay.
bool SetClassicRate(int fd, unsigned rateConstant) {
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= rateConstant;
    return ::ioctl(fd, TCSETS2, &settings) == 0;
}

void PrintResults(const crenovix::sim::SSimResults& results,
                  const std::vector<std::uint32_t>& lineRates) {
    using crenovix::sim::ESimStep;
    std::printf("complete %d\n", results.bComplete ? 1 : 0);
    std::printf("payload %zu %016llx\n", results.payload.size(),
                static_cast<unsigned long long>(crenovix::sim::PayloadDigest(results.payload)));
    for (const ESimStep step : {ESimStep::BootRequest, ESimStep::Reconnection, ESimStep::Knock,
                                ESimStep::LengthFrame, ESimStep::DataFrame, ESimStep::LastFrame}) {
        // "boot request" -> "boot-request": one word per field for the reader of the lines.
        std::string name(crenovix::sim::ToString(step));
        std::replace(name.begin(), name.end(), ' ', '-');
        std::printf("baud %s", name.c_str());
        for (const std::uint32_t baud : results.BaudsAt(step)) {
            std::printf(" %u", static_cast<unsigned>(baud));
        }
        std::printf("\n");
    }
    std::printf("noise %d\n", results.nNoiseBytes);
    std::printf("line");
    for (const std::uint32_t rate : lineRates) {
        std::printf(" %u", static_cast<unsigned>(rate));
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    crenovix::sim::SSimSerialConfig config;
    config.bUsb = true;
    config.identity.strType = "Kavro Kelvorin K4";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plain") == 0) {
            config.bUsb = false;
            config.identity.strType.clear();
        } else {
            std::fprintf(stderr, "usage: %s [--plain]\n", argv[0]);
            return 1;
        }
    }

    // Blocked before the host's thread starts, so that it inherits the mask and only the wait
    // below takes the stop signal.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::perror("pthread_sigmask");
        return 1;
    }

    crenovix::CSteadyClock clock;
    int error = 0;
    auto host = crenovix::sim::CSimPtyHost::Start(clock, config, error);
    if (!host) {
        std::fprintf(stderr, "pseudo-terminal: %s\n", std::strerror(error));
        return 1;
    }
    // A descriptor of our own on the slave, to read its settings (the rate a program sets on its
    // end is the slave's) and to start the line as a serial driver reports it: 9600 as B9600.
    // The host sets it as a number (BOTHER), which programs that read the rate through the
    // B-constants cannot read: wine's GetCommState fails on it, and with it every open.
    const int watch = ::open(host->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (watch < 0 || !SetClassicRate(watch, B9600)) {
        std::fprintf(stderr, "%s: %s\n", host->SlavePath().c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("slave %s\n", host->SlavePath().c_str());
    std::fflush(stdout);

    std::vector<std::uint32_t> lineRates;
    const timespec pollPeriod{0, kLinePollNs};
    while (sigtimedwait(&stopSignals, nullptr, &pollPeriod) < 0) {
        const std::uint32_t rate = LineRate(watch);
        if (lineRates.empty() || lineRates.back() != rate) {
            lineRates.push_back(rate);
        }
    }
    const crenovix::sim::SSimResults results = host->Results();
    host.reset();
    ::close(watch);
    PrintResults(results, lineRates);
    return 0;
}
