#include "serial/termios_settings.h"

#include <stdexcept>

namespace kinetra {

void applyLineSettings(termios& tio, const LineSettings& s) {
    validateLineSettings(s);

    // Raw mode: bytes pass unchanged, nothing is echoed or interpreted.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | IUCLC);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CLOCAL | CREAD;
    // VMIN 1: with a non-blocking descriptor an empty queue then reads as EAGAIN,
    // so a read of 0 bytes can only mean the line hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    switch (s.bytesize) {
        case serial::fivebits: tio.c_cflag |= CS5; break;
        case serial::sixbits: tio.c_cflag |= CS6; break;
        case serial::sevenbits: tio.c_cflag |= CS7; break;
        case serial::eightbits: tio.c_cflag |= CS8; break;
    }

    if (s.stopbits == serial::stopbits_one) {
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else {
        tio.c_cflag |= CSTOPB;
    }

    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (s.parity) {
        case serial::parity_none: break;
        case serial::parity_odd: tio.c_cflag |= PARENB | PARODD; break;
        case serial::parity_even: tio.c_cflag |= PARENB; break;
        // With CMSPAR the parity bit is fixed: PARODD selects mark (1), else space (0).
        case serial::parity_mark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case serial::parity_space: tio.c_cflag |= PARENB | CMSPAR; break;
    }

    switch (s.flowcontrol) {
        case serial::flowcontrol_none:
            tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
            tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
            break;
        case serial::flowcontrol_software:
            tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
            tio.c_iflag |= IXON | IXOFF;
            tio.c_iflag &= ~static_cast<tcflag_t>(IXANY);
            break;
        case serial::flowcontrol_hardware:
            tio.c_cflag |= CRTSCTS;
            tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
            break;
    }
}

bool standardBaudConstant(uint32_t baudrate, speed_t& constant) {
    struct Entry {
        uint32_t rate;
        speed_t constant;
    };
    static constexpr Entry kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Entry& entry : kRates) {
        if (entry.rate == baudrate) {
            constant = entry.constant;
            return true;
        }
    }
    return false;
}

}  // namespace kinetra
