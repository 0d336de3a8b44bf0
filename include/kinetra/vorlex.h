#pragma once
/// @file vorlex.h
/// Proxy of one Vorlex magnetic rotary encoder node.

#include <kinetra/can_device_type.h>
#include <kinetra/interface.h>
#include <kinetra/types.h>

#include <ostream>

/// Proxy of one Vorlex magnetic rotary encoder node.
///
/// Every operation is one CAN exchange on the caller's thread. Commands return
/// RET_OK once the frame is sent; queries wait up to 200 ms for the reply and
/// write their out-parameters only on RET_OK. Queries on one proxy must come from
/// one thread at a time, and never from an interface callback.
class Vorlex : public CANDeviceType {
public:
    /// Creates the proxy for node `node_id` on `iface`, which must outlive it,
    /// and registers it for the node's frames. Sends nothing.
    Vorlex(unsigned int node_id, Interface* iface);
    /// Unregisters the proxy; once this returns no frame reaches it.
    ~Vorlex() override;

    /// Handles one frame routed to this proxy; called by the receive thread.
    void canMsgCallback(can_frame_data* frame) override;

    /// Whether the node is present on the bus (sent a heartbeat within 1.001 s).
    bool isConnected();
    /// Sets this proxy's log sink; nullptr restores the discarding one.
    void setOutputLogStream(std::ostream* stream);

    /// Makes the device store its current configuration permanently.
    ret_status_t saveConfigurations();
    /// Makes the device erase its stored configuration.
    ret_status_t eraseConfigurations();

    /// Reads the node identifier the device reports.
    ret_status_t getNodeId(unsigned int* id);
    /// Reads the four hardware version numbers.
    ret_status_t getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d);
    /// Reads the firmware version.
    ret_status_t getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch);
    struct VorlexImpl;

private:
    VorlexImpl* impl_;
    Interface* iface_;
};
