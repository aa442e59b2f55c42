// CSimPtyHost: a simulated serial charger behind a pseudo-terminal, so OS-level tests and demos
// can drive it through the real termios adapter by opening SlavePath().
//
// A thread of its own reads what the host writes on the master side, reads the line rate the
// host set on the slave (the master's TCGETS2 reports the slave's settings on Linux), feeds each
// byte with that rate to a CSimSerialCharger and writes its answers back. The host keeps the
// slave open itself, so the line never hangs up between the program's opens and its settings
// survive them; a Disappear fault closes both ends, which hangs the line up for the program.
// Port faults (ReadsFail, WritesFail) need the in-process bench and do nothing here.
//
// The charger reads `clock` on the host's thread, so it must be safe to read from there: the
// steady clock is. Destruction stops the thread within one poll period (kPtyPollMs) and closes
// both ends. Results() may be called at any time from any thread.
#pragma once

#include "base/Clock.h"
#include "sim/SimSerialCharger.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace crenovix::sim {

inline constexpr int kPtyPollMs = 50;

class CSimPtyHost {
public:
    // Opens the pair and starts the thread; nullptr with `error` set to the errno value when the
    // pseudo-terminal cannot be set up.
    static std::unique_ptr<CSimPtyHost> Start(IClock& clock, SSimSerialConfig config, int& error);

    ~CSimPtyHost();
    CSimPtyHost(const CSimPtyHost&) = delete;
    CSimPtyHost& operator=(const CSimPtyHost&) = delete;

    // The path the program opens, for example /dev/pts/3.
    const std::string& SlavePath() const { return slavePath_; }
    // A copy of the charger's record so far.
    SSimResults Results() const;
    // False once the line was hung up (the charger disappeared).
    bool IsLineUp() const { return !bHungUp_; }

private:
    CSimPtyHost(IClock& clock, SSimSerialConfig config);
    int Open();
    void Run();
    std::uint32_t LineBaud() const;
    void Answer(std::uint8_t byte);
    void HangUp();

    // Sends the bytes due by now of what the charger sends late; the time until the next one
    // (at most kPtyPollMs).
    int SendDue();

    IClock& clock_;
    mutable std::mutex mutex_; // guards charger_
    CSimSerialCharger charger_;
    // Output the charger sends some time after a frame (a refusal behind a stray), in order,
    // each with the tick it is due: kept on the host's thread only.
    std::vector<std::pair<std::uint32_t, std::uint8_t>> later_;
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> bStop_{false};
    std::atomic<bool> bHungUp_{false};
    std::thread thread_;
};

} // namespace crenovix::sim
