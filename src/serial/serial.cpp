// serial::Serial: the public shell; all state and work live in SerialImpl.

#include <kinetra/serial/serial.h>

#ifdef _WIN32
#include "serial/serial_win.h"
#else
#include "serial/serial_unix.h"
#endif

#include <system_error>

namespace serial {

namespace {

Serial::SerialImpl* makeImpl(const std::string& port, uint32_t baudrate, const Timeout& timeout,
                             bytesize_t bytesize, parity_t parity, stopbits_t stopbits, flowcontrol_t flowcontrol) {
    try {
        return new Serial::SerialImpl(port, baudrate, timeout, bytesize, parity, stopbits, flowcontrol);
    } catch (const std::system_error& error) {
        // Only the wake-up descriptor or events can fail here (out of handles).
        throw IOException("src/serial/serial.cpp", __LINE__, "Error creating the serial port's wake-up event",
                          error.code().value());
    }
}

}  // namespace

Serial::Serial(const std::string& port, uint32_t baudrate, Timeout timeout, bytesize_t bytesize, parity_t parity,
               stopbits_t stopbits, flowcontrol_t flowcontrol)
    : pimpl_(makeImpl(port, baudrate, timeout, bytesize, parity, stopbits, flowcontrol)) {
    if (port.empty()) return;
    try {
        pimpl_->open();
    } catch (...) {
        // The destructor does not run for a constructor that throws.
        delete pimpl_;
        throw;
    }
}

Serial::~Serial() { delete pimpl_; }

void Serial::open() { pimpl_->open(); }

bool Serial::isOpen() const { return pimpl_->isOpen(); }

void Serial::close() { pimpl_->close(); }

void Serial::setPort(const std::string& port) { pimpl_->setPort(port); }

std::string Serial::getPort() const { return pimpl_->getPort(); }

void Serial::setBaudrate(uint32_t baudrate) {
    pimpl_->updateLineSettings([baudrate](kinetra::LineSettings& settings) { settings.baudrate = baudrate; });
}

uint32_t Serial::getBaudrate() const { return pimpl_->getBaudrate(); }

void Serial::setTimeout(const Timeout& timeout) { pimpl_->setTimeout(timeout); }

Timeout Serial::getTimeout() const { return pimpl_->getTimeout(); }

void Serial::setBytesize(bytesize_t bytesize) {
    pimpl_->updateLineSettings([bytesize](kinetra::LineSettings& settings) { settings.bytesize = bytesize; });
}

void Serial::setParity(parity_t parity) {
    pimpl_->updateLineSettings([parity](kinetra::LineSettings& settings) { settings.parity = parity; });
}

void Serial::setStopbits(stopbits_t stopbits) {
    pimpl_->updateLineSettings([stopbits](kinetra::LineSettings& settings) { settings.stopbits = stopbits; });
}

void Serial::setFlowcontrol(flowcontrol_t flowcontrol) {
    pimpl_->updateLineSettings([flowcontrol](kinetra::LineSettings& settings) { settings.flowcontrol = flowcontrol; });
}

size_t Serial::readline(std::string& buffer, size_t size, const std::string& eol) {
    return pimpl_->readline(buffer, size, eol);
}

size_t Serial::write(const uint8_t* data, size_t size) { return pimpl_->write(data, size); }

size_t Serial::write(const std::string& data) {
    return pimpl_->write(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

}  // namespace serial
