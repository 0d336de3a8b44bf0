#pragma once
// Conversion between the library's frame record and the kernel's struct can_frame,
// and the decoding of the controller's error frames. Pure: no socket involved.

#include <kinetra/can_frame.h>
#include <kinetra/socketcan_interface.h>

#include <linux/can.h>

#include <string>

namespace kinetra::socketcan {

/// The kernel frame for `frame`: identifier cut to 29 bits (11 for a standard
/// frame), extended and remote flags kept, the error flag dropped (an application
/// cannot send an error frame), length clamped to 8. False when `frame` carries
/// the error flag, which no transport may put on the bus.
bool toKernelFrame(const can_frame_data& frame, can_frame& out);

/// The library frame for a received classic kernel frame: flags kept, length
/// clamped to 8 and bytes beyond it zeroed.
can_frame_data fromKernelFrame(const can_frame& frame);

/// What one error frame says: the controller's state after it, and a line for the log.
struct ErrorFrameReport {
    SocketCANBusState state;
    std::string text;
};

/// Decodes an error frame (CAN_ERR_FLAG set) received while the controller was in
/// `current`: bus-off, restart, warning, passive and back-to-active change the
/// state; arbitration, protocol, transceiver, acknowledgement and overflow reports
/// only add to the text, as do the error counters when the frame carries them.
ErrorFrameReport decodeErrorFrame(const can_frame& frame, SocketCANBusState current);

/// "error active", "error warning", "error passive", "bus-off".
const char* busStateName(SocketCANBusState state);

}  // namespace kinetra::socketcan
