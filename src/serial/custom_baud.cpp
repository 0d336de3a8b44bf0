// This file must not include <termios.h> (directly or through another header):
// the kernel's termbits header below defines the same names differently.
#include "serial/custom_baud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>

// The C library's <sys/ioctl.h> drags in termios definitions of its own, so the
// one function needed is declared here, exactly as the C library defines it.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace kinetra {

int setCustomBaudRate(int fd, uint32_t baudrate) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baudrate;
    tio.c_ospeed = baudrate;
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

}  // namespace kinetra
