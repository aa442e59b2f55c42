// Line settings of an open tty through the kernel's termios2 interface, which takes any baud
// rate as a number (a charger's boot loader may insist on 128000, which has no B-constant).
//
// Kept apart from the rest of the serial code because the kernel's termios2 definitions clash
// with the C library's <termios.h>; nothing here includes that header. Every function takes a
// descriptor the caller owns and returns 0 on success or the errno value of the failing call.
#pragma once

#include <cstdint>

namespace crenovix::ttyline {

// 0 when `fd` is a terminal (its line settings can be read), else the errno (ENOTTY).
int CheckIsTty(int fd);

// Raw 8N1 at `baud` for both directions: 8 data bits, no parity, one stop bit, receiver on,
// modem lines ignored, no hardware or software flow control, no input or output processing, no
// echo or signals. A read returns as soon as one byte is there. Other settings stay as found.
int ConfigureRawLine(int fd, std::uint32_t baud);

// Drops whatever is queued in both directions.
int FlushBoth(int fd);

// Drops the received bytes nobody has read yet (tcflush with TCIFLUSH).
int FlushInput(int fd);

// Waits until the driver has sent what it held (the C library's tcdrain). Unbounded in the
// kernel, so callers first wait for the output queue to empty with their own deadline.
int WaitUntilSent(int fd);

// Asks the driver to hand received bytes on at once (the ASYNC_LOW_LATENCY flag of
// TIOCGSERIAL/TIOCSSERIAL; a USB serial bridge's driver then sets the bridge's latency timer to
// 1 ms). `turnedOn` is true only when this call set the flag and the driver kept it, which is
// when the caller has something to put back (ClearLowLatency). Drivers without serial settings
// (pseudo-terminals, many others) refuse with ENOTTY or EINVAL.
int RequestLowLatency(int fd, bool& turnedOn);

// Clears the flag, the other settings as the driver reports them.
int ClearLowLatency(int fd);

} // namespace crenovix::ttyline
