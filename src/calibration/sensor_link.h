#pragma once
// What the off-axis calibration needs from the device that carries the sensor
// chip: its encoder type, angle reads and register writes. A driver and an
// encoder reach their chips through different commands; the algorithm is one.

#include <kinetra/types.h>

#include <cstdint>

namespace kinetra::calibration {

class SensorLink {
public:
    virtual ~SensorLink() = default;
    /// The configured encoder type (0 when it cannot be read).
    virtual uint8_t encoderType() = 0;
    /// One angle read in degrees; `degrees` is written only on RET_OK.
    virtual ret_status_t readAngle(double* degrees) = 0;
    /// One register write of the chip; not confirmed by the device.
    virtual void writeRegister(uint8_t reg, uint8_t value) = 0;
    /// True when the angles come within one revolution and must be unwrapped.
    virtual bool readsWithinOneTurn() const = 0;
};

}  // namespace kinetra::calibration
