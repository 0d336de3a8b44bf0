#pragma once
// The state of a control cycle: its reads, their statuses, and the request
// frames of one run, all sized when reads are added so a run allocates nothing.

#include <kinetra/control_cycle.h>

#include "devices/cycle_read.h"
#include "devices/protocol/motor_controller_protocol.h"

#include <vector>

struct ControlCycle::ControlCycleImpl {
    explicit ControlCycleImpl(Interface* bus) : iface(bus) {}

    /// Adds `read`; a second read of the same proxy stays unsent.
    std::size_t add(kinetra::CycleRead read);
    ret_status_t run();

    Interface* const iface;
    std::vector<kinetra::CycleRead> reads;
    std::vector<ret_status_t> statuses;
    std::vector<bool> duplicate;
    std::vector<bool> armed;
    std::vector<can_frame_data> requests;
};

namespace kinetra {

/// The cycle read of `reading` on a motor controller's core.
template <typename Core>
CycleRead motorCycleRead(Core& core, MotorReading reading, float* value) {
    namespace motor = protocol::motor;
    switch (reading) {
        case MotorReading::MotorPosition: return core.template cycleRead<motor::kGetMotorPosition>(value);
        case MotorReading::MotorVelocity: return core.template cycleRead<motor::kGetMotorVelocity>(value);
        case MotorReading::MotorAcceleration: return core.template cycleRead<motor::kGetMotorAcceleration>(value);
        case MotorReading::MotorTorque: return core.template cycleRead<motor::kGetMotorTorque>(value);
        case MotorReading::OutputPosition: return core.template cycleRead<motor::kGetOutputPosition>(value);
        case MotorReading::OutputVelocity: return core.template cycleRead<motor::kGetOutputVelocity>(value);
        case MotorReading::OutputAcceleration: return core.template cycleRead<motor::kGetOutputAcceleration>(value);
        case MotorReading::OutputTorque: return core.template cycleRead<motor::kGetOutputTorque>(value);
        case MotorReading::BusVoltage: return core.template cycleRead<motor::kGetBusVoltageCurrent>(value);
        case MotorReading::MotorTemperature: return core.template cycleRead<motor::kGetTemperatures>(value);
    }
    // Not a reading: a read that is never sent.
    return CycleRead{};
}

}  // namespace kinetra
