#include "kinetra_sim/imu_fixed_point.h"

#include "devices/protocol/imu_protocol.h"

#include <cmath>

namespace kinetra::sim {

int16_t imuFixedPoint(double value, uint8_t command) {
    const double counts = std::round(value / protocol::imu::fixedPointScale(command));
    if (!(counts > -32768.0)) return -32768;
    if (counts > 32767.0) return 32767;
    return static_cast<int16_t>(counts);
}

}  // namespace kinetra::sim
