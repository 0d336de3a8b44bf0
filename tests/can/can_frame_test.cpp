#include <kinetra/can_frame.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <sstream>

namespace {

can_frame_data frameWith(std::array<uint8_t, 8> bytes) {
    can_frame_data frame{};
    for (size_t i = 0; i < 8; ++i) frame.data[i] = bytes[i];
    return frame;
}

std::array<uint8_t, 8> bytesOf(const can_frame_data& frame) {
    std::array<uint8_t, 8> bytes{};
    for (size_t i = 0; i < 8; ++i) bytes[i] = frame.data[i];
    return bytes;
}

struct IdCase {
    can_node_id id;
    uint32_t expected;
};

can_node_id makeId(uint8_t ext, uint8_t rtr, uint8_t master, uint32_t node, uint8_t command, uint8_t type = 0) {
    can_node_id id;
    id.ext = ext;
    id.rtr = rtr;
    id.master = master;
    id.node_id = node;
    id.command_id = command;
    id.device_type = type;
    return id;
}

TEST(Identifier, PacksEveryFieldIntoItsBits) {
    const IdCase cases[] = {
        {makeId(1, 1, 0, 5, 0x46), 0xC00002C6},
        {makeId(1, 1, 1, 0, 1), 0xC2000001},  // the master heartbeat
        {makeId(1, 0, 0, 0x3FFFF, 0x7F), 0x81FFFFFF},
        {makeId(1, 0, 0, 3, 1, 7), 0x9C000181},
    };
    for (const auto& c : cases) EXPECT_EQ(setNodeIDForFrame(c.id), c.expected) << std::hex << c.expected;
}

TEST(Identifier, OversizedFieldsNeverSpillIntoNeighbours) {
    // A node id above 18 bits must not set the master flag or the device type.
    EXPECT_EQ(setNodeIDForFrame(makeId(1, 0, 0, 0xFFFFFFFF, 0xFF, 0xFF)), 0x9DFFFFFFu);
    EXPECT_EQ(setNodeIDForFrame(makeId(1, 0, 0, 0x40000, 0)), 0x80000000u);
}

TEST(Identifier, UnpacksTheParts) {
    can_frame_data frame{};
    frame.can_id = 0xC00002C6;
    EXPECT_EQ(getDeviceIdFromFrame(&frame), 5u);
    EXPECT_EQ(getCommandIdFromFrame(&frame), 0x46);
    EXPECT_EQ(getDeviceTypeFromFrame(&frame), 0u);
    EXPECT_TRUE(getExtFromFrame(&frame));
    EXPECT_TRUE(getRtrFromFrame(&frame));
    EXPECT_EQ(getExtendedIdFromFrame(&frame), 0x2C6u);

    frame.can_id = 0x9C000181;
    EXPECT_EQ(getDeviceTypeFromFrame(&frame), 7u);
    EXPECT_EQ(getDeviceIdFromFrame(&frame), 3u);
    EXPECT_FALSE(getRtrFromFrame(&frame));
}

TEST(Signal, ReadsFieldsInBothByteOrders) {
    const can_frame_data frame = frameWith({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0});
    EXPECT_EQ(canGetSignal<unsigned short>(frame, 0, 16, true), 0x3412);
    EXPECT_EQ(canGetSignal<unsigned short>(frame, 0, 16, false), 0x1234);
    EXPECT_EQ(canGetSignal<unsigned char>(frame, 4, 8, true), 0x41);
    EXPECT_EQ(canGetSignal<unsigned int>(frame, 16, 32, false), 0x56789ABCu);
    EXPECT_EQ(canGetSignal<unsigned long long>(frame, 0, 64, true), 0xF0DEBC9A78563412ull);
    EXPECT_EQ(canGetSignal<unsigned long long>(frame, 0, 0, true), 0ull);
    EXPECT_TRUE(canGetSignal<bool>(frame, 1, 1, true));
    EXPECT_FALSE(canGetSignal<bool>(frame, 0, 1, true));
}

TEST(Signal, SignedReadsOnlyGoNegativeAtFullWidth) {
    const can_frame_data frame = frameWith({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
    EXPECT_EQ(canGetSignal<short>(frame, 0, 12, true), 4095);
    EXPECT_EQ(canGetSignal<short>(frame, 0, 16, true), -1);
    EXPECT_EQ(canGetSignal<int>(frame, 0, 32, true), -1);
    EXPECT_EQ(canGetSignal<int>(frame, 0, 31, true), 0x7FFFFFFF);
}

TEST(Signal, FloatIsReinterpretedNotConverted) {
    EXPECT_FLOAT_EQ(canGetSignal<float>(frameWith({0, 0, 0x80, 0x3F, 0, 0, 0, 0}), 0, 32, true), 1.0f);
    can_frame_data frame{};
    canSetSignal<float>(frame, -2.5f, 32, 32, true);
    EXPECT_EQ(bytesOf(frame), (std::array<uint8_t, 8>{0, 0, 0, 0, 0x00, 0x00, 0x20, 0xC0}));
}

TEST(Signal, WritesOnlyTheFieldInWireOrder) {
    struct Case {
        bool little_endian;
        std::array<uint8_t, 8> expected;
    };
    const Case cases[] = {
        {true, {0x00, 0x34, 0x12, 0, 0, 0, 0, 0}},
        {false, {0x00, 0x12, 0x34, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        can_frame_data frame{};
        frame.can_id = 0x123;
        frame.can_dlc = 3;
        canSetSignal<unsigned short>(frame, 0x1234, 8, 16, c.little_endian);
        EXPECT_EQ(bytesOf(frame), c.expected);
        EXPECT_EQ(frame.can_id, 0x123u);
        EXPECT_EQ(frame.can_dlc, 3);
    }
    can_frame_data frame = frameWith({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    canSetSignal<bool>(frame, false, 9, 1, true);
    EXPECT_EQ(bytesOf(frame), (std::array<uint8_t, 8>{0xFF, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    // A value wider than its field is cut rather than spilling into the next one.
    can_frame_data cut{};
    canSetSignal<unsigned int>(cut, 0x1FFu, 0, 8, true);
    EXPECT_EQ(bytesOf(cut), (std::array<uint8_t, 8>{0xFF, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Signal, ScaledWritesTruncateTowardZeroAndWrap) {
    struct Case {
        float value;
        float factor;
        unsigned char length;
        uint16_t expected;
    };
    const Case cases[] = {
        {1.5f, 0.1f, 8, 15},
        {-2.7f, 1.0f, 8, 0xFE},
        {2.56f, 0.01f, 8, 0},      // 256 in single precision wraps to 0
        {300.0f, 1.0f, 8, 44},     // wraps
        {1.0f, 0.001f, 16, 999},   // 999.99994 truncated
        {-0.5f, 0.01f, 16, 0xFFCE},
        {std::nanf(""), 1.0f, 16, 0},
        {3e10f, 1.0f, 16, 0},       // beyond int32
        {-3e10f, 1.0f, 16, 0},
        {std::numeric_limits<float>::infinity(), 1.0f, 16, 0},
    };
    for (const auto& c : cases) {
        can_frame_data frame{};
        if (c.length == 8) {
            canSetSignal<unsigned char>(frame, c.value, 0, 8, true, c.factor, 0.0f);
        } else {
            canSetSignal<short>(frame, c.value, 0, 16, true, c.factor, 0.0f);
        }
        EXPECT_EQ(canGetSignal<unsigned short>(frame, 0, 16, true), c.expected) << c.value << " / " << c.factor;
    }
}

TEST(Utilities, VersionAndNullStream) {
    EXPECT_EQ(getLibraryVersion(), "0.1.10-beta");
    NullStream sink;
    for (int i = 0; i < 10000; ++i) sink << "discarded " << i << std::endl;
    EXPECT_TRUE(sink.good());
    _ns << std::string(100000, 'x') << std::flush;
    EXPECT_TRUE(_ns.good());
}

}  // namespace
