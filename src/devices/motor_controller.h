#pragma once
// What Driver and Actuator share beyond their operation table: the firmware
// update, the emergency stop, and the reads that derive a value from their reply
// or run several exchanges. Every other operation is carried out from its table
// entry (protocol/motor_operations.h) by run().

#include "devices/device_core.h"
#include "devices/forward.h"
#include "devices/protocol/motor_operations.h"
#include "flash/flash_procedure.h"

#include <array>
#include <string>

namespace kinetra {

template <typename Traits>
class MotorController : public DeviceCore<Traits> {
public:
    using DeviceCore<Traits>::DeviceCore;

    // ---- Firmware update: one procedure for both classes.

    ret_status_t flash(const std::string& path, bool already_in_dfu, const FlashOptions& options) {
        FlashProcedure procedure({this->iface(), this->node(), this->log(), this->flashReplies(),
                                  [this](bool on) { this->setFlashMode(on); }},
                                 options);
        return procedure.run(path, already_in_dfu);
    }

    /// Any operation of the class's table (see protocol/motor_operations.h).
    template <const protocol::Operation& Op, typename... A>
    ret_status_t run(A... args) {
        return performOperation<Op>(*this, args...);
    }

    /// Goes out whenever the transport is open, even to a node no longer heard.
    ret_status_t emergencyStop() {
        const protocol::Operation& stop = protocol::motor::shared_ops::emergencyStop;
        return this->sendWhileOpen(stop.command, stop.frame, stop.dlc);
    }

    // ---- Reads that derive a value from their reply or take a later one.

    /// The temperature reply carries the motor's, then the driver's.
    ret_status_t getDriverTemperature(float* temperature) {
        return secondOfPair<protocol::motor::kGetTemperatures>(temperature);
    }

    /// The device measures two phases; the third follows from their sum being zero.
    ret_status_t getMotorPhaseCurrents(float* a, float* b, float* c) {
        return phaseCurrents<protocol::motor::kGetPhaseCurrents>(a, b, c);
    }
    ret_status_t getDCCalibPhaseCurrents(float* a, float* b, float* c) {
        return phaseCurrents<protocol::motor::kGetDCCalibPhaseCurrents>(a, b, c);
    }

    /// The bus reply carries the voltage, then the current.
    ret_status_t getBusCurrent(float* current) { return secondOfPair<protocol::motor::kGetBusVoltageCurrent>(current); }

    /// The commit text is the first seven reply bytes taken as characters (a zero
    /// byte stays a character); the eighth is not part of it. A query that was sent
    /// and timed out writes seven zero characters, so a caller never prints a
    /// stale commit; a refused guard sends nothing and writes nothing.
    ret_status_t getFirmwareCommit(std::string* commit) {
        std::array<unsigned char, 8> bytes{};
        const ret_status_t status = this->template query<protocol::common::kGetFirmwareCommit>(
            &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4], &bytes[5], &bytes[6], &bytes[7]);
        if (status == RET_OK || status == RET_TIMEOUT) commit->assign(bytes.begin(), bytes.begin() + 7);
        return status;
    }

    /// Six exchanges, one per debug word (request byte 0 = index 1..6). Stops at
    /// the first that fails and returns its status; later words stay untouched.
    ret_status_t getDebugErrorCode(unsigned long long* e1, unsigned long long* e2, unsigned long long* e3,
                                   unsigned long long* e4, unsigned long long* e5, unsigned long long* e6) {
        const ret_status_t status = this->guard();
        if (status != RET_OK) return status;
        unsigned long long* const words[protocol::motor::kDebugErrorWords] = {e1, e2, e3, e4, e5, e6};
        for (uint8_t index = 1; index <= protocol::motor::kDebugErrorWords; ++index) {
            const ret_status_t result = run<protocol::motor::shared_ops::getDebugErrorCode>(index, words[index - 1]);
            if (result != RET_OK) return result;
        }
        return RET_OK;
    }

private:
    template <uint8_t Command>
    ret_status_t secondOfPair(float* second) {
        float first = 0.0f;
        float value = 0.0f;
        const ret_status_t status = this->template query<Command>(&first, &value);
        if (status == RET_OK) *second = value;
        return status;
    }

    template <uint8_t Command>
    ret_status_t phaseCurrents(float* a, float* b, float* c) {
        const ret_status_t status = this->template query<Command>(b, c);
        if (status == RET_OK) *a = -(*b + *c);
        return status;
    }
};

}  // namespace kinetra
