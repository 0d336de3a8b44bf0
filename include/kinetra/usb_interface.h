#pragma once
/// @file usb_interface.h
/// Transports over an SLCAN serial adapter: USBInterface for the Kinetra Zarvo
/// adapter, SlcanInterface for any SLCAN adapter or a simulator in another process.

#include <kinetra/interface.h>
#include <kinetra/export.h>

#include <cstdint>
#include <exception>
#include <string>

/// Thrown by initInterface() when the port's description names no Kinetra adapter.
class KINETRA_API NoCompatibleDeviceException : public std::exception {
public:
    /// "No Compatible Kinetra Device found at the interface"
    const char* what() const noexcept override;
};

/// Whether a serial port's description names the Kinetra adapter, the check
/// USBInterface makes before it accepts a port.
KINETRA_API bool isKinetraAdapterDescription(const std::string& description);

/// The concrete Interface for the Zarvo USB-to-CAN adapter: SLCAN lines over a
/// serial port at 115200 baud, plus the adapter's own queries and commands.
///
/// Adapter queries wait up to about one second for the reply, which the receive
/// thread decodes, so they work only while the interface is open.
class KINETRA_API USBInterface : public Interface {
public:
    USBInterface();
    /// Closes the interface (stops the threads, closes the port).
    ~USBInterface() override;

    /// Writes one frame as an SLCAN line. False when the port is closed or the
    /// write failed.
    unsigned char sendData(can_frame_data* frame) override;
    /// Writes the frames' lines with one serial write (one per 16 frames).
    unsigned char sendDataBatch(can_frame_data* frames, std::size_t count) override;
    /// Sets the adapter's CAN bit rate ("C", "S<code>", "O"). No reply is awaited.
    ret_interface_t setCANBaudRate(CANBaudRate rate) override;

    /// Asks the adapter for its CAN bit rate; `*rate` is written on success only.
    ret_interface_t getCANBaudRate(CANBaudRate* rate);
    /// Asks the adapter for its firmware version and eight-character tag.
    ret_interface_t getFirmwareVersion(uint8_t* major, uint8_t* minor, uint8_t* patch, std::string* tag);
    /// Asks the adapter for its hardware version.
    ret_interface_t getHardwareVersion(uint8_t* major, uint8_t* minor, uint8_t* patch);
    /// Sends the adapter into its own firmware-update mode.
    ret_interface_t enterDFUMode();
    /// Makes the adapter store its configuration.
    ret_interface_t saveConfiguration();
    /// Makes the adapter erase its stored configuration.
    ret_interface_t eraseConfiguration();
    /// Reboots the adapter.
    ret_interface_t rebootZarvo();

    struct KINETRA_LOCAL USBInterfaceImpl;

protected:
    /// For transports that share everything but the adapter check.
    explicit USBInterface(bool require_kinetra_description);
    /// For generic SLCAN adapters: no adapter check; at open the channel is set
    /// up ("C", "S<code>" with `bit_rate`, "O"), and remote frames are written in
    /// the short form.
    explicit USBInterface(CANBaudRate bit_rate);

private:
    unsigned char init(std::string port) override;
    void closeIface() override;
    unsigned char recvData(can_frame_data* frame) override;

    USBInterfaceImpl* usb_impl_;
};

/// A transport for any SLCAN adapter, or for a simulator running in another
/// process: opens a serial port by path without checking its description. Unlike
/// the Zarvo, a generic adapter starts with its channel closed and knows remote
/// frames only in the short form, so at open this transport closes the channel,
/// sets `bit_rate` and opens it again, and it writes remote frames as "R"/"r",
/// identifier and length without data digits. Otherwise it behaves exactly as
/// USBInterface.
class KINETRA_API SlcanInterface : public USBInterface {
public:
    /// `bit_rate` is the CAN bit rate set at every open; setCANBaudRate() changes
    /// it for the next open too. The default, 500 kbit/s, is the rate the Kinetra
    /// devices and kinetra-sim run at.
    explicit SlcanInterface(CANBaudRate bit_rate = CAN_BAUD_500K);
    ~SlcanInterface() override;
};
