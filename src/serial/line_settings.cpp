#include "serial/line_settings.h"

#include <stdexcept>

namespace kinetra {

void validateLineSettings(const LineSettings& s) {
    if (s.bytesize < serial::fivebits || s.bytesize > serial::eightbits) throw std::invalid_argument("invalid char len");
    if (s.stopbits != serial::stopbits_one && s.stopbits != serial::stopbits_two &&
        s.stopbits != serial::stopbits_one_point_five) {
        throw std::invalid_argument("invalid stop bit");
    }
    if (s.parity < serial::parity_none || s.parity > serial::parity_space) throw std::invalid_argument("invalid parity");
    if (s.flowcontrol < serial::flowcontrol_none || s.flowcontrol > serial::flowcontrol_hardware) {
        throw std::invalid_argument("invalid flow control");
    }
    if (s.baudrate == 0) throw std::invalid_argument("invalid baud rate");
}

}  // namespace kinetra
