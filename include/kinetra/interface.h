#pragma once
/// @file interface.h
/// The bus interface: transport slots, device registry, presence table and the
/// receive and master-heartbeat threads.

#include <kinetra/can_device_type.h>
#include <kinetra/can_frame.h>
#include <kinetra/types.h>
#include <kinetra/export.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
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
class KINETRA_API Interface {
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
    /// An interface that is already open is left as it is, working, and the call
    /// returns false: reopening would drop a live connection to running motors, so
    /// switching ports takes an explicit closeInterface() first.
    unsigned char initInterface(std::string port,
                                std::function<void(unsigned int, unsigned char)> newDeviceCallback = {},
                                std::function<void(unsigned int)> deviceLostCallback = {});

    /// Stops both threads, clears the presence table and closes the transport.
    /// Returns promptly even on a silent port: the transport is closed first, which
    /// wakes the receive thread from its read. Always returns true. Rethrows an
    /// exception that ended a worker thread.
    unsigned char closeInterface();

    /// Sends one frame under the send lock; records the result in isRunning().
    /// A null frame returns false and leaves isRunning() unchanged.
    unsigned char sendFrame(can_frame_data* frame);

    /// Sends `count` frames under one hold of the send lock, as one write where the
    /// transport can (sendDataBatch); records the result in isRunning(). Null
    /// frames or a count of 0 return false and leave isRunning() unchanged.
    unsigned char sendFrames(can_frame_data* frames, std::size_t count);

    /// Whether the most recent send succeeded (false before the first and after close).
    bool isRunning();
    /// Whether the transport is open: from a successful initInterface() until
    /// closeInterface(), even while sends fail or after the adapter was lost.
    bool isOpen();
    /// Whether the adapter vanished (its port failed or was unplugged) since the
    /// interface was opened. The interface then reads no more, isRunning() is false
    /// and every node has been reported lost; closeInterface() followed by
    /// initInterface() connects again once the adapter is back.
    bool isAdapterLost();
    /// Called once, on the receive thread, when the adapter is lost (after the
    /// lost callback of every node that was present). Empty clears it.
    void setAdapterLostCallback(std::function<void()> callback);
    /// Expires when this interface is destroyed. Proxies keep it to tell that the
    /// interface they were built with is gone; they then report RET_NOT_INITIALISED.
    std::weak_ptr<const void> lifetimeToken() const;

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
    /// Transport slot: puts several frames on the bus; non-zero = all sent. Called
    /// with the send lock held. This default sends them one by one with sendData.
    virtual unsigned char sendDataBatch(can_frame_data* frames, std::size_t count);
    /// Transport slot: changes the bus bit rate.
    virtual ret_interface_t setCANBaudRate(CANBaudRate rate) = 0;

    /// Set while a firmware update runs: the heartbeat thread pauses and every
    /// received frame is handed to every registered proxy.
    std::atomic<bool> flash_mode{false};

    struct KINETRA_LOCAL InterfaceImpl;

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
    /// Throws when the transport is gone for good (the adapter vanished): the
    /// interface then reports the adapter lost and stops reading.
    virtual unsigned char recvData(can_frame_data* frame) = 0;

    InterfaceImpl* impl_;
};
