// The simulated encoder's command set: what each command of the encoder's
// protocol does to the model, and the model's readings as its queries carry them.

#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/payload_values.h"

#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/payload.h"
#include "frame_arguments.h"
#include "devices/protocol/vorlex_protocol.h"

#include <iterator>
#include <tuple>

namespace kinetra::sim {
namespace {

namespace vorlex = protocol::vorlex;
using protocol::motor::kCanBitRates;

}  // namespace

void EncoderNode::installCommandSet() {
    onCommand(vorlex::kConfigureEncoder, [this](const can_frame_data& frame) {
        const auto [type, resolution] = argumentsOf<uint8_t, int32_t>(frame);
        model_.configure(type, resolution);
    });
    answer(vorlex::kGetEncoderConfiguration,
           [this] { return std::tuple{model_.settings().type, model_.settings().resolution}; });
    onCommand(vorlex::kSetCurrentPositionToZero, [this](const can_frame_data&) { model_.zeroHere(); });
    answer(vorlex::kGetZeroPosition, [this] { return model_.settings().zero_position; });
    onCommand(vorlex::kSetEncoderDirection,
              [this](const can_frame_data& frame) { model_.setDirection(std::get<0>(argumentsOf<uint8_t>(frame))); });
    answer(vorlex::kGetEncoderDirection, [this] { return model_.settings().direction; });
    onCommand(vorlex::kSetFilterWindowLength, [this](const can_frame_data& frame) {
        model_.setFilterWindow(std::get<0>(argumentsOf<uint32_t>(frame)));
    });
    answer(vorlex::kGetFilterWindowLength, [this] { return model_.settings().filter_window; });
    onCommand(vorlex::kSetScalingFactor, [this](const can_frame_data& frame) {
        model_.setScalingFactor(std::get<0>(argumentsOf<float>(frame)));
    });
    answer(vorlex::kGetScalingFactor, [this] { return model_.settings().scaling_factor; });
    onCommand(vorlex::kSetLinearCount, [this](const can_frame_data& frame) {
        model_.setLinearCount(std::get<0>(argumentsOf<uint32_t>(frame)));
    });

    onCommand(vorlex::kSetMAxxxSPIRegister, [this](const can_frame_data& frame) {
        const auto [address, value] = argumentsOf<uint8_t, uint8_t>(frame);
        model_.registers().write(address, value);
    });
    // The flag reports a completed SPI transfer, which the simulated link always is.
    answer(vorlex::kGetMAxxxSPIRegister, [this](const can_frame_data& request) {
        const uint8_t address = std::get<0>(argumentsOf<uint8_t>(request));
        return std::tuple{model_.registers().read(address), true};
    });

    answer(vorlex::kGetEncoderCount, [this] { return model_.count(); });
    answer(vorlex::kGetEncoderRawData, [this] { return model_.rawData(); });
    answer(vorlex::kGetAbsoluteAngle, [this] { return model_.absoluteAngle(); });
    answer(vorlex::kGetMultiturnAngle, [this] { return model_.multiturnAngle(); });
    answer(vorlex::kGetRawVelocity, [this] { return model_.rawVelocity(); });
    answer(vorlex::kGetScaledVelocity, [this] { return model_.scaledVelocity(); });
    answer(vorlex::kGetFilteredVelocity, [this] { return model_.filteredVelocity(); });
    answer(vorlex::kGetScaledFilteredVelocity, [this] { return model_.scaledFilteredVelocity(); });
    answer(vorlex::kGetRawAcceleration, [this] { return model_.rawAcceleration(); });
    answer(vorlex::kGetScaledAcceleration, [this] { return model_.scaledAcceleration(); });
    answer(vorlex::kGetFilteredAcceleration, [this] { return model_.filteredAcceleration(); });
    answer(vorlex::kGetScaledFilteredAcceleration, [this] { return model_.scaledFilteredAcceleration(); });

    // A new bit rate applies at once: the node is then heard only at that rate.
    // A rate outside the table is ignored.
    onCommand(vorlex::kSetCANBaudRate, [this](const can_frame_data& frame) {
        const uint32_t bits = std::get<0>(argumentsOf<uint32_t>(frame));
        for (std::size_t i = 0; i < std::size(kCanBitRates); ++i) {
            if (kCanBitRates[i] == bits) switchBitRate(static_cast<CANBaudRate>(i));
        }
    });
    answer(vorlex::kGetCANBaudRate, [this] { return kCanBitRates[static_cast<std::size_t>(bitRate())]; });
    answer(vorlex::kGetErrorCode, [this] { return model_.errorCode(); });
    onCommand(vorlex::kClearEncoderErrors, [this](const can_frame_data&) { model_.clearErrors(); });
}

void EncoderNode::setShaftRate(double degrees_per_second) {
    withModel([&](EncoderModel& model) { model.setShaftRate(degrees_per_second); });
}

void EncoderNode::onTick(std::chrono::nanoseconds elapsed) {
    model_.advance(std::chrono::duration<double>(elapsed).count());
}

void EncoderNode::onSave() { model_.save(); }
void EncoderNode::onErase() { model_.erase(); }
void EncoderNode::onReboot() { model_.reboot(); }

}  // namespace kinetra::sim
