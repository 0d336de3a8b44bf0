#pragma once
/// @file can_device_type.h
/// The abstract base of every device proxy.

#include <kinetra/can_frame.h>
#include <kinetra/export.h>

/// Base of the device proxies: a node identifier and the frame handler the
/// interface's receive thread calls for the node's frames.
class KINETRA_API CANDeviceType {
public:
    CANDeviceType() = default;
    /// Virtual so that a proxy deleted through a base pointer runs its own
    /// destructor, which unregisters it from its interface.
    virtual ~CANDeviceType() = default;
    CANDeviceType(const CANDeviceType&) = delete;
    CANDeviceType& operator=(const CANDeviceType&) = delete;

    /// Handles one frame routed to this proxy; runs on the receive thread.
    virtual void canMsgCallback(can_frame_data* frame) = 0;

    /// The node identifier the proxy addresses; 0xFFFFFFFF before construction ends.
    unsigned int getId() const { return node_id_; }

protected:
    /// Set by the proxy's constructor; getId() reads it.
    unsigned int node_id_ = 0xFFFFFFFF;
};
