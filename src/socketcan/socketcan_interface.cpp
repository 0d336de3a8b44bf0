#include <kinetra/socketcan_interface.h>

#include "socketcan/socketcan_impl.h"

#include <exception>

SocketCANInterface::SocketCANInterface() : impl_(std::make_unique<SocketCANImpl>(logSink())) {}

SocketCANInterface::~SocketCANInterface() {
    // Stop the threads while this object is still whole: they call the transport
    // through virtual functions, and the base destructor would be too late.
    try {
        closeInterface();
    } catch (const std::exception& error) {
        logSink().line("Receive or heartbeat thread ended with: ", error.what());
    }
}

unsigned char SocketCANInterface::init(std::string port) { return impl_->open(port); }

void SocketCANInterface::closeIface() { impl_->close(); }

unsigned char SocketCANInterface::sendData(can_frame_data* frame) { return frame != nullptr && impl_->send(*frame); }

unsigned char SocketCANInterface::recvData(can_frame_data* frame) {
    return frame != nullptr && impl_->receive(*frame);
}

ret_interface_t SocketCANInterface::setCANBaudRate(CANBaudRate rate) { return impl_->setBitRate(rate); }

SocketCANBusState SocketCANInterface::busState() { return impl_->busState(); }

std::string SocketCANInterface::interfaceName() { return impl_->name(); }

ret_interface_t SocketCANInterface::getFirmwareVersion(uint8_t*, uint8_t*, uint8_t*, std::string*) {
    logSink().line("SocketCAN: there is no adapter to ask for a firmware version");
    return RET_INTERFACE_FAIL;
}

ret_interface_t SocketCANInterface::getHardwareVersion(uint8_t*, uint8_t*, uint8_t*) {
    logSink().line("SocketCAN: there is no adapter to ask for a hardware version");
    return RET_INTERFACE_FAIL;
}
