#pragma once
/// @file socketcan_interface.h
/// A transport over a Linux SocketCAN network interface (can0, vcan0, an SLCAN
/// adapter attached with slcand): any CAN hardware that the kernel drives.

#include <kinetra/interface.h>
#include <kinetra/export.h>

#include <cstdint>
#include <memory>
#include <string>

/// The CAN controller's error state, as its error frames report it.
enum SocketCANBusState : int {
    SOCKETCAN_ERROR_ACTIVE = 0,   ///< normal operation
    SOCKETCAN_ERROR_WARNING = 1,  ///< an error counter passed the warning level (96)
    SOCKETCAN_ERROR_PASSIVE = 2,  ///< an error counter passed 127: the controller only listens for errors
    SOCKETCAN_BUS_OFF = 3         ///< the controller left the bus; sends fail until it recovers
};

/// The concrete Interface over a CAN_RAW socket bound to one network interface,
/// named in initInterface() ("can0", "vcan0").
///
/// Frames go to and come from the kernel as they are; the receive thread blocks in
/// the kernel and closeInterface() wakes it at once. The controller's error frames
/// are received, logged and kept as busState(); while the bus is off, and while
/// the interface is down, sends fail and device operations report RET_NOT_RUNNING;
/// they work again once the controller recovers or the interface is up again.
///
/// initInterface() returns false, with a log line, for a name that is empty, longer
/// than the kernel allows, not a network interface or not a CAN one; it never throws.
class KINETRA_API SocketCANInterface : public Interface {
public:
    SocketCANInterface();
    /// Closes the interface (stops the threads, closes the socket).
    ~SocketCANInterface() override;

    /// Writes one frame to the socket. When the interface's transmit queue is full
    /// it waits up to about 200 ms for room, then fails with a log line. False too
    /// while the interface is closed or down, or the controller is bus-off.
    unsigned char sendData(can_frame_data* frame) override;
    /// Sets the interface's bit rate through rtnetlink: the link is taken down,
    /// given the rate and brought up again. Needs CAP_NET_ADMIN; without it the
    /// call fails with a log line naming the command to run instead. An interface
    /// without a bit rate of its own (vcan, slcan) accepts every rate and is left
    /// as it is. RET_INTERFACE_FAIL also while closed or for an unknown rate.
    ret_interface_t setCANBaudRate(CANBaudRate rate) override;

    /// The controller's error state from its most recent error frames; error
    /// active while none has arrived.
    SocketCANBusState busState();
    /// The name of the bound interface ("can0"); empty while closed.
    std::string interfaceName();

    /// A SocketCAN interface has no adapter of its own to ask: always
    /// RET_INTERFACE_FAIL, with a log line, and the out-parameters untouched.
    ret_interface_t getFirmwareVersion(uint8_t* major, uint8_t* minor, uint8_t* patch, std::string* tag);
    /// As getFirmwareVersion(): there is no adapter; always RET_INTERFACE_FAIL.
    ret_interface_t getHardwareVersion(uint8_t* major, uint8_t* minor, uint8_t* patch);

    struct KINETRA_LOCAL SocketCANImpl;

private:
    unsigned char init(std::string port) override;
    void closeIface() override;
    unsigned char recvData(can_frame_data* frame) override;

    std::unique_ptr<SocketCANImpl> impl_;
};
