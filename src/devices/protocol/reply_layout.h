#pragma once
// Reply layouts: the typed values a reply frame carries, packed end to end from
// payload bit 0, each as wide as its type (a flag one bit, text the whole payload).
// The routing tables are written with these, so the proxies, the message handlers
// and the simulator read one definition of every reply.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace kinetra::protocol {

enum class ValueKind : uint8_t { U8, U16, I16, I32, U32, U64, F32, Bool, Text };

/// The kind of a C++ value type as it travels in a payload.
template <typename T>
constexpr ValueKind kindOf() {
    if constexpr (std::is_same_v<T, bool>) return ValueKind::Bool;
    else if constexpr (std::is_same_v<T, unsigned char>) return ValueKind::U8;
    else if constexpr (std::is_same_v<T, unsigned short>) return ValueKind::U16;
    else if constexpr (std::is_same_v<T, short>) return ValueKind::I16;
    else if constexpr (std::is_same_v<T, int>) return ValueKind::I32;
    else if constexpr (std::is_same_v<T, unsigned int>) return ValueKind::U32;
    else if constexpr (std::is_same_v<T, unsigned long long>) return ValueKind::U64;
    else if constexpr (std::is_same_v<T, float>) return ValueKind::F32;
    else if constexpr (std::is_same_v<T, std::string>) return ValueKind::Text;
    else static_assert(sizeof(T) == 0, "type has no payload encoding");
}

/// Bits a value of this kind occupies in a payload.
constexpr unsigned bitWidth(ValueKind kind) {
    switch (kind) {
        case ValueKind::Bool: return 1;
        case ValueKind::U8: return 8;
        case ValueKind::U16:
        case ValueKind::I16: return 16;
        case ValueKind::I32:
        case ValueKind::U32:
        case ValueKind::F32: return 32;
        case ValueKind::U64:
        case ValueKind::Text: return 64;
    }
    return 0;
}

/// The ordered value kinds of one reply.
struct ReplyLayout {
    uint8_t count = 0;
    std::array<ValueKind, 8> kinds{};

    /// Whether the first values of this layout have exactly the kinds of Ts:
    /// a getter may take fewer values than the reply carries, never others.
    template <typename... Ts>
    constexpr bool startsWith() const {
        constexpr std::array<ValueKind, sizeof...(Ts)> wanted{kindOf<Ts>()...};
        if (wanted.size() > count) return false;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            if (kinds[i] != wanted[i]) return false;
        }
        return true;
    }

    /// Payload bits the layout occupies.
    constexpr unsigned bits() const {
        unsigned total = 0;
        for (std::size_t i = 0; i < count; ++i) total += bitWidth(kinds[i]);
        return total;
    }
};

template <typename... Ts>
constexpr ReplyLayout layoutOf() {
    static_assert(sizeof...(Ts) <= 8, "a reply holds at most eight values");
    return ReplyLayout{static_cast<uint8_t>(sizeof...(Ts)), {kindOf<Ts>()...}};
}

/// One routing-table entry: a command identifier and the layout of its reply.
struct Route {
    uint8_t command;
    ReplyLayout reply;
};

/// A routing table indexed by the 7-bit command identifier.
class RouteTable {
public:
    template <std::size_t N>
    constexpr explicit RouteTable(const Route (&routes)[N]) {
        for (const Route& route : routes) {
            const uint8_t index = route.command & 0x7F;
            present_[index] = true;
            layouts_[index] = route.reply;
        }
    }
    /// The reply layout of `command`, or nullptr when the table has no entry.
    constexpr const ReplyLayout* find(uint8_t command) const {
        return command < 128 && present_[command] ? &layouts_[command] : nullptr;
    }

private:
    std::array<bool, 128> present_{};
    std::array<ReplyLayout, 128> layouts_{};
};

}  // namespace kinetra::protocol
