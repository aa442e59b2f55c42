// Uses the kernel's own termios definitions; <termios.h> must not be included in this file.
#include "device/linux/TtyLine.h"

#include <asm/termbits.h>
#include <cerrno>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace crenovix::ttyline {

namespace {

int IoctlResult(int result) {
    return result == 0 ? 0 : errno;
}

} // namespace

int CheckIsTty(int fd) {
    struct termios2 settings {};
    return IoctlResult(::ioctl(fd, TCGETS2, &settings));
}

int ConfigureRawLine(int fd, std::uint32_t baud) {
    if (baud == 0) {
        return EINVAL; // a zero rate means "hang up" to the driver, never a line speed
    }
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return errno;
    }
    settings.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= CS8 | CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    // One byte is enough for read() to return; with a non-blocking descriptor an empty queue then
    // gives EAGAIN, so a return of 0 can only mean the line was hung up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return IoctlResult(::ioctl(fd, TCSETS2, &settings));
}

int FlushBoth(int fd) {
    return IoctlResult(::ioctl(fd, TCFLSH, TCIOFLUSH));
}

int FlushInput(int fd) {
    return IoctlResult(::ioctl(fd, TCFLSH, TCIFLUSH));
}

int WaitUntilSent(int fd) {
    return IoctlResult(::ioctl(fd, TCSBRK, 1));
}

int RequestLowLatency(int fd, bool& turnedOn) {
    turnedOn = false;
    struct serial_struct serial {};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        return errno;
    }
    if ((serial.flags & ASYNC_LOW_LATENCY) != 0) {
        return 0; // someone asked before us: theirs to keep
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) {
        return errno;
    }
    // A driver that takes the request without storing the flag has nothing to put back.
    struct serial_struct now {};
    turnedOn = ::ioctl(fd, TIOCGSERIAL, &now) == 0 && (now.flags & ASYNC_LOW_LATENCY) != 0;
    return 0;
}

int ClearLowLatency(int fd) {
    struct serial_struct serial {};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        return errno;
    }
    serial.flags &= ~ASYNC_LOW_LATENCY;
    return IoctlResult(::ioctl(fd, TIOCSSERIAL, &serial));
}

} // namespace crenovix::ttyline
