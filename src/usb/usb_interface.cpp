#include <kinetra/usb_interface.h>

#include "usb/usb_interface_impl.h"

#include <exception>

using kinetra::slcan::LineKind;

const char* NoCompatibleDeviceException::what() const noexcept {
    return "No Compatible Kinetra Device found at the interface";
}

bool isKinetraAdapterDescription(const std::string& description) {
    return description.find("Kinetra") != std::string::npos || description.find("Zarvo") != std::string::npos;
}

USBInterface::USBInterface() : USBInterface(true) {}

USBInterface::USBInterface(bool require_kinetra_description)
    : usb_impl_(new USBInterfaceImpl(logSink(), require_kinetra_description)) {}

USBInterface::USBInterface(CANBaudRate bit_rate) : usb_impl_(new USBInterfaceImpl(logSink(), false)) {
    usb_impl_->useGenericSetup(bit_rate);
}

USBInterface::~USBInterface() {
    try {
        closeInterface();
    } catch (const std::exception& error) {
        // A worker thread's exception resurfaces here; a destructor must not throw.
        logSink().line("Receive or heartbeat thread ended with: ", error.what());
    }
    delete usb_impl_;
}

unsigned char USBInterface::init(std::string port) {
    return usb_impl_ ? usb_impl_->init(port) : 0;
}

void USBInterface::closeIface() {
    if (usb_impl_) usb_impl_->close();
}

unsigned char USBInterface::sendData(can_frame_data* frame) {
    return usb_impl_ && frame && usb_impl_->send(*frame);
}

unsigned char USBInterface::sendDataBatch(can_frame_data* frames, std::size_t count) {
    return usb_impl_ && frames && usb_impl_->sendBatch(frames, count);
}

unsigned char USBInterface::recvData(can_frame_data* frame) {
    return usb_impl_ && frame && usb_impl_->receive(*frame);
}

ret_interface_t USBInterface::setCANBaudRate(CANBaudRate rate) {
    // A code character beyond "8" is no bit rate: the adapter would refuse it or,
    // worse, take it for something else.
    if (!usb_impl_ || !kinetra::slcan::isValidBitRate(rate)) return RET_INTERFACE_FAIL;
    const ret_interface_t result = usb_impl_->command(kinetra::slcan::setBitRateCommand(rate));
    if (result == RET_INTERFACE_OK) usb_impl_->rememberBitRate(rate);
    return result;
}

ret_interface_t USBInterface::getCANBaudRate(CANBaudRate* rate) {
    if (!usb_impl_ || !rate) return RET_INTERFACE_FAIL;
    USBInterfaceImpl& impl = *usb_impl_;
    return impl.query(kinetra::slcan::bitRateQuery(), LineKind::BitRate, [&] {
        const uint8_t code = impl.adapter_baud_code.load();
        if (code > CAN_BAUD_1M) {
            logSink().line("Adapter reported an unknown CAN bit rate code: ", int(code));
            return false;
        }
        *rate = static_cast<CANBaudRate>(code);
        return true;
    });
}

ret_interface_t USBInterface::getFirmwareVersion(uint8_t* major, uint8_t* minor, uint8_t* patch,
                                                 std::string* tag) {
    if (!usb_impl_ || !major || !minor || !patch || !tag) return RET_INTERFACE_FAIL;
    USBInterfaceImpl& impl = *usb_impl_;
    return impl.query(kinetra::slcan::firmwareVersionQuery(), LineKind::FirmwareVersion, [&] {
        if (tag != &impl.firmware_tag) *tag = impl.firmware_tag;
        *major = impl.firmware_major;
        *minor = impl.firmware_minor;
        *patch = impl.firmware_patch;
        return true;
    });
}

ret_interface_t USBInterface::getHardwareVersion(uint8_t* major, uint8_t* minor, uint8_t* patch) {
    if (!usb_impl_ || !major || !minor || !patch) return RET_INTERFACE_FAIL;
    USBInterfaceImpl& impl = *usb_impl_;
    return impl.query(kinetra::slcan::hardwareVersionQuery(), LineKind::HardwareVersion, [&] {
        *major = impl.hardware_major;
        *minor = impl.hardware_minor;
        *patch = impl.hardware_patch;
        return true;
    });
}

ret_interface_t USBInterface::enterDFUMode() {
    return usb_impl_ ? usb_impl_->command(kinetra::slcan::enterDfuCommand()) : RET_INTERFACE_FAIL;
}

ret_interface_t USBInterface::saveConfiguration() {
    return usb_impl_ ? usb_impl_->command(kinetra::slcan::saveConfigurationCommand()) : RET_INTERFACE_FAIL;
}

ret_interface_t USBInterface::eraseConfiguration() {
    return usb_impl_ ? usb_impl_->command(kinetra::slcan::eraseConfigurationCommand()) : RET_INTERFACE_FAIL;
}

ret_interface_t USBInterface::rebootZarvo() {
    return usb_impl_ ? usb_impl_->command(kinetra::slcan::rebootCommand()) : RET_INTERFACE_FAIL;
}
