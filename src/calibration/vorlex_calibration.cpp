// The off-axis calibration of a Vorlex encoder's chip, through the encoder's
// own angle and sensor register commands. The chip is treated as an MA600.

#include <kinetra/vorlex.h>

#include "interface/log_sink.h"

#include "calibration/offaxis_procedure.h"
#include "devices/protocol/sensor_chip.h"

namespace kinetra {
namespace {

class VorlexSensorLink final : public calibration::SensorLink {
public:
    explicit VorlexSensorLink(Vorlex& encoder) : encoder_(encoder) {}

    uint8_t encoderType() override { return protocol::sensor_chip::kEncoderTypeMA600; }
    ret_status_t readAngle(double* degrees) override {
        float value = 0.0f;
        const ret_status_t status = encoder_.getAbsoluteAngle(&value);
        if (status == RET_OK) *degrees = value;
        return status;
    }
    void writeRegister(uint8_t reg, uint8_t value) override { encoder_.setMAxxxSPIRegister(reg, value); }
    bool readsWithinOneTurn() const override { return true; }

private:
    Vorlex& encoder_;
};

}  // namespace
}  // namespace kinetra

unsigned char Vorlex::runMAxxxOffAxisCalibration(float speed) {
    runMAxxxOffAxisCalibration(speed, kinetra::OffAxisCalibrationOptions{});
    return 1;
}

kinetra::OffAxisCalibrationResult Vorlex::runMAxxxOffAxisCalibration(
    float speed, const kinetra::OffAxisCalibrationOptions& options) {
    kinetra::VorlexSensorLink link(*this);
    kinetra::MessageStream out;
    return kinetra::calibration::OffAxisProcedure(link, speed, options, out).run();
}
