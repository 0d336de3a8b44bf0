// The off-axis calibration of a driver's motor or output encoder chip, through
// the driver's own encoder, position and sensor register commands.

#include <kinetra/driver.h>

#include "interface/log_sink.h"

#include "calibration/cancellable_pause_clock.h"
#include "calibration/offaxis_procedure.h"
#include "calibration/offaxis_reset.h"
#include "devices/driver_impl.h"

namespace kinetra {
namespace {

class DriverSensorLink final : public calibration::SensorLink {
public:
    DriverSensorLink(Driver& driver, bool output) : driver_(driver), output_(output) {}

    uint8_t encoderType() override {
        unsigned char type = 0;
        int resolution = 0;
        bool use_index = false;
        const ret_status_t status = output_ ? driver_.getOutputEncoderConfiguration(&type, &resolution, &use_index)
                                            : driver_.getMotorEncoderConfiguration(&type, &resolution, &use_index);
        return status == RET_OK ? type : 0;
    }
    ret_status_t readAngle(double* degrees) override {
        float value = 0.0f;
        const ret_status_t status = output_ ? driver_.getOutputPosition(&value) : driver_.getMotorPosition(&value);
        if (status != RET_OK) return status;
        // The motor position comes in turns.
        *degrees = output_ ? static_cast<double>(value) : static_cast<double>(value * 360.0f);
        return RET_OK;
    }
    void writeRegister(uint8_t reg, uint8_t value) override { driver_.setMAxxxSPIRegister(output_, reg, value); }
    bool readsWithinOneTurn() const override { return false; }

private:
    Driver& driver_;
    const bool output_;
};

}  // namespace
}  // namespace kinetra

unsigned char Driver::clearMAxxxOffAxisCalibration(bool output) {
    kinetra::MessageStream out;
    kinetra::clearOffAxisCalibration(impl_, output, out, kinetra::systemProcedureClock());
    return 1;
}

kinetra::OffAxisCalibrationResult Driver::clearMAxxxOffAxisCalibration(
    bool output, const kinetra::OffAxisCalibrationOptions& options) {
    kinetra::MessageStream out;
    kinetra::CancellablePauseClock real_time(options.cancel);
    kinetra::ProcedureClock& clock = options.clock != nullptr ? *options.clock : real_time;
    return kinetra::clearOffAxisCalibration(impl_, output, out, clock, options.cancel);
}

unsigned char Driver::runMAxxxOffAxisCalibration(bool output, float speed) {
    runMAxxxOffAxisCalibration(output, speed, kinetra::OffAxisCalibrationOptions{});
    return 1;
}

kinetra::OffAxisCalibrationResult Driver::runMAxxxOffAxisCalibration(
    bool output, float speed, const kinetra::OffAxisCalibrationOptions& options) {
    kinetra::DriverSensorLink link(*this, output);
    kinetra::MessageStream out;
    return kinetra::calibration::OffAxisProcedure(link, speed, options, out).run();
}
