#pragma once
// Any baud rate, standard or not, through the Linux termios2 interface.
// Kept apart from <termios.h>: the kernel's <asm/termbits.h> that declares
// termios2 redefines the C library's termios records and constants.

#include <cstdint>

namespace kinetra {

/// Sets both the input and output speed of the terminal `fd` to `baudrate` bit/s
/// (BOTHER). Call it after tcsetattr(), which would reset the speed. Returns 0,
/// or the errno of the failing ioctl.
int setCustomBaudRate(int fd, uint32_t baudrate);

}  // namespace kinetra
