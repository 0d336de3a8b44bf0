#include <kinetra/usb_interface.h>

#include "interface/log_sink.h"

#include <exception>

SlcanInterface::SlcanInterface(CANBaudRate bit_rate) : USBInterface(bit_rate) {}

SlcanInterface::~SlcanInterface() {
    // Stop the threads while this object is still whole: they call the transport
    // through virtual functions, and the base destructor would be too late.
    try {
        closeInterface();
    } catch (const std::exception& error) {
        logSink().line("Receive or heartbeat thread ended with: ", error.what());
    }
}
