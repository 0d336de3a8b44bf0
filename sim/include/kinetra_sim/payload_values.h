#pragma once
/// @file payload_values.h
/// Typed values to and from a payload word, packed end to end from bit 0 the way
/// replies and configuration writes carry them. Not installed: it is built on
/// the library's internal protocol headers, for the simulator and the tests.

#include "devices/protocol/payload.h"
#include "devices/protocol/reply_layout.h"

#include <kinetra/can_frame.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace kinetra::sim {

/// The payload word holding `values` end to end from bit 0.
template <typename... T>
uint64_t packWord(const T&... values) {
    protocol::PayloadPacker packer;
    (packer.put(values), ...);
    return packer.word();
}

/// The values of types T... read end to end from bit 0 of `word`.
template <typename... T>
std::tuple<T...> unpackWord(uint64_t word) {
    unsigned offset = 0;
    // Braced initialisation evaluates left to right, so offsets advance in order.
    auto take = [&](auto tag) {
        using V = typename decltype(tag)::type;
        constexpr unsigned width = protocol::bitWidth(protocol::kindOf<V>());
        const uint64_t bits = offset < 64 ? word >> offset : 0;
        offset += width;
        const uint64_t mask = width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
        return protocol::fromBits<V>(bits & mask);
    };
    return std::tuple<T...>{take(std::common_type<T>{})...};
}

/// Payload bits a layout occupies, as a mask from bit 0.
inline uint64_t layoutMask(const protocol::ReplyLayout& layout) {
    const unsigned bits = layout.bits();
    return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

/// The eight bytes of a text value: its first eight characters, zero-padded.
inline std::array<uint8_t, 8> textBytes(std::string_view text) {
    std::array<uint8_t, 8> bytes{};
    std::memcpy(bytes.data(), text.data(), text.size() < 8 ? text.size() : 8);
    return bytes;
}

/// The layout of a reply tuple's element types.
template <typename... T>
constexpr protocol::ReplyLayout layoutOfTuple(const std::tuple<T...>*) {
    return protocol::layoutOf<T...>();
}

/// Writes the values of `values` into `frame`'s payload end to end from bit 0; a
/// text value fills the whole payload.
template <typename... T>
void packReply(can_frame_data& frame, const std::tuple<T...>& values) {
    if constexpr (sizeof...(T) == 1 && std::is_same_v<std::tuple_element_t<0, std::tuple<T...>>, std::string>) {
        const auto bytes = textBytes(std::get<0>(values));
        std::memcpy(frame.data, bytes.data(), bytes.size());
    } else {
        protocol::PayloadWriter writer(frame);
        std::apply([&](const auto&... value) { (writer.put(value), ...); }, values);
    }
}

}  // namespace kinetra::sim
