#pragma once
/// @file interface.h
/// The bus interface: transport slots, device registry, presence table and the
/// receive and master-heartbeat threads.

#include <kinetra/can_device_type.h>
#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include <atomic>
#include <functional>
#include <map>
#include <ostream>
#include <string>

namespace kinetra {
class LogSink;
}

/// The application's handle on one CAN bus. Abstract: a transport (USBInterface,
/// SlcanInterface) supplies the five transport operations.
///
/// Thread safety: every public operation may be called from any thread. Device
/// queries must not be issued from the callbacks given to initInterface(), which
/// run on the library's own threads.
class Interface {
public:
    Interface();
    /// Virtual so that a transport deleted through an Interface pointer runs its
    /// own destructor. Every transport calls closeInterface() in its destructor,
    /// while its transport operations are still callable.
    virtual ~Interface();
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;

    /// Opens the transport on `port` and starts the receive and heartbeat threads.
    /// `newDeviceCallback(node, type)` is called on the receive thread when a node's
    /// first heartbeat arrives; `deviceLostCallback(node)` on the heartbeat thread
    /// when a node has been silent for 1.001 s. Empty callbacks keep the stored ones.
    /// Returns true when the transport opened and both threads run. May throw what
    /// the transport's open throws (serial::IOException, NoCompatibleDeviceException).
    unsigned char initInterface(std::string port,
                                std::function<void(unsigned int, unsigned char)> newDeviceCallback = {},
                                std::function<void(unsigned int)> deviceLostCallback = {});

    /// Stops both threads, clears the presence table and closes the transport.
    /// Always returns true. Rethrows an exception that ended a worker thread.
    unsigned char closeInterface();

    /// Sends one frame under the send lock; records the result in isRunning().
    /// A null frame returns false and leaves isRunning() unchanged.
    unsigned char sendFrame(can_frame_data* frame);

    /// Whether the most recent send succeeded (false before the first and after close).
    bool isRunning();
    /// Whether setAsDevice() was called.
    bool isDevice();
    /// Whether `node` has sent a heartbeat within the last 1.001 s.
    bool isDeviceConnected(unsigned int node);
    /// A copy of the presence table: node id -> device type.
    std::map<unsigned int, unsigned char> getConnectedDevices();

    /// Switches to device mode and waits up to about 500 ms for a heartbeat;
    /// returns the sender's node id, or 0xFFFFFFFF if none arrived.
    unsigned int setAsDevice();

    /// Routes the frames of the proxy's node id to `device` (replacing an earlier
    /// proxy of the same id). Called by every proxy's constructor.
    void registerCANMsgCallback(CANDeviceType* device);
    /// Removes the entry for the proxy's node id. Once this returns, the receive
    /// thread no longer calls into any proxy of that id.
    void unregisterCANMsgCallback(CANDeviceType* device);

    /// Sees every frame the transport receives, on the receive thread, before the
    /// interface handles it: for bus monitors and trace recorders. The observer
    /// must be quick and must not call back into the interface; an empty function
    /// removes it. May be set while the interface runs.
    void setFrameObserver(std::function<void(const can_frame_data&)> observer);

    /// Sets the log sink of the interface and its threads; nullptr restores the
    /// discarding sink. The stream must outlive its use.
    void setOutputLogStream(std::ostream* stream);

    /// Transport slot: puts one frame on the bus. Non-zero = sent. Called with the
    /// send lock held.
    virtual unsigned char sendData(can_frame_data* frame) = 0;
    /// Transport slot: changes the bus bit rate.
    virtual ret_interface_t setCANBaudRate(CANBaudRate rate) = 0;

    /// Set while a firmware update runs: the heartbeat thread pauses and every
    /// received frame is handed to every registered proxy.
    std::atomic<bool> flash_mode{false};

    struct InterfaceImpl;

protected:
    /// The log sink shared by the interface, its threads and its transport; writes
    /// whole lines under one lock so that threads never interleave.
    kinetra::LogSink& logSink();

private:
    /// Transport slot: opens the transport on `port`. Exactly 1 means success.
    virtual unsigned char init(std::string port) = 0;
    /// Transport slot: releases the transport.
    virtual void closeIface() = 0;
    /// Transport slot: waits a bounded time for the next frame; non-zero = stored.
    virtual unsigned char recvData(can_frame_data* frame) = 0;

    InterfaceImpl* impl_;
};
