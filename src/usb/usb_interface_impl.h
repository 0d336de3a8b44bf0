#pragma once
// The state behind USBInterface: the adapter's serial port, the receive path that
// turns lines into frames or adapter state, and the adapter queries that wait for
// the reply the receive thread decodes.

#include <kinetra/serial/serial.h>
#include <kinetra/usb_interface.h>

#include "interface/log_sink.h"
#include "interface/stop_signal.h"
#include "usb/slcan_codec.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct USBInterface::USBInterfaceImpl {
    /// `log` is the owning interface's sink, which outlives this object.
    USBInterfaceImpl(kinetra::LogSink& log, bool require_kinetra_description);

    /// Opens `port` at 115200 baud with 1 s read and write time-outs and, for the
    /// Zarvo, checks that the port's description names it. Returns 1 when open.
    /// Throws what opening throws, or NoCompatibleDeviceException (port closed again).
    unsigned char init(const std::string& port);
    /// Closes the port; never throws.
    void close();
    /// Makes init() set a generic adapter's channel up at `bit_rate`, and send()
    /// write remote frames in the short form.
    void useGenericSetup(CANBaudRate bit_rate);
    /// The bit rate a later generic set-up uses (after setCANBaudRate()).
    void rememberBitRate(CANBaudRate bit_rate) { generic_bit_rate_ = bit_rate; }
    /// Writes one frame line; false when the port is closed or the write failed.
    bool send(const can_frame_data& frame);
    /// The frames' lines, written together: one write per kBatchLines frames.
    bool sendBatch(const can_frame_data* frames, std::size_t count);
    static constexpr std::size_t kBatchLines = 64;
    /// Reads one line; true only when it was a frame, stored into `frame`.
    /// Reply lines update the adapter state. Returns within about one read
    /// time-out (1 s), at once when close() interrupts it, and an empty read is
    /// not followed by the next sooner than 100 ms after it began. Throws when
    /// the port failed or vanished (not when close() interrupted the read).
    bool receive(can_frame_data& frame);
    /// Writes one adapter command line; no reply is awaited.
    ret_interface_t command(const std::string& line);
    /// Writes a query line and waits about one second for a reply of kind
    /// `reply`; then runs `copy_out` under the reply lock, whose false result
    /// turns the answer into a failure. One query at a time.
    ret_interface_t query(const std::string& line, kinetra::slcan::LineKind reply,
                          const std::function<bool()>& copy_out);
    /// The description under which the port list shows `port`; empty when absent.
    std::string getDeviceDescription(std::string port);

    serial::Serial serial;
    /// Set by the receive thread whenever any adapter reply line arrives.
    std::atomic<bool> response_received{false};
    uint8_t firmware_major = 0;
    uint8_t firmware_minor = 0;
    uint8_t firmware_patch = 0;
    uint8_t hardware_major = 0;
    uint8_t hardware_minor = 0;
    uint8_t hardware_patch = 0;
    std::string firmware_tag;
    std::atomic<uint8_t> adapter_baud_code{0};

private:
    bool writeLine(const char* data, std::size_t length);
    void storeReply(const kinetra::slcan::DecodedLine& reply);
    void logRejectedLine(kinetra::slcan::LineKind kind);
    /// Index into replies_seen_ of a reply that a query waits for, or -1.
    static int awaitedIndex(kinetra::slcan::LineKind kind);
    /// Sleeps out what is left of the minimum pause after an empty read.
    void pace(std::chrono::steady_clock::time_point read_started);
    /// Reads one line into line_ with leading bells removed (`refused` tells that
    /// there were some). False when nothing arrived.
    bool readLine(bool& refused);

    kinetra::LogSink& log_;
    const bool require_kinetra_description_;
    bool generic_setup_ = false;
    std::atomic<CANBaudRate> generic_bit_rate_{CAN_BAUD_500K};
    kinetra::slcan::RemoteForm remote_form_ = kinetra::slcan::RemoteForm::WithDataDigits;

    // Queries from several threads would otherwise share one set of reply fields.
    std::mutex query_mutex_;
    // Guards the reply fields above and replies_seen_, and goes with reply_arrived_.
    std::mutex reply_mutex_;
    std::condition_variable reply_arrived_;
    // How many "V", "H" and "G" replies arrived: a query waits for its own kind to
    // advance, so a late reply to an earlier query cannot answer it.
    std::array<uint32_t, 3> replies_seen_{};

    // Receive thread only: the line buffer (reused, so no allocation per frame).
    std::string line_;
    // Requested by close(), reset by init(): ends the receive pause at once.
    kinetra::StopSignal closing_;
};
