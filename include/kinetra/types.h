#pragma once
/// @file types.h
/// Result codes and the bus bit-rate selector shared by the interface and the devices.

/// Result of every device operation.
enum ret_status_t {
    RET_OK = 0,               ///< done; a query's out-parameters hold the reply
    RET_NOT_INITIALISED = 1,  ///< the proxy has no implementation object
    RET_TIMEOUT = 2,          ///< no matching reply within the wait time
    RET_NOT_CONNECTED = 4,    ///< the node is not present on the bus
    RET_NOT_RUNNING = 5,      ///< the interface's last send failed, or it is closed
    RET_INVALID_ARGUMENT = 6  ///< an argument is out of range; nothing was sent
};

/// Result of an adapter operation.
enum ret_interface_t {
    RET_INTERFACE_FAIL = 0,
    RET_INTERFACE_OK = 1
};

/// CAN bus bit-rate selector. A device that reports a rate outside this table is
/// read as -1; the fixed underlying type makes that value well defined.
enum CANBaudRate : int {
    CAN_BAUD_10K = 0,
    CAN_BAUD_20K = 1,
    CAN_BAUD_50K = 2,
    CAN_BAUD_100K = 3,
    CAN_BAUD_125K = 4,
    CAN_BAUD_250K = 5,
    CAN_BAUD_500K = 6,
    CAN_BAUD_750K = 7,
    CAN_BAUD_1M = 8
};
