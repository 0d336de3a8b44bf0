#include "socketcan/kernel_frame.h"

#include <linux/can/error.h>

#include <algorithm>
#include <cstring>

namespace kinetra::socketcan {

namespace {

constexpr uint8_t kMaxClassicLength = CAN_MAX_DLEN;

uint32_t identifierBits(uint32_t can_id) {
    return (can_id & CAN_EFF_FLAG) ? (can_id & CAN_EFF_MASK) : (can_id & CAN_SFF_MASK);
}

void append(std::string& text, const char* part) {
    if (!text.empty()) text += ", ";
    text += part;
}

// The controller-problem byte: the most severe level it reports decides the state.
SocketCANBusState controllerState(uint8_t bits, SocketCANBusState current, std::string& text) {
    if (bits & CAN_ERR_CRTL_RX_OVERFLOW) append(text, "receive buffer overflow");
    if (bits & CAN_ERR_CRTL_TX_OVERFLOW) append(text, "transmit buffer overflow");
    if (bits & (CAN_ERR_CRTL_RX_PASSIVE | CAN_ERR_CRTL_TX_PASSIVE)) {
        append(text, "error passive");
        return SOCKETCAN_ERROR_PASSIVE;
    }
    if (bits & (CAN_ERR_CRTL_RX_WARNING | CAN_ERR_CRTL_TX_WARNING)) {
        append(text, "error warning");
        return SOCKETCAN_ERROR_WARNING;
    }
    if (bits & CAN_ERR_CRTL_ACTIVE) {
        append(text, "back to error active");
        return SOCKETCAN_ERROR_ACTIVE;
    }
    return current;
}

}  // namespace

bool toKernelFrame(const can_frame_data& frame, can_frame& out) {
    std::memset(&out, 0, sizeof out);
    if (frame.can_id & CAN_ERR_FLAG) return false;
    out.can_id = identifierBits(frame.can_id) | (frame.can_id & (CAN_EFF_FLAG | CAN_RTR_FLAG));
    out.len = std::min(frame.can_dlc, kMaxClassicLength);
    std::memcpy(out.data, frame.data, out.len);
    return true;
}

can_frame_data fromKernelFrame(const can_frame& frame) {
    can_frame_data out;
    out.can_id = frame.can_id;
    out.can_dlc = std::min(frame.len, kMaxClassicLength);
    std::memcpy(out.data, frame.data, out.can_dlc);
    return out;
}

ErrorFrameReport decodeErrorFrame(const can_frame& frame, SocketCANBusState current) {
    const uint32_t classes = frame.can_id & CAN_ERR_MASK;
    const uint8_t length = std::min(frame.len, kMaxClassicLength);
    // A short error frame carries no detail bytes: read them as zero.
    uint8_t data[CAN_MAX_DLEN] = {};
    std::memcpy(data, frame.data, length);

    ErrorFrameReport report{current, {}};
    if (classes & CAN_ERR_CRTL) report.state = controllerState(data[1], report.state, report.text);
    if (classes & CAN_ERR_RESTARTED) {
        append(report.text, "controller restarted");
        report.state = SOCKETCAN_ERROR_ACTIVE;
    }
    // Bus-off wins over anything else the same frame reports.
    if (classes & CAN_ERR_BUSOFF) {
        append(report.text, "bus-off");
        report.state = SOCKETCAN_BUS_OFF;
    }
    if (classes & CAN_ERR_TX_TIMEOUT) append(report.text, "transmit timeout");
    if (classes & CAN_ERR_LOSTARB) append(report.text, "lost arbitration");
    if (classes & CAN_ERR_PROT) append(report.text, "protocol violation");
    if (classes & CAN_ERR_TRX) append(report.text, "transceiver problem");
    if (classes & CAN_ERR_ACK) append(report.text, "no acknowledgement (is any other node on the bus?)");
    if (classes & CAN_ERR_BUSERROR) append(report.text, "bus error");
    if (report.text.empty()) append(report.text, "unspecified error");
    if (classes & CAN_ERR_CNT) {
        report.text += " (transmit errors " + std::to_string(data[6]) + ", receive errors " +
                       std::to_string(data[7]) + ")";
    }
    return report;
}

const char* busStateName(SocketCANBusState state) {
    switch (state) {
        case SOCKETCAN_ERROR_ACTIVE:
            return "error active";
        case SOCKETCAN_ERROR_WARNING:
            return "error warning";
        case SOCKETCAN_ERROR_PASSIVE:
            return "error passive";
        case SOCKETCAN_BUS_OFF:
            return "bus-off";
    }
    return "unknown";
}

}  // namespace kinetra::socketcan
