// The user's interrupts (SIGINT and SIGTERM; on Windows Ctrl+C and Ctrl+Break) while chargers are
// being written. Stopping a write half-way can leave a charger without working firmware, so
// while a CInterruptCounter lives the program only counts interrupts and the run decides what
// they mean; before and after, they end the program as usual. One source file per platform
// (cli/linux/Interrupts.cpp, cli/win32/Interrupts.cpp) installs and removes the handlers.
#pragma once

#include <atomic>

namespace crenovix::cli {

class CInterruptCounter {
public:
    // Create it before the threads that talk to chargers, so they inherit what it sets up.
    CInterruptCounter();
    ~CInterruptCounter();
    CInterruptCounter(const CInterruptCounter&) = delete;
    CInterruptCounter& operator=(const CInterruptCounter&) = delete;

    // Interrupts since construction; safe from any thread and from the platform's handlers.
    static int Count() { return count_.load(); }
    static void Add() { count_.fetch_add(1); }

private:
    struct SPlatform;
    SPlatform* platform_ = nullptr;
    static inline std::atomic<int> count_{0};
};

} // namespace crenovix::cli
