#pragma once
/// @file serial.h
/// A small serial port library: open a port exclusively, line settings, bounded
/// reads and writes, and the list of serial ports present.

#include <kinetra/export.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace serial {

/// Data bits per character.
enum bytesize_t { fivebits = 5, sixbits = 6, sevenbits = 7, eightbits = 8 };
/// Parity.
enum parity_t { parity_none = 0, parity_odd = 1, parity_even = 2, parity_mark = 3, parity_space = 4 };
/// Stop bits.
enum stopbits_t { stopbits_one = 1, stopbits_two = 2, stopbits_one_point_five = 3 };
/// Flow control.
enum flowcontrol_t { flowcontrol_none = 0, flowcontrol_software = 1, flowcontrol_hardware = 2 };

/// The five time-outs of a port, in milliseconds. A read of n bytes lasts at most
/// read_timeout_constant + read_timeout_multiplier * n; likewise a write.
///
/// readline() reads one byte at a time in effect, so it waits at most
/// read_timeout_constant + read_timeout_multiplier for each byte; once the line
/// has a byte, inter_byte_timeout (unless max()) caps that wait further. Read
/// time-outs of 0 mean "hand out what has already arrived, do not wait".
/// A write waits at most write_timeout_constant + write_timeout_multiplier * n for
/// room; with both 0 it writes what fits at once and returns that count.
struct Timeout {
    /// inter_byte_timeout value meaning "no inter-byte time-out".
    static constexpr uint32_t max() { return 0xFFFFFFFFu; }

    /// The five bounds in milliseconds, in the order of the members.
    Timeout(uint32_t inter_byte = 0, uint32_t read_constant = 0, uint32_t read_multiplier = 0,
            uint32_t write_constant = 0, uint32_t write_multiplier = 0)
        : inter_byte_timeout(inter_byte),
          read_timeout_constant(read_constant),
          read_timeout_multiplier(read_multiplier),
          write_timeout_constant(write_constant),
          write_timeout_multiplier(write_multiplier) {}

    uint32_t inter_byte_timeout;        ///< longest gap between two bytes of a read, ms
    uint32_t read_timeout_constant;     ///< fixed part of a read's bound, ms
    uint32_t read_timeout_multiplier;   ///< per requested byte, ms
    uint32_t write_timeout_constant;    ///< fixed part of a write's bound, ms
    uint32_t write_timeout_multiplier;  ///< per byte written, ms
};

/// One serial port present on the machine.
struct PortInfo {
    std::string port;         ///< the name to open, e.g. /dev/ttyACM0
    std::string description;  ///< a human-readable name of the device behind it
    std::string hardware_id;  ///< e.g. "USB VID:PID=0483:5740 SER=..."
};

/// A serial port. Reads and writes hold separate locks, so a thread blocked in
/// readline() never delays a writer; close() may be called from any thread and
/// makes a blocked readline() return promptly with what it had.
class KINETRA_API Serial {
public:
    /// Stores the settings and opens the port when `port` is not empty.
    explicit Serial(const std::string& port = "", uint32_t baudrate = 9600, Timeout timeout = Timeout(),
                    bytesize_t bytesize = eightbits, parity_t parity = parity_none,
                    stopbits_t stopbits = stopbits_one, flowcontrol_t flowcontrol = flowcontrol_none);
    /// Closes the port if it is open.
    virtual ~Serial();
    Serial(const Serial&) = delete;
    Serial& operator=(const Serial&) = delete;

    /// Opens the stored port exclusively and applies the settings.
    /// Throws std::invalid_argument ("Empty port is invalid."), SerialException
    /// ("Serial port already open.") or IOException: "Specified port, <name>, does
    /// not exist.", "Serial port <name> is in use by another program." (held by
    /// another Serial, in this process or another), "Unknown error opening the
    /// serial port: <errno>", or a failure to apply the settings.
    void open();
    /// Whether the port is open.
    bool isOpen() const;
    /// Closes the port; wakes a reader blocked in readline() (it returns what it
    /// had) and a writer waiting for room (it returns the count written). No
    /// effect when closed. Never reports an error: Linux releases the port even
    /// when closing it fails.
    void close();

    /// Sets the port name; reopens the port if it was open.
    void setPort(const std::string& port);
    /// The stored port name.
    std::string getPort() const;
    /// Sets the baud rate, standard or not; applied at once when open.
    void setBaudrate(uint32_t baudrate);
    /// The stored baud rate.
    uint32_t getBaudrate() const;
    /// Sets the time-outs; applied at once when open.
    void setTimeout(const Timeout& timeout);
    /// The stored time-outs.
    Timeout getTimeout() const;
    /// Sets the data bits; applied at once when open.
    /// Every line setting is all-or-nothing: a value the port refuses (or that is
    /// out of range: std::invalid_argument) leaves the previous one in force.
    void setBytesize(bytesize_t bytesize);
    /// Sets the parity; applied at once when open.
    void setParity(parity_t parity);
    /// Sets the stop bits; applied at once when open. One and a half stop bits
    /// are sent as two on Linux.
    void setStopbits(stopbits_t stopbits);
    /// Sets the flow control; applied at once when open.
    void setFlowcontrol(flowcontrol_t flowcontrol);

    /// Appends one line to `buffer`: up to and including `eol`, or `size` bytes, or
    /// what arrived before the read time-out (1000 ms with no byte, say). Returns
    /// the number of bytes appended; 0 on time-out or when close() interrupted it.
    /// Bytes that arrived after the line are kept for the next call. An empty
    /// `eol` means no terminator: the line ends at `size` bytes or the time-out.
    /// Throws PortNotOpenedException("Serial::read") on a closed port and
    /// IOException when the port failed or vanished (unplugged adapter, hung-up
    /// pseudo-terminal); complete lines received before that are still handed out.
    size_t readline(std::string& buffer, size_t size = 65536, const std::string& eol = "\n");
    /// Writes `size` bytes in one piece within the write time-out; returns the count.
    /// Throws PortNotOpenedException("Serial::write") on a closed port, IOException
    /// "Write timeout." when the bytes did not fit in time, and IOException when
    /// the port failed or vanished. Returns fewer bytes only when close() cut it short.
    size_t write(const uint8_t* data, size_t size);
    /// Writes a string; returns the count written.
    size_t write(const std::string& data);

    class KINETRA_LOCAL SerialImpl;

private:
    SerialImpl* pimpl_;
};

/// A failure of the port's state, e.g. "Serial port already open.".
class KINETRA_API SerialException : public std::exception {
public:
    /// `description` names the failed operation.
    explicit SerialException(const char* description);
    /// "SerialException <description> failed."
    const char* what() const noexcept override;

private:
    std::string what_;
};

/// A failure reported by the operating system.
class KINETRA_API IOException : public std::exception {
public:
    /// Description: the system's message for `errnum`, ": ", `errnum` in decimal.
    IOException(std::string file, int line, int errnum);
    /// A description without an error number.
    IOException(std::string file, int line, const char* description);
    /// A description used as given, with `errnum` kept for getErrorNumber().
    IOException(std::string file, int line, std::string description, int errnum);
    /// "IO Exception: <description>, file <file>, line <line>."
    const char* what() const noexcept override;
    /// The operating-system error number, 0 when there is none.
    int getErrorNumber() const { return errno_; }

private:
    std::string file_;
    int line_;
    int errno_ = 0;
    std::string what_;
};

/// An operation that needs an open port was called on a closed one.
class KINETRA_API PortNotOpenedException : public std::exception {
public:
    /// `description` names the operation that needed the open port.
    explicit PortNotOpenedException(const char* description);
    /// "PortNotOpenedException <description> failed."
    const char* what() const noexcept override;

private:
    std::string what_;
};

/// The serial ports present now, in a deterministic order, followed by the
/// virtual ports registered in this process. Parallel ports are never listed.
KINETRA_API std::vector<PortInfo> list_ports();

/// Makes a port that has no device in sysfs, such as a pseudo-terminal, appear in
/// list_ports() of this process with the given description and hardware id, so
/// that a simulator can stand in for an adapter. A second registration of the
/// same port replaces the first.
KINETRA_API void register_virtual_port(const PortInfo& info);
/// Removes a port registered with register_virtual_port(); unknown names are ignored.
KINETRA_API void unregister_virtual_port(const std::string& port);

}  // namespace serial
