#pragma once
// The operations Driver and Actuator share: each is written once here, and the
// two classes forward to it. Where the classes differ, they say so themselves.

#include "devices/device_core.h"
#include "devices/protocol/motor_controller_protocol.h"

namespace kinetra {

template <typename Traits>
class MotorController : public DeviceCore<Traits> {
public:
    using DeviceCore<Traits>::DeviceCore;

    ret_status_t getBusVoltage(float* voltage) {
        float current = 0.0f;
        return this->template query<protocol::motor::kGetBusVoltageCurrent>(voltage, &current);
    }

    ret_status_t getBusCurrent(float* current) {
        float voltage = 0.0f;
        float value = 0.0f;
        const ret_status_t status = this->template query<protocol::motor::kGetBusVoltageCurrent>(&voltage, &value);
        if (status == RET_OK) *current = value;
        return status;
    }
};

}  // namespace kinetra
